// The certificate check of an https connection on libcurl (OpenSSL underneath): the chain
// against the trusted roots and the host name against the certificate, decided during the TLS
// handshake, so that a refused certificate ends the connection before a byte of the request
// leaves. A certificate whose SHA-256 fingerprint is the trusted one passes all the same.
#pragma once

#include <curl/curl.h>
#include <openssl/types.h>

#include <string>

#include "transport/ServerCertificate.h"

namespace vorlen {

class TTlsPeerCheck {
 public:
  // host as in the URL (no IPv6 brackets); trusted: a NormalFingerprint or empty.
  void Reset(const std::string& host, int port, const std::string& trusted);
  // Installs the check on handle for its next transfer; false when libcurl's TLS library does
  // not let it (then libcurl's own checks stay on, without trusted fingerprints).
  bool Install(CURL* handle);

  // The handshake's certificate was refused; Certificate() says why.
  bool Refused() const { return FRefused; }
  const TServerCertificate& Certificate() const { return FCertificate; }

 private:
  static CURLcode ContextCallback(CURL* handle, void* context, void* self);
  static int VerifyCallback(X509_STORE_CTX* store, void* self);
  int Verify(X509_STORE_CTX* store);

  std::string FTrusted;
  bool FRefused = false;
  TServerCertificate FCertificate;
};

}  // namespace vorlen
