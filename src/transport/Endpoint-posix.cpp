// URLs split by libcurl's URL parser.
#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <new>

#include "transport/Endpoint.h"

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

}  // namespace

bool CrackURL(const std::string& url, TCrackedURL& parts) {
  std::unique_ptr<CURLU, TUrlDeleter> handle(curl_url());
  if (!handle) throw std::bad_alloc();
  // Unknown schemes are parsed too, so that every non-http scheme gets the same message.
  const unsigned flags = CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS;
  if (curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), flags) != CURLUE_OK) return false;

  const std::string scheme = Part(handle.get(), CURLUPART_SCHEME, 0);
  parts.Scheme = scheme == "http" ? usHttp : scheme == "https" ? usHttps : usNone;
  parts.Host = Part(handle.get(), CURLUPART_HOST, 0);
  parts.Port = std::atoi(Part(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT).c_str());
  parts.Path = Part(handle.get(), CURLUPART_PATH, 0);
  const std::string query = Part(handle.get(), CURLUPART_QUERY, 0);
  if (!query.empty()) parts.Path += "?" + query;
  return true;
}

}  // namespace vorlen
