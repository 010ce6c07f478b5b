#include "transport/WinINetRequest.h"

#include "runtime/WindowsText.h"

namespace vorlen {

TWinInetRequest::~TWinInetRequest() { InternetCloseHandle(FHandle); }

bool TWinInetRequest::SetOption(DWORD option, DWORD value) {
  return InternetSetOptionW(FHandle, option, &value, sizeof value) != FALSE;
}

DWORD TWinInetRequest::Option(DWORD option) const {
  DWORD value = 0;
  DWORD length = sizeof value;
  if (!InternetQueryOptionW(FHandle, option, &value, &length)) return 0;
  return value;
}

void TWinInetRequest::SetTextOption(DWORD option, const std::string& value) {
  std::wstring wide = WideFromUtf8(value);
  InternetSetOptionW(FHandle, option, wide.data(), static_cast<DWORD>(wide.size()));
}

void TWinInetRequest::SetConnectTimeoutMs(int ms) {
  SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, static_cast<DWORD>(ms));
}
void TWinInetRequest::SetSendTimeoutMs(int ms) {
  SetOption(INTERNET_OPTION_SEND_TIMEOUT, static_cast<DWORD>(ms));
}
void TWinInetRequest::SetReceiveTimeoutMs(int ms) {
  SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, static_cast<DWORD>(ms));
}
int TWinInetRequest::ConnectTimeoutMs() const {
  return static_cast<int>(Option(INTERNET_OPTION_CONNECT_TIMEOUT));
}
int TWinInetRequest::SendTimeoutMs() const {
  return static_cast<int>(Option(INTERNET_OPTION_SEND_TIMEOUT));
}
int TWinInetRequest::ReceiveTimeoutMs() const {
  return static_cast<int>(Option(INTERNET_OPTION_RECEIVE_TIMEOUT));
}

uint32_t TWinInetRequest::SecurityFlags() const { return Option(INTERNET_OPTION_SECURITY_FLAGS); }
void TWinInetRequest::SetSecurityFlags(uint32_t flags) {
  SetOption(INTERNET_OPTION_SECURITY_FLAGS, flags);
}

void TWinInetRequest::SetCredentials(const std::string& userName, const std::string& password) {
  SetTextOption(INTERNET_OPTION_USERNAME, userName);
  SetTextOption(INTERNET_OPTION_PASSWORD, password);
}

void TWinInetRequest::SetProxyCredentials(const std::string& userName,
                                          const std::string& password) {
  SetTextOption(INTERNET_OPTION_PROXY_USERNAME, userName);
  SetTextOption(INTERNET_OPTION_PROXY_PASSWORD, password);
}

int TWinInetRequest::StatusCode() const {
  DWORD status = 0;
  DWORD length = sizeof status;
  DWORD index = 0;
  if (!HttpQueryInfoW(FHandle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                      &index))
    return 0;
  return static_cast<int>(status);
}

}  // namespace vorlen
