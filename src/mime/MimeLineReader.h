// Buffered line and block reading from a stream, for splitting multipart messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/Stream.h"

namespace vorlen {

class TMimeLineReader {
 public:
  explicit TMimeLineReader(TStream& source);

  // Appends to line the bytes up to and including the next LF, but at most maxLength bytes.
  // Returns false (line empty) only at the end of the stream.
  bool ReadLine(std::string& line, size_t maxLength);
  // Copies exactly count bytes to target; false when the stream ends first (what was there has
  // been copied).
  bool CopyTo(TStream& target, int64_t count);
  bool AtEnd();

 private:
  bool Fill();

  TStream& FSource;
  std::vector<char> FBuffer;
  size_t FStart = 0;
  size_t FEnd = 0;
};

}  // namespace vorlen
