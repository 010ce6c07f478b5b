// The request head a POST leaves on the wire: the transport's own header lines framed by what
// the platform's HTTP client adds around them, which differs by client.
#pragma once

#include <cstdint>
#include <string>

namespace vorlen::test {

// target: the request target; addedLines: the transport's lines, each ending in CR LF; the
// server is 127.0.0.1:port.
std::string WireHead(const std::string& target, const std::string& addedLines,
                     const std::string& agent, int port, int64_t contentLength);

}  // namespace vorlen::test
