// URLs split by WinINet's InternetCrackUrlW, as the requests are made from its parts.
#include <windows.h>

#include <wininet.h>

#include "runtime/WindowsText.h"
#include "transport/Endpoint.h"

namespace vorlen {

bool CrackURL(const std::string& url, TCrackedURL& parts) {
  const std::wstring wide = WideFromUtf8(url);
  // Lengths of 1 ask for the parts as positions inside the text.
  URL_COMPONENTSW components{};
  components.dwStructSize = sizeof components;
  components.dwSchemeLength = 1;
  components.dwHostNameLength = 1;
  components.dwUrlPathLength = 1;
  if (!InternetCrackUrlW(wide.c_str(), 0, 0, &components)) return false;
  auto part = [](const wchar_t* at, DWORD length) {
    return at == nullptr ? std::string() : Utf8FromWide(std::wstring_view(at, length));
  };
  parts.Scheme = components.nScheme == INTERNET_SCHEME_HTTP    ? usHttp
                 : components.nScheme == INTERNET_SCHEME_HTTPS ? usHttps
                                                               : usNone;
  parts.Host = part(components.lpszHostName, components.dwHostNameLength);
  parts.Port = components.nPort;
  parts.Path = part(components.lpszUrlPath, components.dwUrlPathLength);
  return true;
}

}  // namespace vorlen
