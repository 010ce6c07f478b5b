// One HTTP request of the transport on libcurl: the options a pre-post hook may change, the
// response's status line and headers, and the libcurl transfer that carries it.
#pragma once

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Stream.h"
#include "transport/CurlHandle.h"
#include "transport/HTTPRequest.h"
#include "transport/ResponseBody.h"
#include "transport/TlsPeerCheck.h"

namespace vorlen {

// 401 and 407: the server or the proxy asks for credentials.
inline bool IsAuthStatus(int status) { return status == 401 || status == 407; }

// Where the body of a request comes from.
struct TRequestBody {
  const char* Data = nullptr;  // a body sent in one piece, or nullptr
  TStream* Stream = nullptr;   // a body read in blocks from its position 0, when Data is nullptr
  int64_t Size = 0;
  int64_t BlockSize = 0;
  // Called after each block is handed over; may throw (the transfer ends with that exception).
  std::function<void(int64_t Sent, int64_t Total)> OnBlock;
};

class TCurlRequest final : public THTTPRequest {
 public:
  // handle is borrowed from the transport's open connection.
  TCurlRequest(CURL* handle, std::string url);

  // Time-outs in milliseconds; 0 or less means none. Connect: establishing the connection.
  // Send: no body byte leaves for that long. Receive: no response byte arrives for that long
  // once the body is out.
  void SetConnectTimeoutMs(int ms) override { FConnectTimeoutMs = ms; }
  void SetSendTimeoutMs(int ms) override { FSendTimeoutMs = ms; }
  void SetReceiveTimeoutMs(int ms) override { FReceiveTimeoutMs = ms; }
  int ConnectTimeoutMs() const override { return FConnectTimeoutMs; }
  int SendTimeoutMs() const override { return FSendTimeoutMs; }
  int ReceiveTimeoutMs() const override { return FReceiveTimeoutMs; }

  // kSecurity* bits. libcurl cannot ignore a certificate's date alone: an unknown CA or a
  // date problem turns peer verification off, a name problem turns host verification off.
  uint32_t SecurityFlags() const override { return FSecurityFlags; }
  void SetSecurityFlags(uint32_t flags) override { FSecurityFlags = flags; }

  // Credentials for the server (401) and for a proxy (407); Basic or Digest as offered.
  void SetCredentials(const std::string& userName, const std::string& password) override;
  void SetProxyCredentials(const std::string& userName, const std::string& password) override;
  const std::string& UserName() const { return FUserName; }

  const std::string& URL() const { return FURL; }
  CURL* Handle() const { return FHandle; }

  // The last response seen (0 / empty before one arrived).
  int StatusCode() const override { return FStatus; }
  const std::string& StatusText() const { return FStatusText; }
  const std::string& ContentType() const { return FContentType; }
  // Auth schemes offered by WWW-Authenticate / Proxy-Authenticate, space separated.
  const std::string& AuthSchemes() const { return FAuthSchemes; }

  // --- used by the transport ---
  void SetHeaders(TCurlHeaderList* headers) { FHeaders = headers; }
  // What the borrowed handle already carries (nullptr: unknown, every option is written).
  void SetHandleState(TCurlHandleState* state) { FHandleState = state; }
  // The certificate check of an https request (nullptr: none, as for http); unused while the
  // security flags ignore certificate problems.
  void SetPeerCheck(TTlsPeerCheck* check) { FPeerCheck = check; }
  bool PeerCheckUsed() const {
    return FPeerCheck != nullptr && (FSecurityFlags & kSecurityIgnoreInvalidCerts) == 0;
  }
  // Runs one transfer. Body bytes of a response that is not a status error go to response.
  // An exception thrown by a callback is kept and rethrown by RethrowPending.
  CURLcode Perform(const TRequestBody& body, TResponseBody& response);
  void RethrowPending();
  // The transfer was ended on purpose after the headers of a status error.
  bool StoppedAtHeaders() const { return FStoppedAtHeaders; }
  bool TimedOut() const { return FTimedOut; }
  // libcurl's message for the last failure.
  std::string ErrorText(CURLcode code) const;

 private:
  static size_t HeaderCallback(char* data, size_t size, size_t count, void* self);
  static size_t WriteCallback(char* data, size_t size, size_t count, void* self);
  static size_t ReadCallback(char* buffer, size_t size, size_t count, void* self);
  static int SeekCallback(void* self, curl_off_t offset, int origin);
  static int ProgressCallback(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                              curl_off_t ulNow);
  static int PrereqCallback(void* self, char* conn, char* local, int connPort, int localPort);

  // One response header line; false ends the transfer.
  bool HeaderLine(std::string_view header);
  void ApplyOptions(const TRequestBody& body);
  bool StatusIsError() const { return FStatus >= 300 && FStatus != 500; }
  void MarkActivity() { FLastActivity = std::chrono::steady_clock::now(); }

  CURL* FHandle;
  std::string FURL;
  TCurlHeaderList* FHeaders = nullptr;
  TCurlHandleState* FHandleState = nullptr;
  TTlsPeerCheck* FPeerCheck = nullptr;
  int FConnectTimeoutMs = 0;
  int FSendTimeoutMs = 0;
  int FReceiveTimeoutMs = 0;
  uint32_t FSecurityFlags = 0;
  std::string FUserName, FPassword, FProxyUserName, FProxyPassword;

  int FStatus = 0;
  std::string FStatusText;
  std::string FContentType;
  std::string FAuthSchemes;
  int64_t FContentLength = -1;  // of the response being read; -1 when it announces none

  // State of the running transfer.
  const TRequestBody* FBody = nullptr;
  TResponseBody* FResponse = nullptr;
  std::exception_ptr FPending;
  bool FStoppedAtHeaders = false;
  bool FTimedOut = false;
  bool FConnected = false;
  bool FResponseStarted = false;
  curl_off_t FLastUp = -1, FLastDown = -1;
  std::chrono::steady_clock::time_point FLastActivity;
  std::array<char, CURL_ERROR_SIZE + 1> FErrorBuffer{};  // libcurl's message of a failure
};

}  // namespace vorlen
