// Owning wrappers for libcurl handles.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <vector>

namespace vorlen {

// curl_global_init once per process, before the first handle (it is not thread-safe itself).
// Raises ESOAPHTTPException when libcurl cannot be initialised.
void EnsureCurlGlobalInit();

struct TCurlEasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using TCurlEasy = std::unique_ptr<CURL, TCurlEasyDeleter>;

// A header list for CURLOPT_HTTPHEADER.
class TCurlHeaderList {
 public:
  TCurlHeaderList() = default;
  TCurlHeaderList(const TCurlHeaderList&) = delete;
  TCurlHeaderList& operator=(const TCurlHeaderList&) = delete;
  ~TCurlHeaderList() { curl_slist_free_all(FList); }

  // Raises std::bad_alloc when libcurl cannot take the line.
  void Append(const std::string& line);
  curl_slist* Get() const { return FList; }

 private:
  curl_slist* FList = nullptr;
};

}  // namespace vorlen
