// One HTTP request of the transport as the pre-post hook and the error-resolution handlers see
// it. Each HTTP client the transport runs on has its own kind (libcurl, WinINet).
#pragma once

#include <cstdint>
#include <string>

namespace vorlen {

// Security flag bits, as the error-resolution step and hooks know them.
constexpr uint32_t kSecurityIgnoreRevocation = 0x80;
constexpr uint32_t kSecurityIgnoreUnknownCA = 0x100;
constexpr uint32_t kSecurityIgnoreCertCNInvalid = 0x1000;
constexpr uint32_t kSecurityIgnoreCertDateInvalid = 0x2000;
constexpr uint32_t kSecurityIgnoreInvalidCerts = 0x3180;  // all four

class THTTPRequest {
 public:
  THTTPRequest() = default;
  THTTPRequest(const THTTPRequest&) = delete;
  THTTPRequest& operator=(const THTTPRequest&) = delete;
  virtual ~THTTPRequest() = default;

  // Time-outs in milliseconds; 0 or less means the client's own default. Connect: establishing
  // the connection. Send: no body byte leaves for that long. Receive: no response byte arrives
  // for that long once the body is out.
  virtual void SetConnectTimeoutMs(int ms) = 0;
  virtual void SetSendTimeoutMs(int ms) = 0;
  virtual void SetReceiveTimeoutMs(int ms) = 0;
  virtual int ConnectTimeoutMs() const = 0;
  virtual int SendTimeoutMs() const = 0;
  virtual int ReceiveTimeoutMs() const = 0;

  // kSecurity* bits.
  virtual uint32_t SecurityFlags() const = 0;
  virtual void SetSecurityFlags(uint32_t flags) = 0;

  // Credentials for the server (401) and for a proxy (407), used when the request is sent again.
  virtual void SetCredentials(const std::string& userName, const std::string& password) = 0;
  virtual void SetProxyCredentials(const std::string& userName, const std::string& password) = 0;

  // The status of the last response seen, 0 before one arrived.
  virtual int StatusCode() const = 0;
};

}  // namespace vorlen
