// Where a response body goes while it is read, whatever HTTP library reads it: the caller's
// stream, up to a limit. Every answer of the service is a few kilobytes and an attachment in a
// response is bounded by the MIME splitter, so a longer body is a broken or hostile peer that
// must not make the client hold gigabytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "runtime/Stream.h"

namespace vorlen {

constexpr int64_t kMaxResponseBytes = int64_t{16} << 20;

// The transport's failure text, "%s - URL:%s - SOAPAction:%s".
std::string TransportFailureText(const std::string& text, const std::string& url,
                                 const std::string& action);

class TResponseBody {
 public:
  using TReceivingDataEvent = std::function<void(int64_t Read, int64_t Total)>;

  // url and action name the call in the failure text; onReceivingData may be empty.
  TResponseBody(TStream& target, std::string url, std::string action,
                const TReceivingDataEvent& onReceivingData, int64_t limit = kMaxResponseBytes);
  TResponseBody(const TResponseBody&) = delete;
  TResponseBody& operator=(const TResponseBody&) = delete;

  // The length the response announces: raises at once when it is over the limit.
  void Announce(int64_t length) const;
  // Appends bytes and reports them; raises ESOAPHTTPException (HTTPStatus 0) instead of taking
  // the body past the limit.
  void Append(const char* data, int64_t length);
  // Drops what this body appended (the request is sent again).
  void Restart();
  int64_t Received() const { return FReceived; }

 private:
  [[noreturn]] void RaiseTooLarge() const;

  TStream& FTarget;
  int64_t FStart;
  std::string FURL;
  std::string FAction;
  const TReceivingDataEvent& FOnReceivingData;
  int64_t FLimit;
  int64_t FReceived = 0;
};

}  // namespace vorlen
