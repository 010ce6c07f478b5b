// The HTTP transport of the service proxy: one POST per call over a kept-alive connection, the
// response's status and content type checked, failures as ESOAPHTTPException. What the call
// sends and how its answer is judged is decided here and in HTTPReqResp.cpp; the HTTP client
// that carries it is the platform's: WinINet on Windows (HTTPReqResp-win32.cpp), libcurl
// elsewhere (HTTPReqResp-posix.cpp).
//
// Time-outs: ConnectTimeoutMs, SendTimeoutMs and ReceiveTimeoutMs apply when greater than 0
// (a pre-post hook may still change them on the request). Left at 0, libcurl waits 60 s for
// each: connect = establishing the TCP/TLS connection; send = no body byte leaves for 60 s;
// receive = no response byte arrives for 60 s once the body is out (watched from libcurl's
// progress callback, so up to about a second late). WinINet keeps its own defaults.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Stream.h"
#include "soap/InvokableClassRegistry.h"
#include "mime/MimeAttachmentHandler.h"
#include "transport/Endpoint.h"
#include "transport/HTTPRequest.h"
#include "transport/SOAPInvokeOptions.h"
#include "transport/ServerCertificate.h"
#include "transport/WSDLView.h"
#include "transport/IWebNode.h"

namespace vorlen {

constexpr int kDefaultConnectTimeoutMs = 60000;
constexpr int kDefaultSendTimeoutMs = 60000;
constexpr int kDefaultReceiveTimeoutMs = 60000;

// Codes of the error-resolution step.
constexpr uint32_t kErrorProceed = 0;
constexpr uint32_t kErrorCancelled = 1223;           // the operator cancelled: silent abort
constexpr uint32_t kErrorIncorrectPassword = 12014;  // the server or proxy asks for credentials
constexpr uint32_t kErrorForceRetry = 12032;         // send the request again
constexpr uint32_t kErrorInvalidCA = 12045;          // unknown certificate authority

// Times one request is sent again on a demand for credentials (or another send-again decision)
// before the answer stands: a dialog that keeps saying OK cannot loop for ever.
constexpr int kMaxCredentialRounds = 3;

enum class TBodyKind { bkPlain, bkMultipart };

class THTTPReqResp : public IWebNode {
 public:
  using TBeforePostEvent = std::function<void(THTTPReqResp& HTTPReqResp, THTTPRequest& Data)>;
  using TPostingDataEvent = std::function<void(int64_t Sent, int64_t Total)>;
  using TReceivingDataEvent = std::function<void(int64_t Read, int64_t Total)>;
  // Returns kErrorProceed, kErrorForceRetry or kErrorCancelled.
  using TWinInetErrorEvent = std::function<uint32_t(uint32_t LastError, THTTPRequest& Request)>;
  // Asked when a single post is answered 401 (server) or 407 (proxy), where the platform has no
  // credentials dialog of its own (libcurl; WinINet uses InternetErrorDlg). Fill in the
  // credentials and return true to send the request again with them; false cancels silently.
  using TCredentialsEvent =
      std::function<bool(THTTPReqResp& HTTPReqResp, THTTPRequest& Request, int Status,
                         std::string& UserName, std::string& Password)>;

  // Asked when an https server's certificate cannot be verified and is not TrustedCertificate;
  // nothing of the call has been sent. True trusts it: it becomes TrustedCertificate and the
  // call is made again. False or unassigned raises ECertificateUntrusted.
  using TUntrustedCertificateEvent =
      std::function<bool(THTTPReqResp& HTTPReqResp, const TServerCertificate& Certificate)>;

  THTTPReqResp();
  THTTPReqResp(const THTTPReqResp&) = delete;
  THTTPReqResp& operator=(const THTTPReqResp&) = delete;
  ~THTTPReqResp() override;

  // IWebNode.
  void PrepareCall(const TIntfMetaData& intf, int methIndex,
                   TMimeAttachmentHandler* handler) override;
  void Exchange(TStream& request, TStream& response) override;
  const std::string& MimeBoundary() const override { return FMimeBoundary; }
  void SetMimeBoundary(const std::string& boundary) override { FMimeBoundary = boundary; }

  // Endpoint. An empty text unbinds; a scheme other than http/https raises
  // "Invalid url '%s' - only supports 'http' and 'https' schemes". Closes the connection.
  void SetEndpointURL(const std::string& url);
  const std::string& URL() const { return FURL; }

  // SOAP action of the current call.
  void SetCurrentAction(const std::string& action) { FCurrentAction = action; }
  // The action, or `""` when it is empty and soNoValueForEmptySOAPAction is not set.
  std::string EffectiveAction() const;
  std::string SOAPActionHeaderLine() const;

