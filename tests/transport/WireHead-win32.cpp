#include "transport/WireHead.h"

namespace vorlen::test {

// WinINet: the added lines first, then its own. Cache-Control and Connection are WinINet's for
// a POST that keeps its connection.
std::string WireHead(const std::string& target, const std::string& addedLines,
                     const std::string& agent, int port, int64_t contentLength) {
  return "POST " + target + " HTTP/1.1\r\n" + addedLines +
         "Host: 127.0.0.1:" + std::to_string(port) + "\r\n" +
         "Content-Length: " + std::to_string(contentLength) + "\r\n" + "User-Agent: " + agent +
         "\r\n" + "Cache-Control: no-cache\r\n" + "Connection: Keep-Alive\r\n" + "\r\n";
}

// WinINet writes a header line as name, colon, blank and value, also for an empty value.
const std::string kEmptySOAPActionLine = "SOAPAction: \r\n";
const bool kClosedHandlesEndTheConnection = false;
// Wine: no bypass list, and a pooled direct connection is reused for a proxied request.
const bool kProxySettingsFollowedExactly = false;
const bool kRedirectsReachTheTransport = false;
// Wine ends a call whose receive time ran out with 12030 (connection terminated) rather than
// 12002 (timed out), and fails the write after a send time-out with a code that has no text.
const std::string kReceiveTimedOutText = "The connection with the server has been terminated.";
const std::string kSendTimedOutText = "";
// Wine does not answer InternetQueryOptionW for a request's time-outs.
const bool kRequestTimeoutsReadBack = false;

}  // namespace vorlen::test
