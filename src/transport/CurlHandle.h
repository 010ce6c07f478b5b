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

// The options a kept handle already carries. Writing some of them again is not free: libcurl
// copies every string and drops its upload buffer when CURLOPT_UPLOAD_BUFFERSIZE is written, so
// a handle that serves many requests gets each of them only when it changes.
// Belongs to one handle; a new handle starts from a new state.
struct TCurlHandleState {
  bool Initialised = false;  // the options that never change are in place
  std::string URL;
  std::string Agent;
  bool ProxyGiven = false;  // false: the system's proxy settings
  std::string Proxy;
  std::string ProxyByPass;    // as given, before it became libcurl's list
  long UploadBufferSize = 0;  // 0: not written yet
};

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
