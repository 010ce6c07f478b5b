#include "proxy/SenderHooks.h"

namespace vorlen {

void HTTPRIOHTTPWebNode1BeforePost(THTTPReqResp&, THTTPRequest& Data) {
  Data.SetReceiveTimeoutMs(kSenderReceiveTimeoutMs);
}

std::shared_ptr<THTTPRIO> NewSenderRIO() {
  auto rio = std::make_shared<THTTPRIO>();
  rio->HTTPWebNode().OnBeforePost = &HTTPRIOHTTPWebNode1BeforePost;
  return rio;
}

}  // namespace vorlen
