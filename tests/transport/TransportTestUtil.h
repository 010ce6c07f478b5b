// Small helpers shared by the transport tests.
#pragma once

#include <string>

#include "runtime/Stream.h"
#include "support/Contract.h"

namespace vorlen::test {

// Replaces every "{PORT}" of an expectation written out in the test.
inline std::string WithPort(std::string text, int port) {
  const std::string key = "{PORT}";
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
    text.replace(at, key.size(), std::to_string(port));
  return text;
}

inline std::string Contents(TMemoryStream& stream) { return stream.ToString(); }

}  // namespace vorlen::test
