// The XML layer's failure: bytes that are not acceptable XML (malformed, or carrying a document
// type declaration); the message is the parser's reason.
#pragma once

#include "runtime/Exception.h"

namespace vorlen {

class EDOMParseError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace vorlen
