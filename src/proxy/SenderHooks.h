// What the sender's own transport adds to every call, for the window and vorlen-send alike.
#pragma once

#include <memory>

#include "proxy/HTTPRIO.h"
#include "transport/HTTPReqResp.h"
#include "transport/HTTPRequest.h"

namespace vorlen {

// The service merges and unpacks a big file before it answers MergeFile and UnZip.
constexpr int kSenderReceiveTimeoutMs = 600000;

// The pre-post hook: gives each request the long receive time-out above.
void HTTPRIOHTTPWebNode1BeforePost(THTTPReqResp& HTTPReqResp, THTTPRequest& Data);

// A new proxy whose transport has the hook installed and checks certificates (no
// soIgnoreInvalidCerts).
std::shared_ptr<THTTPRIO> NewSenderRIO();

}  // namespace vorlen
