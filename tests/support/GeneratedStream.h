// A read-only stream of a given size whose bytes are made on the fly, so tests can send
// bodies and files far larger than they could hold or write.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/Stream.h"

namespace vorlen::test {

class TGeneratedStream : public TStream {
 public:
  explicit TGeneratedStream(int64_t size) : FSize(size) {}

  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = std::max<int64_t>(0, std::min(count, FSize - FPosition));
    Fill(static_cast<char*>(buffer), FPosition, n);
    FPosition += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    FPosition = SeekTarget(offset, origin, FPosition);
    return FPosition;
  }
  int64_t Size() override { return FSize; }

 protected:
  // The n bytes at position; 'x' unless a test needs other content.
  virtual void Fill(char* bytes, int64_t /*position*/, int64_t n) {
    std::memset(bytes, 'x', static_cast<size_t>(n));
  }

  int64_t FSize;
  int64_t FPosition = 0;
};

}  // namespace vorlen::test
