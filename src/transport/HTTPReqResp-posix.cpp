// The transport's calls carried by libcurl: one easy handle is the kept-alive connection.
#include "transport/HTTPReqResp.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "transport/CurlHandle.h"
#include "transport/CurlRequest.h"
#include "transport/ResponseBody.h"
#include "transport/SOAPHTTPException.h"
#include "transport/ServerCertificate.h"
#include "transport/TlsPeerCheck.h"

namespace vorlen {

namespace {

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

// The easy handle is the kept-alive connection; with it the options it already carries and the
// cached header lines.
struct THTTPReqResp::TBackend {
  TCurlEasy Connection;
  TCurlHandleState HandleState;  // of Connection
  TTlsPeerCheck PeerCheck;       // https: installed on Connection, which points to it
  std::string RequestURL;        // the endpoint put together again, for libcurl
  // What the request's header lines are made of: equal keys give equal lines.
  struct THeaderKey {
    TBodyKind Kind = TBodyKind::bkPlain;
    std::string Action;
    std::string Boundary;  // multipart bodies only
    bool UTF8 = true;
    TSOAPInvokeOptions Options;
    // Whether owner's call would give the same lines; compared in place, as this runs for
    // every call and a key made only to compare would copy the action.
    bool Matches(const THTTPReqResp& owner) const;
  };
  // The cached header lines and what they were built from.
  std::unique_ptr<TCurlHeaderList> Headers;
  THeaderKey HeadersKey;

