#include "transport/WireHead.h"

namespace vorlen::test {

// libcurl: Host and User-Agent first, Content-Length last; Accept and Expect suppressed.
std::string WireHead(const std::string& target, const std::string& addedLines,
                     const std::string& agent, int port, int64_t contentLength) {
  return "POST " + target + " HTTP/1.1\r\n" + "Host: 127.0.0.1:" + std::to_string(port) + "\r\n" +
         "User-Agent: " + agent + "\r\n" + addedLines +
         "Content-Length: " + std::to_string(contentLength) + "\r\n" + "\r\n";
}

const std::string kEmptySOAPActionLine = "SOAPAction:\r\n";
const bool kClosedHandlesEndTheConnection = true;

const bool kProxySettingsFollowedExactly = true;

const bool kRedirectsReachTheTransport = true;
const std::string kReceiveTimedOutText = "The operation timed out";
const std::string kSendTimedOutText = "The operation timed out";
const bool kRequestTimeoutsReadBack = true;

}  // namespace vorlen::test
