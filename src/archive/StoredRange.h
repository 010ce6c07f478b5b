// Reading a stretch of an archive file as it is stored: raw bytes, or one zlib stream that must
// inflate to exactly the size its record gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vorlen {

class TStream;

using TByteSink = std::function<void(const uint8_t* bytes, size_t count)>;

// Hands the count bytes at offset of file to sink, at most chunk bytes a call.
void CopyRange(TStream& file, int64_t offset, int64_t count, size_t chunk, const TByteSink& sink);

// The storedSize bytes at offset must be exactly one zlib stream of exactly expectedSize bytes,
// handed to sink at most chunk bytes a call. Never hands over more than expectedSize bytes, so a
// stream that inflates beyond its claim cannot flood memory or disk. Raises EArchiveError with
// the reason; what sink raises passes through.
void InflateRange(TStream& file, int64_t offset, int64_t storedSize, int64_t expectedSize,
                  size_t chunk, const TByteSink& sink);

}  // namespace vorlen
