// Transport and HTTP failures of a service call.
#pragma once

#include <string>

#include "runtime/Exception.h"

namespace vorlen {

// HTTPStatus is the response's status when the failure is an HTTP status, 0 for everything else
// (no connection, time-outs, rejected content type, bad URL).
class ESOAPHTTPException : public Exception {
 public:
  explicit ESOAPHTTPException(std::string message, int status = 0)
      : Exception(std::move(message)), HTTPStatus(status) {}

  int HTTPStatus;
};

}  // namespace vorlen
