// What the transport's HTTP client does on its own and the tests must expect: the request head
// a POST leaves on the wire (the transport's own header lines framed by what the client adds
// around them), and the few places where clients differ.
#pragma once

#include <cstdint>
#include <string>

namespace vorlen::test {

// target: the request target; addedLines: the transport's lines, each ending in CR LF; the
// server is 127.0.0.1:port.
std::string WireHead(const std::string& target, const std::string& addedLines,
                     const std::string& agent, int port, int64_t contentLength);

// The header line "SOAPAction:" without a value as the HTTP client writes it, CR LF included.
extern const std::string kEmptySOAPActionLine;

// Whether closing the transport's handles closes its TCP connection too. WinINet keeps idle
// connections of the whole process in a pool of its own and hands them to the next handles.
extern const bool kClosedHandlesEndTheConnection;

// Whether a proxy set between calls and the bypass list are followed as given. Wine's WinINet
// has no bypass list and hands a pooled direct connection to a proxied request for the same
// host, so there those legs would test Wine.
extern const bool kProxySettingsFollowedExactly;

// Whether a 3xx answer reaches the transport, or the client follows it first (WinINet does).
extern const bool kRedirectsReachTheTransport;

// The client's text for a call that ran out of its receive or send time.
extern const std::string kReceiveTimedOutText;
extern const std::string kSendTimedOutText;

// Whether a request's time-outs can be read back from it (Wine's WinINet answers 0).
extern const bool kRequestTimeoutsReadBack;

}  // namespace vorlen::test
