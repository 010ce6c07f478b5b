// One line per request: time, peer, session, operation, and the result or fault.
#pragma once

#include <functional>
#include <mutex>
#include <string>

namespace vorlen {

class TRequestLog {
 public:
  // sink receives each line without line end; unset means standard error.
  explicit TRequestLog(std::function<void(const std::string&)> sink = nullptr);

  void Write(const std::string& peer, const std::string& session, const std::string& operation,
             const std::string& outcome);

  // A field as written, so that a request can neither forge log lines nor hide text from the
  // reader: control, format and separator characters become \xHH or \uHHHH, bytes that are not
  // UTF-8 \xHH, a backslash \\; cut after about maxLength bytes with "...", "-" when empty.
  static std::string Field(const std::string& text, size_t maxLength = 200);

 private:
  std::mutex FLock;
  std::function<void(const std::string&)> FSink;
};

}  // namespace vorlen
