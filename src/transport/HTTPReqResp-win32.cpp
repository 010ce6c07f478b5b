// The transport's calls carried by WinINet, call for call: a root handle and a connection handle
// kept across calls, one request handle per call.
#include <windows.h>

#include <wininet.h>

#include <algorithm>
#include <cwchar>
#include <utility>
#include <vector>

#include "runtime/Exception.h"
#include "runtime/WindowsText.h"
#include "transport/HTTPReqResp.h"
#include "transport/ResponseBody.h"
#include "transport/SOAPHTTPException.h"
#include "transport/WinINetCertificate.h"
#include "transport/WinINetRequest.h"

namespace vorlen {

namespace {

constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
constexpr DWORD kSecureFlags = INTERNET_FLAG_SECURE;
constexpr DWORD kErrorDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS |
                                    FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                    FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;

// WinINet's own text for code (its codes and the system's both), without the line end.
std::string SystemText(DWORD code) {
  wchar_t buffer[256];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE,
                                GetModuleHandleW(L"wininet.dll"), code, 0, buffer, 256, nullptr);
  length = std::min<DWORD>(length, 255);
  std::wstring text(buffer, length);
  text.resize(std::wcslen(text.c_str()));
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
  return Utf8FromWide(text);
}

// A header value queried into a buffer of bufferBytes; empty when the query fails.
std::string QueryText(HINTERNET request, DWORD what, DWORD bufferBytes, bool& ok) {
  std::vector<wchar_t> buffer(bufferBytes / sizeof(wchar_t));
  DWORD length = bufferBytes;
  DWORD index = 0;
  ok = HttpQueryInfoW(request, what, buffer.data(), &length, &index) != FALSE;
  if (!ok) return std::string();
  return Utf8FromWide(std::wstring_view(buffer.data(), length / sizeof(wchar_t)));
}

}  // namespace

struct THTTPReqResp::TBackend {
  bool ConnectionOpen = false;
  HINTERNET InternetHandle = nullptr;
  HINTERNET ConnectionHandle = nullptr;
  // What the handles were opened with: they carry it for good, so a change opens new ones.
  std::string Agent, Proxy, ProxyByPass, UserName, Password;

  bool OpenedWith(const THTTPReqResp& owner) const {
    return Agent == owner.Agent && Proxy == owner.Proxy && ProxyByPass == owner.ProxyByPass &&
           UserName == owner.UserName && Password == owner.Password;
  }

  // GetLastError() after a platform call; raises the transport failure when the call failed
  // with a code. A failure without a code is passed over, as WinINet gives nothing to report.
  static DWORD Checked(const THTTPReqResp& owner, bool failed) {
    const DWORD code = GetLastError();
    if (failed && code != 0) owner.RaiseTransportFailure(SystemText(code));
    return code;
  }
  // Certificate problems passed for the trusted certificate on this connection's requests;
  // such a request goes out as a block post whose body waits until the certificate is seen to
  // be the trusted one.
  uint32_t TrustedFlags = 0;
  std::string TrustedFor;  // the fingerprint they were set for

