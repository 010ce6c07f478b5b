#include "transport/CurlHandle.h"

#include <mutex>
#include <new>

#include "runtime/Format.h"
#include "transport/SOAPHTTPException.h"

namespace vorlen {

void EnsureCurlGlobalInit() {
  // Nothing may be thrown inside call_once's callable (it would unwind through pthread_once),
  // so the outcome is kept and a failure is raised afterwards, on every call.
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (result != CURLE_OK)
    throw ESOAPHTTPException(
        Format("The HTTP library could not be initialised: %s", curl_easy_strerror(result)), 0);
}

void TCurlHeaderList::Append(const std::string& line) {
  curl_slist* grown = curl_slist_append(FList, line.c_str());
  if (grown == nullptr) throw std::bad_alloc();
  FList = grown;
}

}  // namespace vorlen