  // The kept-alive connection: opened by the first request, closed by failures, a new
  // endpoint and destruction.
  void CloseConnection();

  // The steps of one exchange.
  std::unique_ptr<THTTPRequest> SendRequest(TStream& request, TStream& response);
  void ReceiveResponse(THTTPRequest& request, TStream& response, bool get);
  uint32_t ResolveTransportError(uint32_t code, THTTPRequest& request);
  // Raises "%s - URL:%s - SOAPAction:%s" (HTTPStatus 0) with the client's text for a failure.
  [[noreturn]] void RaiseTransportFailure(const std::string& text) const;
  // Raises "%s (%d) - '%s'" with HTTPStatus = status for a status of 300 or more other than 500.
  void CheckResponseStatus(int status, const std::string& statusText) const;
  // Raises for text/plain and text/html bodies.
  void CheckResponseContentType() const;

  // Settings.
  std::string Agent = "Vorlen Sender SOAP 1.2";
  std::string UserName;
  std::string Password;
  std::string Proxy;        // empty: the system's settings (Internet options; http_proxy, ...)
  std::string ProxyByPass;  // hosts separated by ';', ',' or blanks; "<local>" = loopback
  int ConnectTimeoutMs = 0;
  int SendTimeoutMs = 0;
  int ReceiveTimeoutMs = 0;
  bool UseUTF8InHeader = true;
  TSOAPInvokeOptions InvokeOptions = kDefaultInvokeOptions;
  std::string UDDIBindingKey;
  std::string UDDIOperator;
  int SinglePostLimit = 32768;
  std::shared_ptr<TWSDLView> WSDLView;
  // https: the SHA-256 fingerprint (NormalFingerprint form) of a certificate that the operator
  // trusted for this endpoint's host and port, accepted although it cannot be verified.
  // Certificates that verify against the system's roots need none.
  std::string TrustedCertificate;

  TBeforePostEvent OnBeforePost;
  TPostingDataEvent OnPostingData;
  TReceivingDataEvent OnReceivingData;
  TWinInetErrorEvent OnWinInetError;
  TCredentialsEvent OnCredentials;
  TUntrustedCertificateEvent OnUntrustedCertificate;
  // The window that owns the platform's credentials dialog (a HWND on Windows); 0: the desktop.
  uintptr_t DialogOwner = 0;
  // True once the caller is going away: a demand for credentials is then cancelled without a
  // question, and one that was being asked when it began is not sent again (a silent end).
  std::function<bool()> Stopping;

  // The transport's published interface has them; nothing here reads or calls them.
  void Exchange(const std::string& request, TStream& response) override;
  std::unique_ptr<TStream> Exchange(TStream& request) override;
  void SetURL(const std::string& url) { SetEndpointURL(url); }
  bool URLGiven() const { return FURLGiven; }
  int URLScheme() const { return FEndpoint.Scheme; }
  const std::string& URLHost() const { return FEndpoint.Host; }
  int URLPort() const { return FEndpoint.Port; }
  const std::string& URLPath() const { return FEndpoint.Path; }
  const std::string& CurrentAction() const { return FCurrentAction; }
  TBodyKind BodyKind() const { return FBodyKind; }
  bool ConnectionOpen() const;
  const std::string& ResponseContentType() const { return FResponseContentType; }

 private:
  // The HTTP client's state kept between calls; each backend defines its own.
  struct TBackend;

  void OpenConnection();
  // The error-resolution step when no OnWinInetError handler decides: the platform's dialog,
  // or OnCredentials where there is none.
  uint32_t ResolveWithoutHandler(uint32_t code, THTTPRequest& request);
  // The request's header lines in the order they go out, without CR LF.
  std::vector<std::string> RequestHeaderLines() const;
  // The Content-Type line of a SOAP message, for the request and for a multipart root part.
  const char* XmlContentTypeLine() const;
  // A body sent with one send call: size bytes of request from its position, in one buffer.
  static std::vector<char> SinglePostBody(TStream& request, int64_t size);
  // Records the response's content type and the boundary it carries.
  void SetResponseContentType(const std::string& contentType);
  // The registry's access point for UDDIBindingKey, empty when it gives none.
  std::string LookUpAccessPoint();

  std::unique_ptr<TBackend> FBackend;
  bool FURLGiven = false;
  std::string FURL;
  TEndpoint FEndpoint;
  TBodyKind FBodyKind = TBodyKind::bkPlain;
  std::string FMimeBoundary;
  std::string FResponseContentType;
  std::string FCurrentAction;
  // Set by the Windows backend while the request's certificate is the trusted one.
  bool FCertificateTrusted = false;
};

}  // namespace vorlen
