#include "runtime/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "runtime/Exception.h"

namespace vorlen {

int64_t TStream::Size() {
  const int64_t position = Position();
  const int64_t size = Seek(0, TSeekOrigin::skEnd);
  SetPosition(position);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

int64_t TStream::SeekTarget(int64_t offset, TSeekOrigin origin, int64_t current) {
  int64_t base = 0;
  if (origin == TSeekOrigin::skCurrent) base = current;
  if (origin == TSeekOrigin::skEnd) base = Size();
  const int64_t position = base + offset;
  if (position < 0) throw EStreamError("Invalid stream position");
  return position;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const int64_t n = Read(bytes, count);
    if (n <= 0) throw EStreamError("Stream read error");
    bytes += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const int64_t n = Write(bytes, count);
    if (n <= 0) throw EStreamError("Stream write error");
    bytes += n;
    count -= n;
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr int64_t kBlock = 61440;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(count, kBlock)));
  const int64_t total = count;
  while (count > 0) {
    const int64_t n = std::min(count, kBlock);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    count -= n;
  }
  return total;
}

// Copied as bytes in one go; a range of char into a vector of uint8_t is copied element-wise.
TMemoryStream::TMemoryStream(std::string_view bytes)
    : FData(reinterpret_cast<const uint8_t*>(bytes.data()),
            reinterpret_cast<const uint8_t*>(bytes.data()) + bytes.size()) {}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t available = std::max<int64_t>(0, Size() - FPosition);
  const int64_t n = std::min(count, available);
  if (n <= 0) return 0;
  std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t end = FPosition + count;
  if (end > Size()) FData.resize(static_cast<size_t>(end));
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = SeekTarget(offset, origin, FPosition);
  return FPosition;
}

void TMemoryStream::SetSize(int64_t size) {
  FData.resize(static_cast<size_t>(size));
  FPosition = std::min(FPosition, size);
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& path) {
  TFileStream file(path, TFileStream::fmOpenRead);
  Clear();
  SetSize(file.Size());
  file.ReadBuffer(FData.data(), Size());
}

void TMemoryStream::SaveToFile(const std::string& path) {
  TFileStream file(path, TFileStream::fmCreate);
  file.WriteBuffer(FData.data(), Size());
}

}  // namespace vorlen
