#include "mime/AggregatedStream.h"

#include <algorithm>

#include "runtime/Exception.h"

namespace vorlen {

TAggregatedStream::~TAggregatedStream() { Clear(); }

void TAggregatedStream::AddStream(TStream* stream, TStreamOwnership ownership) {
  if (stream == nullptr) return;
  std::unique_ptr<TStream> owned(ownership == TStreamOwnership::owOwned ? stream : nullptr);
  FStreams.push_back({stream, std::move(owned)});
}

void TAggregatedStream::AddStream(std::unique_ptr<TStream> stream) {
  if (!stream) return;
  TStream* member = stream.get();
  FStreams.push_back({member, std::move(stream)});
}

void TAggregatedStream::Clear() {
  FStreams.clear();
  FPosition = 0;
}

int64_t TAggregatedStream::Read(void* buffer, int64_t count) {
  if (FStreams.empty()) throw Exception("TAggregateStream Error: no internal streams");
  auto* bytes = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  int64_t start = 0;
  for (size_t i = 0; i < FStreams.size() && done < count; ++i) {
    TStream& stream = *FStreams[i].Stream;
    const int64_t size = stream.Size();
    const int64_t end = start + size;
    while (FPosition < end && done < count) {
      // Members are positioned here, not trusted: a referenced buffer may have been read or
      // moved by its owner since the last call.
      stream.SetPosition(FPosition - start);
      const int64_t n = stream.Read(bytes + done, std::min(count - done, end - FPosition));
      // A member that ends early (a file cut short meanwhile) would otherwise yield a body
      // shorter than the lengths announced in it.
      if (n <= 0) throw EStreamError("Stream read error");
      done += n;
      FPosition += n;
    }
    start = end;
  }
  return done;
}

int64_t TAggregatedStream::Write(const void*, int64_t) { throw Exception("method not supported"); }

void TAggregatedStream::SetSize(int64_t) { throw Exception("method not supported"); }

int64_t TAggregatedStream::Size() {
  int64_t size = 0;
  for (const TMember& member : FStreams) size += member.Stream->Size();
  return size;
}

int64_t TAggregatedStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = SeekTarget(offset, origin, FPosition);
  return FPosition;
}

}  // namespace vorlen