  // The request's header lines, built again only when what they are made of changed.
  TCurlHeaderList& CurrentHeaders(const THTTPReqResp& owner);
  // Writes the options of the handle that differ from what it already carries.
  void ApplyConnectionOptions(const THTTPReqResp& owner);
  // A failed transfer: a refused certificate, or the transport failure with libcurl's text.
  [[noreturn]] void RaiseFailure(const THTTPReqResp& owner, const TCurlRequest& data,
                                 CURLcode code) const;
};

THTTPReqResp::THTTPReqResp() : FBackend(std::make_unique<TBackend>()) {}

THTTPReqResp::~THTTPReqResp() { CloseConnection(); }

bool THTTPReqResp::ConnectionOpen() const { return FBackend->Connection != nullptr; }

void THTTPReqResp::OpenConnection() {
  if (FBackend->Connection) return;
  EnsureCurlGlobalInit();
  FBackend->Connection.reset(curl_easy_init());
  if (!FBackend->Connection)
    throw ESOAPHTTPException(Format("Unable to create an HTTP session - URL:%s - SOAPAction:%s",
                                    FURL.c_str(), EffectiveAction().c_str()),
                             0);
  // The endpoint cannot change while the connection is open (a new one closes it).
  FBackend->RequestURL = FURL.empty() ? std::string() : EndpointRequestURL(FEndpoint);
}

void THTTPReqResp::CloseConnection() {
  FBackend->Connection.reset();
  FBackend->HandleState = TCurlHandleState();
}

namespace {

void BuildHeaders(const std::vector<std::string>& lines, TCurlHeaderList& headers) {
  for (std::string line : lines) {
    // libcurl drops a header written as "Name:"; "Name;" is how it sends one without value.
    if (line.back() == ':') line.back() = ';';
    headers.Append(line);
  }
  // Suppress what libcurl would add on its own: an Accept line and, for large bodies,
  // "Expect: 100-continue".
  headers.Append("Accept:");
  headers.Append("Expect:");
}

}  // namespace

bool THTTPReqResp::TBackend::THeaderKey::Matches(const THTTPReqResp& owner) const {
  const bool sameBoundary = owner.FBodyKind == TBodyKind::bkMultipart
                                ? Boundary == owner.FMimeBoundary
                                : Boundary.empty();
  return Kind == owner.FBodyKind && Action == owner.FCurrentAction && sameBoundary &&
         UTF8 == owner.UseUTF8InHeader && Options == owner.InvokeOptions;
}

TCurlHeaderList& THTTPReqResp::TBackend::CurrentHeaders(const THTTPReqResp& owner) {
  // The lines differ from call to call only by action and body kind, so a run of calls of one
  // operation builds them once. The boundary counts for multipart bodies only: a response
  // leaves its own (mostly empty) boundary behind between calls.
  if (!Headers || !HeadersKey.Matches(owner)) {
    THeaderKey key{owner.FBodyKind, owner.FCurrentAction,
                   owner.FBodyKind == TBodyKind::bkMultipart ? owner.FMimeBoundary : std::string(),
                   owner.UseUTF8InHeader, owner.InvokeOptions};
    // Built aside, so a failure leaves no half list behind for the next call.
    auto headers = std::make_unique<TCurlHeaderList>();
    BuildHeaders(owner.RequestHeaderLines(), *headers);
    Headers = std::move(headers);
    HeadersKey = std::move(key);
  }
  return *Headers;
}

void THTTPReqResp::TBackend::ApplyConnectionOptions(const THTTPReqResp& owner) {
  // The handle keeps what it was given for all its requests; only what changed since is written
  // again (libcurl copies each string it is given). A new handle starts from a new state.
  CURL* handle = Connection.get();
  TCurlHandleState& state = HandleState;
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
  if (fresh || state.URL != RequestURL) {
    set(CURLOPT_URL, RequestURL.c_str());
    state.URL = RequestURL;
  }
  if (fresh || state.Agent != owner.Agent) {
    set(CURLOPT_USERAGENT, owner.Agent.c_str());
    state.Agent = owner.Agent;
  }
  const bool proxyGiven = !owner.Proxy.empty();
  if (fresh || state.ProxyGiven != proxyGiven ||
      (proxyGiven && (state.Proxy != owner.Proxy || state.ProxyByPass != owner.ProxyByPass))) {
    if (proxyGiven) {
      set(CURLOPT_PROXY, owner.Proxy.c_str());
      const std::string noProxy = CurlNoProxyList(owner.ProxyByPass);
      set(CURLOPT_NOPROXY, noProxy.c_str());
    } else {
      // No proxy text: libcurl's reading of http_proxy / https_proxy / no_proxy applies.
      set(CURLOPT_PROXY, static_cast<const char*>(nullptr));
      set(CURLOPT_NOPROXY, static_cast<const char*>(nullptr));
    }
    state.ProxyGiven = proxyGiven;
    state.Proxy = owner.Proxy;
    state.ProxyByPass = owner.ProxyByPass;
  }
  // An option libcurl refused (out of memory) leaves the state unknown: all are written again
  // with the next request.
  state.Initialised = taken;
}

void THTTPReqResp::TBackend::RaiseFailure(const THTTPReqResp& owner, const TCurlRequest& data,
                                          CURLcode code) const {
  if (data.PeerCheckUsed() && PeerCheck.Refused())
    throw ECertificateUntrusted(owner.FURL, PeerCheck.Certificate());
  owner.RaiseTransportFailure(data.ErrorText(code));
}

std::unique_ptr<THTTPRequest> THTTPReqResp::SendRequest(TStream& request, TStream& response) {
  OpenConnection();
  auto data = std::make_unique<TCurlRequest>(FBackend->Connection.get(), FURL);
  data->SetHandleState(&FBackend->HandleState);
  TResponseBody received(response, FURL, EffectiveAction(), OnReceivingData);
  try {
    data->SetConnectTimeoutMs(ConnectTimeoutMs > 0 ? ConnectTimeoutMs : kDefaultConnectTimeoutMs);
    data->SetSendTimeoutMs(SendTimeoutMs > 0 ? SendTimeoutMs : kDefaultSendTimeoutMs);
    data->SetReceiveTimeoutMs(ReceiveTimeoutMs > 0 ? ReceiveTimeoutMs : kDefaultReceiveTimeoutMs);
    if (FEndpoint.Scheme == usHttps) {
      if (InvokeOptions.Contains(TSOAPInvokeOption::soIgnoreInvalidCerts)) {
        data->SetSecurityFlags(kSecurityIgnoreInvalidCerts);
      } else {
        FBackend->PeerCheck.Reset(FEndpoint.Host, FEndpoint.Port,
                                  NormalFingerprint(TrustedCertificate));
        data->SetPeerCheck(&FBackend->PeerCheck);
      }
    }
    if (!UserName.empty()) data->SetCredentials(UserName, Password);
    data->SetHeaders(&FBackend->CurrentHeaders(*this));
    if (OnBeforePost) OnBeforePost(*this, *data);

    request.SetPosition(0);
    const int64_t size = request.Size();
    if (size <= SinglePostLimit) {
      std::vector<char> buffer = SinglePostBody(request, size);
      TRequestBody body;
      body.Data = buffer.data();
      body.Size = size;
      body.BlockSize = std::max(SinglePostLimit, 1);
      // Each round is decided by the error-resolution step: proceed, send again, or cancel;
      // after kMaxCredentialRounds the answer stands as it came.
      for (int round = 1;; ++round) {
        FBackend->ApplyConnectionOptions(*this);
        const CURLcode code = data->Perform(body, received);
        data->RethrowPending();
        if (code != CURLE_OK && !data->StoppedAtHeaders()) FBackend->RaiseFailure(*this, *data, code);
        const uint32_t lastError =
            IsAuthStatus(data->StatusCode()) ? kErrorIncorrectPassword : kErrorProceed;
        if (lastError != kErrorProceed && round > kMaxCredentialRounds) break;
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
      TCurlRequest& current = *data;
      body.OnBlock = [this, &current](int64_t sent, int64_t total) {
        if (ResolveTransportError(kErrorProceed, current) == kErrorCancelled) throw EAbort();
        if (OnPostingData) OnPostingData(sent, total);
      };
      FBackend->ApplyConnectionOptions(*this);
      const CURLcode code = data->Perform(body, received);
      data->RethrowPending();
      if (code != CURLE_OK && !data->StoppedAtHeaders()) FBackend->RaiseFailure(*this, *data, code);
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
  // libcurl has put the body into the response stream already; a status error stopped it at
  // the headers.
  const auto& data = static_cast<const TCurlRequest&>(request);
  CheckResponseStatus(data.StatusCode(), data.StatusText());
  SetResponseContentType(data.ContentType());
  if (!get) CheckResponseContentType();
}

uint32_t THTTPReqResp::ResolveWithoutHandler(uint32_t, THTTPRequest& request) {
  // No platform dialog: a demand for credentials goes to OnCredentials.
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

}  // namespace vorlen
