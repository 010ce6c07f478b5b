// A read-only stream that reads a list of streams one after the other, without copying them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/Stream.h"
#include "mime/SOAPAttachment.h"

namespace vorlen {

class TAggregatedStream : public TStream {
 public:
  TAggregatedStream() = default;
  ~TAggregatedStream() override;

  // Appends stream; owOwned deletes it with this stream (or on Clear). Each member is read
  // from its own start whatever its position was, so a referenced stream is sent whole.
  void AddStream(TStream* stream, TStreamOwnership ownership);
  void AddStream(std::unique_ptr<TStream> stream);
  // Drops every member (deleting the owned ones) and rewinds.
  void Clear();
  int Count() const { return static_cast<int>(FStreams.size()); }

  // Raises "TAggregateStream Error: no internal streams" when there are no members.
  int64_t Read(void* buffer, int64_t count) override;
  // Raises "method not supported".
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  // Raises "method not supported".
  void SetSize(int64_t size) override;

 private:
  struct TMember {
    TStream* Stream;                 // the member in use
    std::unique_ptr<TStream> Owned;  // the same stream when this one deletes it
  };
  std::vector<TMember> FStreams;
  int64_t FPosition = 0;
};

}  // namespace vorlen
