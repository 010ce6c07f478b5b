#include "archive/StoredRange.h"

#include <algorithm>
#include <cinttypes>
#include <vector>

#include "archive/ArchiveIndex.h"
#include "archive/ZStreams.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"

namespace vorlen {

namespace {

// count bytes of file from offset, read-only; the inflater reads its input through it so that it
// never takes a byte beyond the range.
class TRangeStream : public TStream {
 public:
  TRangeStream(TStream& file, int64_t offset, int64_t count) : FFile(file), FLeft(count) {
    file.SetPosition(offset);
  }
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t got = FFile.Read(buffer, std::min(count, FLeft));
    FLeft -= got;
    return got;
  }
  int64_t Write(const void*, int64_t) override { throw EStreamError("Invalid stream operation"); }
  int64_t Seek(int64_t, TSeekOrigin) override { throw EStreamError("Invalid stream operation"); }
  int64_t Left() const { return FLeft; }

 private:
  TStream& FFile;
  int64_t FLeft;
};

}  // namespace

void CopyRange(TStream& file, int64_t offset, int64_t count, size_t chunk, const TByteSink& sink) {
  std::vector<uint8_t> buffer(
      static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(chunk))));
  file.SetPosition(offset);
  while (count > 0) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(chunk)));
    file.ReadBuffer(buffer.data(), static_cast<int64_t>(n));
    sink(buffer.data(), n);
    count -= static_cast<int64_t>(n);
  }
}

void InflateRange(TStream& file, int64_t offset, int64_t storedSize, int64_t expectedSize,
                  size_t chunk, const TByteSink& sink) {
  TRangeStream range(file, offset, storedSize);
  std::vector<uint8_t> output(
      static_cast<size_t>(std::min<int64_t>(expectedSize, static_cast<int64_t>(chunk))) + 1);
  int64_t produced = 0;
  try {
    TZDecompressionStream reader(range);
    while (produced < expectedSize) {
      const int64_t want = std::min<int64_t>(expectedSize - produced, static_cast<int64_t>(chunk));
      const int64_t got = reader.Read(output.data(), want);
      if (got == 0) break;
      produced += got;
      sink(output.data(), static_cast<size_t>(got));
    }
    // One byte of room beyond the expected size reveals a stream that is too long.
    if (produced == expectedSize && reader.Read(output.data(), 1) != 0)
      throw EArchiveError(
          Format("the compressed data inflates to more than %" PRId64 " bytes", expectedSize));
    if (produced != expectedSize)
      throw EArchiveError(Format("the compressed data inflates to %" PRId64 " bytes, not %" PRId64,
                                 produced, expectedSize));
    if (reader.PendingInput() != 0 || range.Left() != 0)
      throw EArchiveError("bytes follow the end of the compressed data");
  } catch (const EZlibError& error) {
    throw EArchiveError(error.what());
  }
}

}  // namespace vorlen
