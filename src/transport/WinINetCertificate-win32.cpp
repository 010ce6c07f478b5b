#include "transport/WinINetCertificate.h"

#include <wincrypt.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "runtime/WindowsText.h"

namespace vorlen {

namespace {

std::string NameText(const CERT_NAME_BLOB& name) {
  const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  CERT_NAME_BLOB blob = name;
  const DWORD length = CertNameToStrW(X509_ASN_ENCODING, &blob, type, nullptr, 0);
  if (length <= 1) return std::string();
  std::vector<wchar_t> text(length);
  CertNameToStrW(X509_ASN_ENCODING, &blob, type, text.data(), length);
  return Utf8FromWide(std::wstring(text.data()));
}

std::string TimeText(const FILETIME& time) {
  SYSTEMTIME t{};
  if (!FileTimeToSystemTime(&time, &t)) return std::string();
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond);
  return text;
}

uint32_t ProblemOfError(DWORD code) {
  switch (code) {
    case ERROR_INTERNET_INVALID_CA:
      return cpUnknownIssuer;
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
      return cpNameMismatch;
    case ERROR_INTERNET_SEC_CERT_REVOKED:
      return cpRevoked;
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
      return 0;  // expired or not yet valid: the dates tell which
    default:
      return cpOther;
  }
}

// What the chain that WinINet built says, and the name check against host.
uint32_t ChainProblems(PCCERT_CHAIN_CONTEXT chain, const std::string& host) {
  uint32_t problems = 0;
  const DWORD status = chain->TrustStatus.dwErrorStatus;
  if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
    problems |= cpUnknownIssuer;
  if (status & CERT_TRUST_IS_REVOKED) problems |= cpRevoked;
  std::wstring wideHost = WideFromUtf8(host);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = wideHost.data();
  CERT_CHAIN_POLICY_PARA para{};
  para.cbSize = sizeof para;
  para.pvExtraPolicyPara = &ssl;
  // Everything but the name is judged above; this asks only whether the name fits.
  para.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_NOT_TIME_VALID_FLAGS |
                 CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG |
                 CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
  CERT_CHAIN_POLICY_STATUS result{};
  result.cbSize = sizeof result;
  if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &para, &result) &&
      result.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH))
    problems |= cpNameMismatch;
  return problems;
}

}  // namespace

bool IsCertificateError(DWORD code) {
  switch (code) {
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
      return true;
    default:
      return false;
  }
}

uint32_t IgnoreFlagOf(DWORD code) {
  switch (code) {
    case ERROR_INTERNET_INVALID_CA:
      return SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
      return SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
      return SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
      return SECURITY_FLAG_IGNORE_REVOCATION;
    default:
      return 0;  // a revoked certificate, or one WinINet calls invalid, passes no flag
  }
}

bool ServerCertificateOf(HINTERNET request, DWORD code, TServerCertificate& certificate) {
  certificate.Problems = ProblemOfError(code);
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  DWORD size = sizeof chain;
  if (!InternetQueryOptionW(request, INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT, &chain, &size) ||
      chain == nullptr || chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
    if (chain != nullptr) CertFreeCertificateChain(chain);
    return false;
  }
  PCCERT_CONTEXT leaf = chain->rgpChain[0]->rgpElement[0]->pCertContext;
  certificate.Problems |= ChainProblems(chain, certificate.Host);
  const CERT_INFO& info = *leaf->pCertInfo;
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  if (CompareFileTime(&now, &info.NotAfter) > 0) certificate.Problems |= cpExpired;
  if (CompareFileTime(&now, &info.NotBefore) < 0) certificate.Problems |= cpNotYetValid;
  certificate.Subject = NameText(info.Subject);
  certificate.Issuer = NameText(info.Issuer);
  certificate.NotBefore = TimeText(info.NotBefore);
  certificate.NotAfter = TimeText(info.NotAfter);
  BYTE hash[32];
  DWORD length = sizeof hash;
  if (CryptHashCertificate(0, CALG_SHA_256, 0, leaf->pbCertEncoded, leaf->cbCertEncoded, hash,
                           &length) &&
      length == sizeof hash)
    certificate.Fingerprint = FingerprintText(hash, length);
  CertFreeCertificateChain(chain);
  return !certificate.Fingerprint.empty();
}

bool ProbeServerCertificate(const std::string& agent, const std::string& proxy,
                            const std::string& byPass, const std::string& host, int port,
                            const std::string& path, DWORD code, TServerCertificate& certificate) {
  struct TCloser {
    void operator()(void* handle) const { InternetCloseHandle(handle); }
  };
  using THandle = std::unique_ptr<void, TCloser>;
  const DWORD access = proxy.empty() ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_PROXY;
  THandle session(InternetOpenW(WideFromUtf8(agent).c_str(), access, WideFromUtf8(proxy).c_str(),
                                WideFromUtf8(byPass).c_str(), 0));
  if (!session) return false;
  THandle connection(InternetConnectW(session.get(), WideFromUtf8(host).c_str(),
                                      static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return false;
  const DWORD ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                       SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_REVOCATION;
  THandle request(HttpOpenRequestW(connection.get(), L"HEAD", WideFromUtf8(path).c_str(), nullptr,
                                   nullptr, nullptr,
                                   INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_CACHE_WRITE |
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTH | ignore,
                                   0));
  if (!request) return false;
  DWORD flags = ignore;
  InternetSetOptionW(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0);  // any answer will do
  return ServerCertificateOf(request.get(), code, certificate);
}

}  // namespace vorlen
