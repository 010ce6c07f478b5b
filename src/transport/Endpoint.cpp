#include "transport/Endpoint.h"

#include "runtime/Format.h"
#include "transport/SOAPHTTPException.h"

namespace vorlen {

namespace {

[[noreturn]] void RaiseInvalid(const std::string& url) {
  throw ESOAPHTTPException(
      Format("Invalid url '%s' - only supports 'http' and 'https' schemes", url.c_str()), 0);
}

}  // namespace

TEndpoint SplitEndpointURL(const std::string& url) {
  TEndpoint result;
  if (url.empty()) return result;
  TCrackedURL parts;
  if (!CrackURL(url, parts) || (parts.Scheme != usHttp && parts.Scheme != usHttps))
    RaiseInvalid(url);
  result.Scheme = parts.Scheme;
  result.Host = std::move(parts.Host);
  if (result.Host.size() >= 2 && result.Host.front() == '[' && result.Host.back() == ']')
    result.Host = result.Host.substr(1, result.Host.size() - 2);
  if (result.Host.empty()) RaiseInvalid(url);
  result.Port = parts.Port > 0 ? parts.Port : (result.Scheme == usHttps ? 443 : 80);
  result.Path = parts.Path.empty() ? std::string("/") : std::move(parts.Path);
  return result;
}

std::string EndpointRequestURL(const TEndpoint& endpoint) {
  const bool ipv6 = endpoint.Host.find(':') != std::string::npos;
  return Format("%s://%s%s%s:%d%s", endpoint.Scheme == usHttps ? "https" : "http", ipv6 ? "[" : "",
                endpoint.Host.c_str(), ipv6 ? "]" : "", endpoint.Port, endpoint.Path.c_str());
}

}  // namespace vorlen
