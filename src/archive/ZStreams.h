// zlib-wrapped (RFC 1950) streams over a TStream: a compressing writer and an inflating reader.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "runtime/Exception.h"
#include "runtime/Stream.h"

namespace vorlen {

// zlib refused to initialise or met damaged data.
class EZlibError : public Exception {
 public:
  using Exception::Exception;
};

// Compresses everything written to it into Dest. Output is collected in 65,536-byte blocks;
// OnProgress follows each full block handed to Dest (never from Finish). Position() is the
// number of uncompressed bytes consumed so far.
class TZCompressionStream : public TStream {
 public:
  static constexpr int64_t kBlockSize = 65536;

  // Level is a zlib level (-1, 0..9); window 15 bits (zlib-wrapped), memory level 8.
  TZCompressionStream(TStream& Dest, int Level);
  // Discards an unfinished stream without writing to Dest.
  ~TZCompressionStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // Only reports the position; the stream cannot move.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

  // Ends the zlib stream and writes the rest of it to Dest. Writing afterwards is an error.
  void Finish();

  std::function<void(TZCompressionStream& Sender)> OnProgress;

 private:
  void Drain(int flush);

  TStream& FDest;
  z_stream FZ{};
  std::vector<uint8_t> FBuffer;
  bool FFinished = false;
};

// Inflates one zlib stream that starts at Source's position when the reader is made. Reads past
// the stream's end return 0; damaged or truncated data raises EZlibError, whose text ("the
// compressed data ends early", "the compressed data is damaged (...)") completes a sentence.
class TZDecompressionStream : public TStream {
 public:
  explicit TZDecompressionStream(TStream& Source);
  ~TZDecompressionStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // Only reports the position (uncompressed bytes produced so far).
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // Bytes taken from Source but not inflated: after the stream's end, those that follow it.
  int64_t PendingInput() const { return FZ.avail_in; }

 private:
  TStream& FSource;
  z_stream FZ{};
  std::vector<uint8_t> FInput;
  bool FEnded = false;
};

}  // namespace vorlen
