// Exceptions that every subsystem shares: a message text, and the silent abort.
#pragma once

#include <exception>
#include <string>

namespace vorlen {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }

 private:
  std::string FMessage;
};

// Ends an operation without anything being shown to the operator.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

// Raised by streams: short reads or writes, and files that cannot be opened or created.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

}  // namespace vorlen
