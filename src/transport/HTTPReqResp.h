// The HTTP transport of the service proxy, on libcurl: one POST per call over a kept-alive
// connection, the response's status and content type checked, failures as ESOAPHTTPException.
//
// Time-outs: ConnectTimeoutMs, SendTimeoutMs and ReceiveTimeoutMs apply when greater than 0
// (a pre-post hook may still change them on the request). Left at 0 they default to 60 s each:
// connect = establishing the TCP/TLS connection; send = no body byte leaves for 60 s;
// receive = no response byte arrives for 60 s once the body is out. Send and receive are
// watched from libcurl's progress callback, which runs at least once a second while a transfer
// is idle, so they end a call up to about a second after they ran out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/Stream.h"
#include "soap/InvRegistry.h"
#include "soap/MimeAttachmentHandler.h"
#include "transport/CurlHandle.h"
#include "transport/Endpoint.h"
#include "transport/HTTPRequest.h"
#include "transport/InvokeOptions.h"
#include "transport/WSDLView.h"
#include "transport/WebNode.h"

namespace vorlen {

constexpr int kDefaultConnectTimeoutMs = 60000;
constexpr int kDefaultSendTimeoutMs = 60000;
constexpr int kDefaultReceiveTimeoutMs = 60000;

// Codes of the error-resolution step.
constexpr uint32_t kErrorProceed = 0;
constexpr uint32_t kErrorCancelled = 1223;              // the operator cancelled: silent abort
constexpr uint32_t kErrorIncorrectPassword = 12014;     // the server or proxy asks for credentials
constexpr uint32_t kErrorForceRetry = 12032;            // send the request again
constexpr uint32_t kErrorInvalidCA = 12045;             // unknown certificate authority

enum class TBodyKind { bkPlain, bkMultipart };

class THTTPReqResp : public IWebNode {
 public:
  using TBeforePostEvent = std::function<void(THTTPReqResp& HTTPReqResp, THTTPRequest& Data)>;
  using TPostingDataEvent = std::function<void(int64_t Sent, int64_t Total)>;
  using TReceivingDataEvent = std::function<void(int64_t Read, int64_t Total)>;
  // Returns kErrorProceed, kErrorForceRetry or kErrorCancelled.
  using TWinInetErrorEvent = std::function<uint32_t(uint32_t LastError, THTTPRequest& Request)>;
  // Asked when a single post is answered 401 (server) or 407 (proxy). Fill in the credentials
  // and return true to send the request again with them; false cancels the call silently.
  using TCredentialsEvent =
      std::function<bool(THTTPReqResp& HTTPReqResp, THTTPRequest& Request, int Status,
                         std::string& UserName, std::string& Password)>;

  THTTPReqResp();
  THTTPReqResp(const THTTPReqResp&) = delete;
  THTTPReqResp& operator=(const THTTPReqResp&) = delete;
  ~THTTPReqResp() override;

  // IWebNode.
  void Exchange(const std::string& request, TStream& response) override;
  void PrepareCall(const TIntfMetaData& intf, int methIndex,
                   TMimeAttachmentHandler* handler) override;
  void Exchange(TStream& request, TStream& response) override;
  std::unique_ptr<TStream> Exchange(TStream& request) override;
  const std::string& MimeBoundary() const override { return FMimeBoundary; }
  void SetMimeBoundary(const std::string& boundary) override { FMimeBoundary = boundary; }

  // Endpoint. An empty text unbinds; a scheme other than http/https raises
  // "Invalid url '%s' - only supports 'http' and 'https' schemes". Closes the connection.
  void SetEndpointURL(const std::string& url);
  void SetURL(const std::string& url) { SetEndpointURL(url); }
  const std::string& URL() const { return FURL; }
  bool URLGiven() const { return FURLGiven; }
  int URLScheme() const { return FEndpoint.Scheme; }
  const std::string& URLHost() const { return FEndpoint.Host; }
  int URLPort() const { return FEndpoint.Port; }
  const std::string& URLPath() const { return FEndpoint.Path; }

  // SOAP action of the current call.
  const std::string& CurrentAction() const { return FCurrentAction; }
  void SetCurrentAction(const std::string& action) { FCurrentAction = action; }
  // The action, or `""` when it is empty and soNoValueForEmptySOAPAction is not set.
  std::string EffectiveAction() const;
  std::string SOAPActionHeaderLine() const;
  TBodyKind BodyKind() const { return FBodyKind; }

  // The kept-alive connection: opened by the first request, closed by failures, a new
  // endpoint and destruction.
  bool ConnectionOpen() const { return FConnection != nullptr; }
  void CloseConnection();

  // The steps of one exchange.
  std::unique_ptr<THTTPRequest> SendRequest(TStream& request, TStream& response);
  void ReceiveResponse(THTTPRequest& request, TStream& response, bool get);
  uint32_t ResolveTransportError(uint32_t code, THTTPRequest& request);
  // Raises "%s - URL:%s - SOAPAction:%s" (HTTPStatus 0) when code is a failure.
  void RaiseOnTransportFailure(CURLcode code, const std::string& text) const;
  // Raises for text/plain and text/html bodies.
  void CheckResponseContentType() const;
  const std::string& ResponseContentType() const { return FResponseContentType; }

  // Settings.
  std::string Agent = "Vorlen Sender SOAP 1.2";
  std::string UserName;
  std::string Password;
  std::string Proxy;        // empty: the system's settings (http_proxy, https_proxy, no_proxy)
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

  TBeforePostEvent OnBeforePost;
  TPostingDataEvent OnPostingData;
  TReceivingDataEvent OnReceivingData;
  TWinInetErrorEvent OnWinInetError;
  TCredentialsEvent OnCredentials;

 private:
  void OpenConnection();
  // Writes the options of the handle that differ from what it already carries.
  void ApplyConnectionOptions();
  void BuildHeaders(TCurlHeaderList& headers) const;
  // The request's header lines, built again only when what they are made of changed.
  TCurlHeaderList& CurrentHeaders();
  // The Content-Type line of a SOAP message, for the request and for a multipart root part.
  const char* XmlContentTypeLine() const;
  // The registry's access point for UDDIBindingKey, empty when it gives none.
  std::string LookUpAccessPoint();

  TCurlEasy FConnection;
  TCurlHandleState FHandleState;  // of FConnection
  // What the request's header lines are made of: equal keys give equal lines.
  struct THeaderKey {
    TBodyKind Kind = TBodyKind::bkPlain;
    std::string Action;
    std::string Boundary;  // multipart bodies only
    bool UTF8 = true;
    TSOAPInvokeOptions Options;
    bool operator==(const THeaderKey&) const = default;
  };
  // The cached header lines and what they were built from.
  std::unique_ptr<TCurlHeaderList> FHeaders;
  THeaderKey FHeadersKey;
  bool FURLGiven = false;
  std::string FURL;
  TEndpoint FEndpoint;
  std::string FRequestURL;  // FEndpoint put together again, for libcurl
  TBodyKind FBodyKind = TBodyKind::bkPlain;
  std::string FMimeBoundary;
  std::string FResponseContentType;
  std::string FCurrentAction;
};

}  // namespace vorlen
