#include "archive/ZStreams.h"

#include <algorithm>
#include <limits>

#include "runtime/Format.h"

namespace vorlen {

namespace {
// zlib counts in 32-bit units; larger requests go in slices.
constexpr int64_t kMaxSlice = std::numeric_limits<uInt>::max() / 2;

[[noreturn]] void RaiseZlib(const z_stream& z, int code, const char* what) {
  throw EZlibError(Format("%s: %s", what, z.msg != nullptr ? z.msg : zError(code)));
}
}  // namespace

TZCompressionStream::TZCompressionStream(TStream& Dest, int Level)
    : FDest(Dest), FBuffer(static_cast<size_t>(kBlockSize)) {
  const int rc = deflateInit2(&FZ, Level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
  if (rc != Z_OK) RaiseZlib(FZ, rc, "Compression cannot start");
  FZ.next_out = FBuffer.data();
  FZ.avail_out = static_cast<uInt>(FBuffer.size());
}

TZCompressionStream::~TZCompressionStream() { deflateEnd(&FZ); }

int64_t TZCompressionStream::Read(void*, int64_t) {
  throw EStreamError("Invalid stream operation");
}

int64_t TZCompressionStream::Write(const void* buffer, int64_t count) {
  if (FFinished) throw EStreamError("Invalid stream operation");
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  int64_t left = count;
  while (left > 0) {
    const int64_t slice = std::min(left, kMaxSlice);
    FZ.next_in = const_cast<Bytef*>(bytes);
    FZ.avail_in = static_cast<uInt>(slice);
    while (FZ.avail_in > 0) Drain(Z_NO_FLUSH);
    bytes += slice;
    left -= slice;
  }
  return count;
}

// Runs deflate once; a full output block goes to Dest and is announced.
void TZCompressionStream::Drain(int flush) {
  const int rc = deflate(&FZ, flush);
  if (rc == Z_STREAM_ERROR) RaiseZlib(FZ, rc, "Compression failed");
  if (FZ.avail_out == 0) {
    FDest.WriteBuffer(FBuffer.data(), static_cast<int64_t>(FBuffer.size()));
    FZ.next_out = FBuffer.data();
    FZ.avail_out = static_cast<uInt>(FBuffer.size());
    if (flush == Z_NO_FLUSH && OnProgress) OnProgress(*this);
  }
}

void TZCompressionStream::Finish() {
  if (FFinished) return;
  FZ.next_in = nullptr;
  FZ.avail_in = 0;
  for (;;) {
    const int rc = deflate(&FZ, Z_FINISH);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
      RaiseZlib(FZ, rc, "Compression failed");
    const int64_t produced = static_cast<int64_t>(FBuffer.size()) - FZ.avail_out;
    if (produced > 0) FDest.WriteBuffer(FBuffer.data(), produced);
    FZ.next_out = FBuffer.data();
    FZ.avail_out = static_cast<uInt>(FBuffer.size());
    if (rc == Z_STREAM_END) break;
  }
  FFinished = true;
}

int64_t TZCompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (offset != 0 || origin == TSeekOrigin::skBeginning)
    throw EStreamError("Invalid stream operation");
  return static_cast<int64_t>(FZ.total_in);
}

TZDecompressionStream::TZDecompressionStream(TStream& Source) : FSource(Source), FInput(16384) {
  const int rc = inflateInit2(&FZ, 15);
  if (rc != Z_OK) RaiseZlib(FZ, rc, "Decompression cannot start");
}

TZDecompressionStream::~TZDecompressionStream() { inflateEnd(&FZ); }

int64_t TZDecompressionStream::Read(void* buffer, int64_t count) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count && !FEnded) {
    if (FZ.avail_in == 0) {
      const int64_t got = FSource.Read(FInput.data(), static_cast<int64_t>(FInput.size()));
      if (got <= 0) throw EZlibError("the compressed data ends early");
      FZ.next_in = FInput.data();
      FZ.avail_in = static_cast<uInt>(got);
    }
    const int64_t slice = std::min(count - done, kMaxSlice);
    FZ.next_out = bytes + done;
    FZ.avail_out = static_cast<uInt>(slice);
    const int rc = inflate(&FZ, Z_NO_FLUSH);
    done += slice - FZ.avail_out;
    if (rc == Z_STREAM_END) {
      FEnded = true;
    } else if (rc != Z_OK && !(rc == Z_BUF_ERROR && FZ.avail_in == 0)) {
      throw EZlibError(
          Format("the compressed data is damaged (%s)", FZ.msg != nullptr ? FZ.msg : zError(rc)));
    }
  }
  return done;
}

int64_t TZDecompressionStream::Write(const void*, int64_t) {
  throw EStreamError("Invalid stream operation");
}

int64_t TZDecompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (offset != 0 || origin == TSeekOrigin::skBeginning)
    throw EStreamError("Invalid stream operation");
  return static_cast<int64_t>(FZ.total_out);
}

}  // namespace vorlen
