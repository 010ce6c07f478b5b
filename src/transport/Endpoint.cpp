#include "transport/Endpoint.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

#include "runtime/Format.h"
#include "transport/SOAPHTTPException.h"

namespace vorlen {

namespace {

struct TUrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct TCurlStringDeleter {
  void operator()(char* text) const { curl_free(text); }
};
using TCurlString = std::unique_ptr<char, TCurlStringDeleter>;

// The part, or empty when the URL has none.
std::string Part(CURLU* url, CURLUPart what, unsigned flags) {
  char* raw = nullptr;
  if (curl_url_get(url, what, &raw, flags) != CURLUE_OK) return std::string();
  TCurlString owned(raw);
  return owned ? std::string(owned.get()) : std::string();
}

[[noreturn]] void RaiseInvalid(const std::string& url) {
  throw ESOAPHTTPException(
      Format("Invalid url '%s' - only supports 'http' and 'https' schemes", url.c_str()), 0);
}

}  // namespace

TEndpoint SplitEndpointURL(const std::string& url) {
  TEndpoint result;
  if (url.empty()) return result;

  std::unique_ptr<CURLU, TUrlDeleter> handle(curl_url());
  if (!handle) throw ESOAPHTTPException("Out of memory while parsing the URL", 0);
  // Unknown schemes are parsed too, so that every non-http scheme gets the same message.
  const unsigned flags = CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS;
  if (curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), flags) != CURLUE_OK)
    RaiseInvalid(url);

  const std::string scheme = Part(handle.get(), CURLUPART_SCHEME, 0);
  if (scheme == "http")
    result.Scheme = usHttp;
  else if (scheme == "https")
    result.Scheme = usHttps;
  else
    RaiseInvalid(url);

  result.Host = Part(handle.get(), CURLUPART_HOST, 0);
  if (result.Host.size() >= 2 && result.Host.front() == '[' && result.Host.back() == ']')
    result.Host = result.Host.substr(1, result.Host.size() - 2);
  if (result.Host.empty()) RaiseInvalid(url);

  const std::string port = Part(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
  result.Port = port.empty() ? (result.Scheme == usHttps ? 443 : 80) : std::atoi(port.c_str());

  std::string path = Part(handle.get(), CURLUPART_PATH, 0);
  const std::string query = Part(handle.get(), CURLUPART_QUERY, 0);
  if (path.empty()) path = "/";
  if (!query.empty()) path += "?" + query;
  result.Path = std::move(path);
  return result;
}

std::string EndpointRequestURL(const TEndpoint& endpoint) {
  const bool ipv6 = endpoint.Host.find(':') != std::string::npos;
  return Format("%s://%s%s%s:%d%s", endpoint.Scheme == usHttps ? "https" : "http",
                ipv6 ? "[" : "", endpoint.Host.c_str(), ipv6 ? "]" : "", endpoint.Port,
                endpoint.Path.c_str());
}

}  // namespace vorlen
