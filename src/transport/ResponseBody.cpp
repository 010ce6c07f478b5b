#include "transport/ResponseBody.h"

#include <utility>

#include "runtime/Format.h"
#include "transport/SOAPHTTPException.h"

namespace vorlen {

std::string TransportFailureText(const std::string& text, const std::string& url,
                                 const std::string& action) {
  return Format("%s - URL:%s - SOAPAction:%s", text.c_str(), url.c_str(), action.c_str());
}

TResponseBody::TResponseBody(TStream& target, std::string url, std::string action,
                             const TReceivingDataEvent& onReceivingData, int64_t limit)
    : FTarget(target),
      FStart(target.Position()),
      FURL(std::move(url)),
      FAction(std::move(action)),
      FOnReceivingData(onReceivingData),
      FLimit(limit) {}

void TResponseBody::RaiseTooLarge() const {
  throw ESOAPHTTPException(TransportFailureText(Format("The response is longer than %lld bytes",
                                                       static_cast<long long>(FLimit)),
                                                FURL, FAction),
                           0);
}

void TResponseBody::Announce(int64_t length) const {
  if (length > FLimit) RaiseTooLarge();
}

void TResponseBody::Append(const char* data, int64_t length) {
  if (length > FLimit - FReceived) RaiseTooLarge();
  FTarget.WriteBuffer(data, length);
  FReceived += length;
  if (FOnReceivingData) FOnReceivingData(length, length);
}

void TResponseBody::Restart() {
  if (FTarget.Size() > FStart) FTarget.SetSize(FStart);
  FTarget.SetPosition(FStart);
  FReceived = 0;
}

}  // namespace vorlen
