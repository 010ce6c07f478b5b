// Splitting an endpoint URL into the parts that a request is built from.
#pragma once

#include <string>

namespace vorlen {

enum TURLScheme : int { usNone = 0, usHttp = 3, usHttps = 4 };

struct TEndpoint {
  int Scheme = usNone;
  std::string Host;  // without the brackets of an IPv6 literal
  int Port = 0;      // explicit, or 80 / 443 by scheme
  std::string Path;  // request target: path and query, "/" at least
};

// An empty text gives an empty endpoint. Raises ESOAPHTTPException
// "Invalid url '%s' - only supports 'http' and 'https' schemes" for anything that is not an
// http or https URL with a host.
TEndpoint SplitEndpointURL(const std::string& url);

// The parts of a URL as the platform's URL parser reports them (libcurl, InternetCrackUrlW);
// false when it cannot make a URL of the text.
struct TCrackedURL {
  int Scheme = usNone;  // usNone for any scheme other than http and https
  std::string Host;     // as written, an IPv6 literal with or without brackets
  int Port = 0;         // explicit, else the scheme's default
  std::string Path;     // path with the query, as written
};
bool CrackURL(const std::string& url, TCrackedURL& parts);

// "http://host:port/path" again, for the request itself.
std::string EndpointRequestURL(const TEndpoint& endpoint);

}  // namespace vorlen
