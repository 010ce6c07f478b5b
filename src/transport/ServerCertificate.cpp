#include "transport/ServerCertificate.h"

#include <cctype>

namespace vorlen {

namespace {

std::string UntrustedMessage(const std::string& url, const TServerCertificate& c) {
  return "The server certificate of " + CertificateAddress(c.Host, c.Port) +
         " cannot be verified (" + ProblemsText(c.Problems, c.Detail) + "), SHA-256 " +
         c.Fingerprint + "; nothing was sent - URL:" + url;
}

}  // namespace

ECertificateUntrusted::ECertificateUntrusted(const std::string& url,
                                             TServerCertificate certificate)
    : ESOAPHTTPException(UntrustedMessage(url, certificate), 0),
      Certificate(std::move(certificate)) {}

std::string FingerprintText(const unsigned char* hash, size_t length) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    if (i > 0) text += ':';
    text += digits[hash[i] >> 4];
    text += digits[hash[i] & 15];
  }
  return text;
}

std::string NormalFingerprint(std::string_view text) {
  unsigned char bytes[32];
  size_t count = 0;
  size_t i = 0;
  auto nibble = [](char c) {
    return std::isdigit(static_cast<unsigned char>(c))
               ? c - '0'
               : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
  };
  while (i < text.size()) {
    if (text[i] == ':' && count > 0 && i + 1 < text.size()) ++i;
    if (i + 1 >= text.size() || count == 32 || !std::isxdigit(static_cast<unsigned char>(text[i])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
      return std::string();
    bytes[count++] = static_cast<unsigned char>(nibble(text[i]) * 16 + nibble(text[i + 1]));
    i += 2;
  }
  return count == 32 ? FingerprintText(bytes, count) : std::string();
}

std::string CertificateAddress(const std::string& host, int port) {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string ProblemsText(uint32_t problems, const std::string& detail) {
  static const std::pair<uint32_t, const char*> names[] = {
      {cpUnknownIssuer, "unknown or self-signed issuer"},
      {cpExpired, "expired"},
      {cpNotYetValid, "not yet valid"},
      {cpNameMismatch, "issued for another host name"},
      {cpRevoked, "revoked"}};
  std::string text;
  for (const auto& [bit, name] : names) {
    if ((problems & bit) == 0) continue;
    if (!text.empty()) text += ", ";
    text += name;
  }
  if ((problems & cpOther) != 0 || text.empty()) {
    if (!text.empty()) text += ", ";
    text += detail.empty() ? "not verified" : detail;
  }
  return text;
}

}  // namespace vorlen
