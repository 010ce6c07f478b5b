#include "proxy/SenderHooks.h"

namespace vorlen {

void HTTPRIOHTTPWebNode1BeforePost(THTTPReqResp&, THTTPRequest& Data) {
  Data.SetReceiveTimeoutMs(kSenderReceiveTimeoutMs);
}

std::shared_ptr<THTTPRIO> NewSenderRIO() {
  auto rio = std::make_shared<THTTPRIO>();
  rio->HTTPWebNode().OnBeforePost = &HTTPRIOHTTPWebNode1BeforePost;
  // https is checked: a certificate that cannot be verified passes only when trusted.
  rio->HTTPWebNode().InvokeOptions.Exclude(TSOAPInvokeOption::soIgnoreInvalidCerts);
  return rio;
}

}  // namespace vorlen