  // https with certificates checked, after a send that failed with code: a certificate error is
  // refused with ECertificateUntrusted unless the certificate is the trusted one; then the flags
  // that pass its problems are set on request (an unknown issuer through the error-resolution
  // step's own handling) and true returned: send again. Other codes give false.
  static bool PassTrustedCertificate(THTTPReqResp& owner, TWinInetRequest& request, DWORD code) {
    if (!IsCertificateError(code)) return false;
    TServerCertificate met;
    met.Host = owner.FEndpoint.Host;
    met.Port = owner.FEndpoint.Port;
    // Where the failed request does not hand out its certificate, a request of its own learns it.
    if (!ServerCertificateOf(request.Handle(), code, met))
      ProbeServerCertificate(owner.Agent, owner.Proxy, owner.ProxyByPass, met.Host, met.Port,
                             owner.FEndpoint.Path, code, met);
    const std::string trusted = NormalFingerprint(owner.TrustedCertificate);
    // A revoked certificate, or one WinINet calls invalid, has no flag that passes it.
    if (trusted.empty() || met.Fingerprint != trusted || IgnoreFlagOf(code) == 0)
      throw ECertificateUntrusted(owner.FURL, std::move(met));
    owner.FCertificateTrusted = true;
    owner.FBackend->TrustedFlags = kSecurityIgnoreInvalidCerts;
    owner.FBackend->TrustedFor = trusted;
    if (code == ERROR_INTERNET_INVALID_CA) owner.ResolveTransportError(code, request);
    request.SetSecurityFlags(request.SecurityFlags() | kSecurityIgnoreInvalidCerts);
    return true;
  }
  // Before the body of a request sent on the trusted certificate's flags: the connection must
  // present that very certificate, or nothing more is sent.
  static void CheckStillTrusted(const THTTPReqResp& owner, TWinInetRequest& request) {
    TServerCertificate met;
    met.Host = owner.FEndpoint.Host;
    met.Port = owner.FEndpoint.Port;
    ServerCertificateOf(request.Handle(), 0, met);
    if (met.Fingerprint.empty() || met.Fingerprint != NormalFingerprint(owner.TrustedCertificate))
      throw ECertificateUntrusted(owner.FURL, std::move(met));
  }
  // The same for a call that hands out a handle: without one there is no going on.
  static void CheckedHandle(const THTTPReqResp& owner, HINTERNET handle) {
    Checked(owner, handle == nullptr);
    if (handle == nullptr) owner.RaiseTransportFailure(std::string());
  }
};

THTTPReqResp::THTTPReqResp() : FBackend(std::make_unique<TBackend>()) {}

THTTPReqResp::~THTTPReqResp() { CloseConnection(); }

bool THTTPReqResp::ConnectionOpen() const { return FBackend->ConnectionOpen; }

void THTTPReqResp::OpenConnection() {
  TBackend& b = *FBackend;
  if (b.ConnectionOpen && b.OpenedWith(*this)) return;
  CloseConnection();
  if (InternetAttemptConnect(0) != ERROR_SUCCESS) throw EAbort();
  // Empty texts go as empty strings, not as null.
  const DWORD access = Proxy.empty() ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_PROXY;
  b.InternetHandle = InternetOpenW(WideFromUtf8(Agent).c_str(), access, WideFromUtf8(Proxy).c_str(),
                                   WideFromUtf8(ProxyByPass).c_str(), 0);
  TBackend::CheckedHandle(*this, b.InternetHandle);
  b.ConnectionHandle = InternetConnectW(
      b.InternetHandle, WideFromUtf8(FEndpoint.Host).c_str(),
      static_cast<INTERNET_PORT>(FEndpoint.Port), WideFromUtf8(UserName).c_str(),
      WideFromUtf8(Password).c_str(), INTERNET_SERVICE_HTTP, 0, reinterpret_cast<DWORD_PTR>(this));
  if (b.ConnectionHandle == nullptr) {
    const DWORD code = GetLastError();
    InternetCloseHandle(b.InternetHandle);
    b.InternetHandle = nullptr;
    SetLastError(code);
    TBackend::CheckedHandle(*this, nullptr);
  }
  b.ConnectionOpen = true;
  b.Agent = Agent;
  b.Proxy = Proxy;
  b.ProxyByPass = ProxyByPass;
  b.UserName = UserName;
  b.Password = Password;
}

void THTTPReqResp::CloseConnection() {
  TBackend& b = *FBackend;
  if (b.ConnectionHandle != nullptr) InternetCloseHandle(b.ConnectionHandle);
  b.ConnectionHandle = nullptr;
  if (b.InternetHandle != nullptr) InternetCloseHandle(b.InternetHandle);
  b.InternetHandle = nullptr;
  b.ConnectionOpen = false;
  b.TrustedFlags = 0;
  b.TrustedFor.clear();
}

