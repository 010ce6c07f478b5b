// One request of the transport on WinINet: the request handle, closed with the object. The
// timeouts and security flags live on the handle itself, where a hook may change them.
#pragma once

#include <windows.h>

#include <wininet.h>

#include "transport/HTTPRequest.h"

namespace vorlen {

class TWinInetRequest final : public THTTPRequest {
 public:
  // Takes over handle.
  explicit TWinInetRequest(HINTERNET handle) : FHandle(handle) {}
  ~TWinInetRequest() override;

  HINTERNET Handle() const { return FHandle; }

  // The setters' results are not checked: a hook's option that does not take changes nothing.
  void SetConnectTimeoutMs(int ms) override;
  void SetSendTimeoutMs(int ms) override;
  void SetReceiveTimeoutMs(int ms) override;
  int ConnectTimeoutMs() const override;
  int SendTimeoutMs() const override;
  int ReceiveTimeoutMs() const override;

  uint32_t SecurityFlags() const override;
  void SetSecurityFlags(uint32_t flags) override;

  void SetCredentials(const std::string& userName, const std::string& password) override;
  void SetProxyCredentials(const std::string& userName, const std::string& password) override;

  int StatusCode() const override;

  // A 4-byte option of the request; false when WinINet refused it (GetLastError tells why).
  bool SetOption(DWORD option, DWORD value);
  DWORD Option(DWORD option) const;

 private:
  void SetTextOption(DWORD option, const std::string& value);

  HINTERNET FHandle;
};

}  // namespace vorlen
