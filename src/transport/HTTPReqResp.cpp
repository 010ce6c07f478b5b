#include "transport/HTTPReqResp.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "transport/ContentType.h"
#include "transport/SOAPHTTPException.h"

namespace vorlen {

namespace {

bool IsAuthStatus(int status) { return status == 401 || status == 407; }
bool IsNotFoundStatus(int status) { return status == 404 || status == 405 || status == 410; }

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// A bypass list in the usual Windows form ("a;b c", "<local>") as libcurl's comma list.
std::string CurlNoProxyList(const std::string& byPass) {
  std::string result;
  std::string item;
  auto flush = [&] {
    if (item.empty()) return;
    if (!result.empty()) result += ',';
    result += item == "<local>" ? std::string("localhost,127.0.0.1,::1") : item;
    item.clear();
  };
  for (char c : byPass) {
    if (c == ';' || c == ',' || std::isspace(static_cast<unsigned char>(c)))
      flush();
    else
      item += c;
  }
  flush();
  return result;
}

}  // namespace

THTTPReqResp::THTTPReqResp() = default;

THTTPReqResp::~THTTPReqResp() { CloseConnection(); }

void THTTPReqResp::SetEndpointURL(const std::string& url) {
  // Parsed before anything changes, so a refused URL leaves the old binding intact.
  TEndpoint endpoint = SplitEndpointURL(url);
  FURLGiven = !url.empty();
  FEndpoint = std::move(endpoint);
  FRequestURL = url.empty() ? std::string() : EndpointRequestURL(FEndpoint);
  FURL = url;
  CloseConnection();
}

std::string THTTPReqResp::EffectiveAction() const {
  if (FCurrentAction.empty() &&
      !InvokeOptions.Contains(TSOAPInvokeOption::soNoValueForEmptySOAPAction))
    return "\"\"";
  return FCurrentAction;
}

std::string THTTPReqResp::SOAPActionHeaderLine() const {
  const std::string action = EffectiveAction();
  if (action.empty()) return "SOAPAction:";
  if (action == "\"\"") return "SOAPAction: \"\"";
  return "SOAPAction: \"" + action + "\"";
}

const char* THTTPReqResp::XmlContentTypeLine() const {
  return UseUTF8InHeader ? "Content-Type: text/xml; charset=\"utf-8\"" : "Content-Type: text/xml";
}

void THTTPReqResp::PrepareCall(const TIntfMetaData& intf, int methIndex,
                               TMimeAttachmentHandler* handler) {
  if (FURLGiven) {
    const bool known = methIndex >= 0 && methIndex < static_cast<int>(intf.MDA.size());
    FCurrentAction = InvRegistry().GetActionURIOfInfo(
        intf, known ? intf.MDA[static_cast<size_t>(methIndex)].Name : std::string(), methIndex);
  } else if (!WSDLView || WSDLView->Location.empty()) {
    throw ESOAPHTTPException(
        "No WSDL or URL property was set in the THTTPRIO component. You must set the WSDL or "
        "URL property before invoking the Web Service",
        0);
  } else {
    // Service descriptions are never loaded by this client, so a description gives no endpoint.
    throw ESOAPHTTPException(
        Format("Unable to retrieve the URL endpoint for Service/Port '%s'/'%s' from WSDL '%s'",
               WSDLView->Service.c_str(), WSDLView->Port.c_str(), WSDLView->Location.c_str()),
        0);
  }

  if (handler != nullptr) {
    FBodyKind = TBodyKind::bkMultipart;
    FMimeBoundary = handler->MIMEBoundary();
    handler->AddSoapHeader(XmlContentTypeLine());
    handler->AddSoapHeader(SOAPActionHeaderLine());
  } else {
    FBodyKind = TBodyKind::bkPlain;
  }
}

void THTTPReqResp::OpenConnection() {
  if (FConnection) return;
  EnsureCurlGlobalInit();
  FConnection.reset(curl_easy_init());
  if (!FConnection)
    throw ESOAPHTTPException(Format("Unable to create an HTTP session - URL:%s - SOAPAction:%s",
                                    FURL.c_str(), EffectiveAction().c_str()),
                             0);
}

void THTTPReqResp::CloseConnection() {
  FConnection.reset();
  FHandleState = TCurlHandleState();
}

void THTTPReqResp::BuildHeaders(TCurlHeaderList& headers) const {
  std::string action;
  if (!InvokeOptions.Contains(TSOAPInvokeOption::soNoSOAPActionHeader)) {
    action = SOAPActionHeaderLine();
    // libcurl drops a header written as "Name:"; "Name;" is how it sends one without value.
    if (action.back() == ':') action.back() = ';';
  }
  // Plain concatenation: this runs for every call, and Format costs two passes each.
  if (FBodyKind == TBodyKind::bkMultipart) {
    headers.Append("MIME-Version: 1.0");
    if (!action.empty()) headers.Append(action);
    headers.Append("Content-Type: multipart/related; boundary=" + FMimeBoundary);
  } else {
    if (!action.empty()) headers.Append(action);
    headers.Append(XmlContentTypeLine());
  }
  // Suppress what libcurl would add on its own: an Accept line and, for large bodies,
  // "Expect: 100-continue".
  headers.Append("Accept:");
  headers.Append("Expect:");
}

TCurlHeaderList& THTTPReqResp::CurrentHeaders() {
  // The lines differ from call to call only by action and body kind, so a run of calls of one
  // operation builds them once. The boundary counts for multipart bodies only: a response
  // leaves its own (mostly empty) boundary behind between calls.
  THeaderKey key{FBodyKind, FCurrentAction,
                 FBodyKind == TBodyKind::bkMultipart ? FMimeBoundary : std::string(),
                 UseUTF8InHeader, InvokeOptions};
  if (!FHeaders || key != FHeadersKey) {
    // Built aside, so a failure leaves no half list behind for the next call.
    auto headers = std::make_unique<TCurlHeaderList>();
    BuildHeaders(*headers);
    FHeaders = std::move(headers);
    FHeadersKey = std::move(key);
  }
  return *FHeaders;
}

void THTTPReqResp::ApplyConnectionOptions() {
  // The handle keeps what it was given for all its requests; only what changed since is written
  // again (libcurl copies each string it is given). A new handle starts from a new state.
  CURL* handle = FConnection.get();
  TCurlHandleState& state = FHandleState;
  const bool fresh = !state.Initialised;
  bool taken = true;
  auto set = [&](CURLoption option, auto value) {
    if (curl_easy_setopt(handle, option, value) != CURLE_OK) taken = false;
  };
  if (fresh) {
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_FOLLOWLOCATION, 0L);
  }
  if (fresh || state.URL != FRequestURL) {
    set(CURLOPT_URL, FRequestURL.c_str());
    state.URL = FRequestURL;
  }
  if (fresh || state.Agent != Agent) {
    set(CURLOPT_USERAGENT, Agent.c_str());
    state.Agent = Agent;
  }
  const bool proxyGiven = !Proxy.empty();
  if (fresh || state.ProxyGiven != proxyGiven ||
      (proxyGiven && (state.Proxy != Proxy || state.ProxyByPass != ProxyByPass))) {
    if (proxyGiven) {
      set(CURLOPT_PROXY, Proxy.c_str());
      const std::string noProxy = CurlNoProxyList(ProxyByPass);
      set(CURLOPT_NOPROXY, noProxy.c_str());
    } else {
      // No proxy text: libcurl's reading of http_proxy / https_proxy / no_proxy applies.
      set(CURLOPT_PROXY, static_cast<const char*>(nullptr));
      set(CURLOPT_NOPROXY, static_cast<const char*>(nullptr));
    }
    state.ProxyGiven = proxyGiven;
    state.Proxy = Proxy;
    state.ProxyByPass = ProxyByPass;
  }
  // An option libcurl refused (out of memory) leaves the state unknown: all are written again
  // with the next request.
  state.Initialised = taken;
}

