#include "mime/MimeLineReader.h"

#include <algorithm>
#include <cstring>

namespace vorlen {

namespace {
constexpr size_t kBufferSize = 65536;
}  // namespace

TMimeLineReader::TMimeLineReader(TStream& source) : FSource(source), FBuffer(kBufferSize) {}

bool TMimeLineReader::Fill() {
  if (FStart < FEnd) return true;
  FStart = 0;
  FEnd = 0;
  const int64_t n = FSource.Read(FBuffer.data(), static_cast<int64_t>(FBuffer.size()));
  if (n <= 0) return false;
  FEnd = static_cast<size_t>(n);
  return true;
}

bool TMimeLineReader::AtEnd() { return !Fill(); }

bool TMimeLineReader::ReadLine(std::string& line, size_t maxLength) {
  line.clear();
  while (line.size() < maxLength && Fill()) {
    const size_t wanted = std::min(FEnd - FStart, maxLength - line.size());
    const char* begin = FBuffer.data() + FStart;
    const void* lf = std::memchr(begin, '\n', wanted);
    const size_t n =
        lf != nullptr ? static_cast<size_t>(static_cast<const char*>(lf) - begin) + 1 : wanted;
    line.append(begin, n);
    FStart += n;
    if (lf != nullptr) break;
  }
  return !line.empty();
}

bool TMimeLineReader::CopyTo(TStream& target, int64_t count) {
  while (count > 0) {
    if (!Fill()) return false;
    const size_t n =
        static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(FEnd - FStart)));
    target.WriteBuffer(FBuffer.data() + FStart, static_cast<int64_t>(n));
    FStart += n;
    count -= static_cast<int64_t>(n);
  }
  return true;
}

}  // namespace vorlen