std::unique_ptr<THTTPRequest> THTTPReqResp::SendRequest(TStream& request, TStream&) {
  OpenConnection();
  std::unique_ptr<TWinInetRequest> data;
  FCertificateTrusted = false;
  try {
    DWORD flags = kRequestFlags;
    const bool ignoreCerts = InvokeOptions.Contains(TSOAPInvokeOption::soIgnoreInvalidCerts);
    const bool checkCerts = FEndpoint.Scheme == usHttps && !ignoreCerts;
    if (FEndpoint.Scheme == usHttps) {
      flags |= kSecureFlags;
      if (ignoreCerts) flags |= kSecurityIgnoreInvalidCerts;
    }
    // No accept types: no Accept header.
    HINTERNET handle =
        HttpOpenRequestW(FBackend->ConnectionHandle, L"POST", WideFromUtf8(FEndpoint.Path).c_str(),
                         nullptr, nullptr, nullptr, flags, 0);
    TBackend::CheckedHandle(*this, handle);
    data = std::make_unique<TWinInetRequest>(handle);

    const std::pair<DWORD, int> timeouts[] = {{INTERNET_OPTION_CONNECT_TIMEOUT, ConnectTimeoutMs},
                                              {INTERNET_OPTION_SEND_TIMEOUT, SendTimeoutMs},
                                              {INTERNET_OPTION_RECEIVE_TIMEOUT, ReceiveTimeoutMs}};
    for (const auto& [option, ms] : timeouts)
      if (ms > 0) TBackend::Checked(*this, !data->SetOption(option, static_cast<DWORD>(ms)));
    // Also for http; whether it takes is not checked.
    if (ignoreCerts) data->SetOption(INTERNET_OPTION_SECURITY_FLAGS, flags);

    for (const std::string& line : RequestHeaderLines()) {
      const std::wstring wide = WideFromUtf8(line);
      HttpAddRequestHeadersW(handle, wide.c_str(), static_cast<DWORD>(wide.size()),
                             HTTP_ADDREQ_FLAG_ADD);
    }
    if (OnBeforePost) OnBeforePost(*this, *data);

    // The trusted certificate's flags, once a request on this connection needed them.
    bool guarded = false;
    if (checkCerts && FBackend->TrustedFlags != 0 &&
        FBackend->TrustedFor == NormalFingerprint(TrustedCertificate)) {
      data->SetSecurityFlags(data->SecurityFlags() | FBackend->TrustedFlags);
      FCertificateTrusted = true;
      guarded = true;
    }

    request.SetPosition(0);
    const int64_t size = request.Size();
    if (size <= SinglePostLimit && !guarded) {
      std::vector<char> buffer = SinglePostBody(request, size);
      // Each round is decided by the error-resolution step: proceed, send again, or cancel;
      // after kMaxCredentialRounds the answer stands as it came.
      for (int round = 1;; ++round) {
        const BOOL sent =
            HttpSendRequestW(handle, nullptr, 0, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (!sent && checkCerts) {
          const DWORD error = GetLastError();
          // Trusted: sent again below as a block post, its body held back until the
          // certificate is seen.
          if (TBackend::PassTrustedCertificate(*this, *data, error)) {
            guarded = true;
            request.SetPosition(0);
            break;
          }
          SetLastError(error);
        }
        const DWORD code = TBackend::Checked(*this, !sent);
        if (round > kMaxCredentialRounds && code == ERROR_SUCCESS) break;
        const uint32_t decision = ResolveTransportError(code, *data);
        if (decision == kErrorProceed) break;
        if (decision == kErrorCancelled) throw EAbort();
      }
    }
    if (size > SinglePostLimit || guarded) {
      const int64_t block = std::max(SinglePostLimit, 1);
      std::vector<char> work(static_cast<size_t>(block));
      INTERNET_BUFFERSW buffers{};
      buffers.dwStructSize = sizeof buffers;
      buffers.dwBufferTotal = static_cast<DWORD>(size);
      for (;;) {
        const BOOL started =
            HttpSendRequestExW(handle, &buffers, nullptr, HSR_INITIATE | HSR_SYNC, 0);
        if (!started && checkCerts) {
          const DWORD error = GetLastError();
          if (TBackend::PassTrustedCertificate(*this, *data, error)) continue;
          SetLastError(error);
        }
        TBackend::Checked(*this, !started);
        break;
      }
      if (FCertificateTrusted) TBackend::CheckStillTrusted(*this, *data);
      for (;;) {
        const int64_t n = std::min(size - request.Position(), block);
        if (n <= 0) break;
        const int64_t read = request.Read(work.data(), n);
        if (read <= 0) throw ESOAPHTTPException("Invalid HTTP Request: Length is 0", 0);
        DWORD written = 0;
        const BOOL ok = InternetWriteFile(handle, work.data(), static_cast<DWORD>(read), &written);
        const DWORD code = TBackend::Checked(*this, !ok);
        if (ResolveTransportError(code, *data) == kErrorCancelled) throw EAbort();
        if (OnPostingData) OnPostingData(request.Position(), size);
      }
      // Only a complete body is ended: ending a broken one would wait for an answer to a body
      // that the server is still reading. The handle is closed below instead.
      TBackend::Checked(*this, !HttpEndRequestW(handle, nullptr, 0, 0));
    }
  } catch (...) {
    data.reset();
    CloseConnection();
    throw;
  }
  return data;
}

void THTTPReqResp::ReceiveResponse(THTTPRequest& request, TStream& response, bool get) {
  HINTERNET handle = static_cast<TWinInetRequest&>(request).Handle();
  DWORD status = 0;
  DWORD length = sizeof status;
  DWORD index = 0;
  if (HttpQueryInfoW(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                     &index) &&
      status >= 300 && status != 500) {
    bool ok = false;
    const std::string text = QueryText(handle, HTTP_QUERY_STATUS_TEXT, 4096, ok);
    // Without its text the status goes on as a success would.
    if (ok) CheckResponseStatus(static_cast<int>(status), text);
  }
  bool typeKnown = false;
  SetResponseContentType(QueryText(handle, HTTP_QUERY_CONTENT_TYPE, 256, typeKnown));

  TResponseBody received(response, FURL, EffectiveAction(), OnReceivingData);
  // A body announced too long is refused before a byte of it is read. A length past 4 GiB does
  // not fit the query's number; the bound on the bytes read still holds then.
  DWORD announced = 0;
  length = sizeof announced;
  index = 0;
  if (HttpQueryInfoW(handle, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced,
                     &length, &index))
    received.Announce(announced);
  for (;;) {
    DWORD available = 0;
    TBackend::Checked(*this, !InternetQueryDataAvailable(handle, &available, 0, 0));
    if (available == 0) break;
    std::vector<char> buffer(available);
    DWORD read = 0;
    TBackend::Checked(*this, !InternetReadFile(handle, buffer.data(), available, &read));
    if (read == 0) break;  // the connection ended early; nothing more will come
    received.Append(buffer.data(), read);
  }
  if (!get) CheckResponseContentType();
}

uint32_t THTTPReqResp::ResolveWithoutHandler(uint32_t code, THTTPRequest& request) {
  // The platform's dialog: a demand for credentials brings up its password prompt.
  void* dialogData = nullptr;
  HWND owner = DialogOwner ? reinterpret_cast<HWND>(DialogOwner) : GetDesktopWindow();
  return InternetErrorDlg(owner, static_cast<TWinInetRequest&>(request).Handle(), code,
                          kErrorDialogFlags, &dialogData);
}

}  // namespace vorlen