std::unique_ptr<THTTPRequest> THTTPReqResp::SendRequest(TStream& request, TStream& response) {
  OpenConnection();
  auto data = std::make_unique<THTTPRequest>(FConnection.get(), FURL);
  data->SetHandleState(&FHandleState);
  TResponseBody received(response, FURL, EffectiveAction(), OnReceivingData);
  try {
    data->SetConnectTimeoutMs(ConnectTimeoutMs > 0 ? ConnectTimeoutMs : kDefaultConnectTimeoutMs);
    data->SetSendTimeoutMs(SendTimeoutMs > 0 ? SendTimeoutMs : kDefaultSendTimeoutMs);
    data->SetReceiveTimeoutMs(ReceiveTimeoutMs > 0 ? ReceiveTimeoutMs : kDefaultReceiveTimeoutMs);
    if (InvokeOptions.Contains(TSOAPInvokeOption::soIgnoreInvalidCerts) &&
        FEndpoint.Scheme == usHttps)
      data->SetSecurityFlags(kSecurityIgnoreInvalidCerts);
    if (!UserName.empty()) data->SetCredentials(UserName, Password);
    data->SetHeaders(&CurrentHeaders());
    if (OnBeforePost) OnBeforePost(*this, *data);

    request.SetPosition(0);
    const int64_t size = request.Size();
    if (size <= SinglePostLimit) {
      std::vector<char> buffer(static_cast<size_t>(size));
      if (size > 0) request.ReadBuffer(buffer.data(), size);
      TRequestBody body;
      body.Data = buffer.data();
      body.Size = size;
      body.BlockSize = std::max(SinglePostLimit, 1);
      // Each round is decided by the error-resolution step: proceed, send again, or cancel.
      for (;;) {
        ApplyConnectionOptions();
        const CURLcode code = data->Perform(body, received);
        data->RethrowPending();
        if (code != CURLE_OK && !data->StoppedAtHeaders())
          RaiseOnTransportFailure(code, data->ErrorText(code));
        const uint32_t lastError =
            IsAuthStatus(data->StatusCode()) ? kErrorIncorrectPassword : kErrorProceed;
        const uint32_t decision = ResolveTransportError(lastError, *data);
        if (decision == kErrorProceed) break;
        if (decision == kErrorCancelled) throw EAbort();
        // Sent again: whatever the previous answer put into the response goes.
        received.Restart();
      }
    } else {
      TRequestBody body;
      body.Stream = &request;
      body.Size = size;
      body.BlockSize = std::max(SinglePostLimit, 1);
      THTTPRequest& current = *data;
      body.OnBlock = [this, &current](int64_t sent, int64_t total) {
        if (ResolveTransportError(kErrorProceed, current) == kErrorCancelled) throw EAbort();
        if (OnPostingData) OnPostingData(sent, total);
      };
      ApplyConnectionOptions();
      const CURLcode code = data->Perform(body, received);
      data->RethrowPending();
      if (code != CURLE_OK && !data->StoppedAtHeaders())
        RaiseOnTransportFailure(code, data->ErrorText(code));
    }
  } catch (...) {
    data.reset();
    CloseConnection();
    throw;
  }
  data->SetHeaders(nullptr);
  data->SetHandleState(nullptr);
  return data;
}

