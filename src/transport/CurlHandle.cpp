#include "transport/CurlHandle.h"

#include <mutex>
#include <new>

namespace vorlen {

void EnsureCurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw std::bad_alloc();
  });
}

void TCurlHeaderList::Append(const std::string& line) {
  curl_slist* grown = curl_slist_append(FList, line.c_str());
  if (grown == nullptr) throw std::bad_alloc();
  FList = grown;
}

}  // namespace vorlen
