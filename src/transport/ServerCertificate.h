// What the transport tells about a server certificate that the platform could not verify, the
// exception that carries it, and the SHA-256 fingerprints by which an operator trusts one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "transport/SOAPHTTPException.h"

namespace vorlen {

// Why a certificate could not be verified; any combination.
enum TCertificateProblem : uint32_t {
  cpUnknownIssuer = 1,  // unknown or self-signed issuer, incomplete chain
  cpExpired = 2,
  cpNotYetValid = 4,
  cpNameMismatch = 8,  // issued for another host name
  cpRevoked = 16,
  cpOther = 32,        // the platform's text in Detail
};

struct TServerCertificate {
  std::string Host;  // of the URL, without IPv6 brackets
  int Port = 0;
  uint32_t Problems = 0;  // TCertificateProblem bits
  std::string Detail;     // the platform's own words for the failure, when any
  std::string Subject;
  std::string Issuer;
  std::string NotBefore;  // "YYYY-MM-DD HH:MM:SS UTC"
  std::string NotAfter;
  std::string Fingerprint;  // SHA-256 of the DER bytes, "AB:CD:…" (32 upper-case hex pairs)
};

// https refused before anything of the call was sent: the certificate could not be verified
// and was not the trusted one.
class ECertificateUntrusted : public ESOAPHTTPException {
 public:
  ECertificateUntrusted(const std::string& url, TServerCertificate certificate);
  TServerCertificate Certificate;
};

// "AB:CD:…" for 32 bytes of a SHA-256 hash.
std::string FingerprintText(const unsigned char* hash, size_t length);
// A fingerprint as an operator may give it (hex pairs with or without colons, any letter case)
// in the form above; empty when the text is not 32 hex pairs.
std::string NormalFingerprint(std::string_view text);
// "host:port", an IPv6 host in brackets: the address a trusted certificate belongs to.
std::string CertificateAddress(const std::string& host, int port);
// The problems in English, comma separated, for messages and logs.
std::string ProblemsText(uint32_t problems, const std::string& detail);

}  // namespace vorlen