void THTTPReqResp::ReceiveResponse(THTTPRequest& request, TStream&, bool get) {
  const int status = request.StatusCode();
  if (status >= 300 && status != 500)
    throw ESOAPHTTPException(Format("%s (%d) - '%s'", request.StatusText().c_str(), status,
                                    FURL.c_str()),
                             status);
  FResponseContentType = request.ContentType();
  FMimeBoundary = BoundaryFromContentType(FResponseContentType);
  if (!get) CheckResponseContentType();
}

void THTTPReqResp::CheckResponseContentType() const {
  if (IsNonSoapContentType(FResponseContentType))
    throw ESOAPHTTPException(
        Format("Received content of invalid Content-Type setting: %s - SOAP expects \"text/xml\"",
               FResponseContentType.c_str()),
        0);
}

uint32_t THTTPReqResp::ResolveTransportError(uint32_t code, THTTPRequest& request) {
  if (code == kErrorInvalidCA) {
    request.SetSecurityFlags(request.SecurityFlags() | kSecurityIgnoreUnknownCA);
    return kErrorForceRetry;
  }
  if (OnWinInetError) return OnWinInetError(code, request);
  const int status = request.StatusCode();
  if (!IsAuthStatus(status) || !OnCredentials) return kErrorProceed;
  std::string userName = status == 401 ? UserName : std::string();
  std::string password = status == 401 ? Password : std::string();
  if (!OnCredentials(*this, request, status, userName, password)) return kErrorCancelled;
  if (status == 401) {
    request.SetCredentials(userName, password);
    // Kept for the following calls, as a session remembers what the operator entered.
    UserName = userName;
    Password = password;
  } else {
    request.SetProxyCredentials(userName, password);
  }
  return kErrorForceRetry;
}

void THTTPReqResp::RaiseOnTransportFailure(CURLcode code, const std::string& text) const {
  if (code == CURLE_OK) return;
  throw ESOAPHTTPException(TransportFailureText(text, FURL, EffectiveAction()), 0);
}

std::string THTTPReqResp::LookUpAccessPoint() {
  // No registry client is built in; an empty answer raises the status error that led here.
  return std::string();
}

void THTTPReqResp::Exchange(TStream& request, TStream& response) {
  bool canRetry = InvokeOptions.Contains(TSOAPInvokeOption::soAutoCheckAccessPointViaUDDI) &&
                  !UDDIBindingKey.empty() && !UDDIOperator.empty();
  bool lookUp = false;
  std::string lookUpReason;
  for (;;) {
    if (lookUp && canRetry) {
      canRetry = false;
      const std::string accessPoint = LookUpAccessPoint();
      if (accessPoint.empty() || EqualsIgnoringCase(accessPoint, FURL))
        throw ESOAPHTTPException(lookUpReason, 0);
      SetEndpointURL(accessPoint);
    }
    std::unique_ptr<THTTPRequest> data = SendRequest(request, response);
    try {
      ReceiveResponse(*data, response, false);
      return;
    } catch (const ESOAPHTTPException& e) {
      CloseConnection();
      if (canRetry && IsNotFoundStatus(e.HTTPStatus)) {
        lookUp = true;
        lookUpReason = e.Message();
        continue;
      }
      throw;
    } catch (...) {
      CloseConnection();
      throw;
    }
  }
}

void THTTPReqResp::Exchange(const std::string& request, TStream& response) {
  TMemoryStream stream(request);
  Exchange(stream, response);
}

std::unique_ptr<TStream> THTTPReqResp::Exchange(TStream& request) {
  auto response = std::make_unique<TMemoryStream>();
  Exchange(request, *response);
  return response;
}

}  // namespace vorlen
