#include "transport/TlsPeerCheck.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <ctime>
#include <memory>

namespace vorlen {

namespace {

// The chain's problems gathered while OpenSSL walks it: the walk is told to go on after each,
// so that an expired self-signed certificate names both. Set only inside X509_verify_cert.
thread_local uint32_t* gProblems = nullptr;
thread_local std::string* gDetail = nullptr;

uint32_t ProblemOf(int error) {
  switch (error) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return cpUnknownIssuer;
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return cpExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return cpNotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return cpNameMismatch;
    case X509_V_ERR_CERT_REVOKED:
      return cpRevoked;
    default:
      return cpOther;
  }
}

int CollectProblem(int ok, X509_STORE_CTX* store) {
  if (ok == 0 && gProblems != nullptr) {
    const int error = X509_STORE_CTX_get_error(store);
    const uint32_t problem = ProblemOf(error);
    *gProblems |= problem;
    if (problem == cpOther && gDetail->empty()) *gDetail = X509_verify_cert_error_string(error);
  }
  return 1;
}

std::string NameText(const X509_NAME* name) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  if (!bio || name == nullptr) return std::string();
  X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

std::string TimeText(const ASN1_TIME* time) {
  struct tm parts {};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return std::string();
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

bool HostMatches(X509* certificate, const std::string& host) {
  if (host.find(':') != std::string::npos || host.find_first_not_of("0123456789.") == std::string::npos)
    return X509_check_ip_asc(certificate, host.c_str(), 0) == 1;
  return X509_check_host(certificate, host.data(), host.size(), 0, nullptr) == 1;
}

}  // namespace

void TTlsPeerCheck::Reset(const std::string& host, int port, const std::string& trusted) {
  FTrusted = trusted;
  FRefused = false;
  FCertificate = TServerCertificate();
  FCertificate.Host = host;
  FCertificate.Port = port;
}

bool TTlsPeerCheck::Install(CURL* handle) {
  // As the curl program does: a bundle named here replaces the system's roots.
  const char* bundle = std::getenv("CURL_CA_BUNDLE");
  if (bundle != nullptr && *bundle != '\0') curl_easy_setopt(handle, CURLOPT_CAINFO, bundle);
  const bool installed =
      curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &TTlsPeerCheck::ContextCallback) ==
          CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, this) == CURLE_OK;
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  // The host name is checked here, where a trusted fingerprint may still pass a certificate
  // issued for another name; without the check installed, libcurl's own check stays.
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, installed ? 0L : 2L);
  return installed;
}

CURLcode TTlsPeerCheck::ContextCallback(CURL*, void* context, void* self) {
  SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(context), &TTlsPeerCheck::VerifyCallback,
                                   self);
  return CURLE_OK;
}

int TTlsPeerCheck::VerifyCallback(X509_STORE_CTX* store, void* self) {
  return static_cast<TTlsPeerCheck*>(self)->Verify(store);
}

int TTlsPeerCheck::Verify(X509_STORE_CTX* store) {
  X509* leaf = X509_STORE_CTX_get0_cert(store);
  if (leaf == nullptr) return 0;
  uint32_t problems = 0;
  std::string detail;
  gProblems = &problems;
  gDetail = &detail;
  X509_STORE_CTX_set_verify_cb(store, &CollectProblem);
  const int chained = X509_verify_cert(store);
  gProblems = nullptr;
  gDetail = nullptr;
  if (chained <= 0 && problems == 0) problems = cpOther;
  if (!HostMatches(leaf, FCertificate.Host)) problems |= cpNameMismatch;
  if (problems == 0) {
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
  }

  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(leaf, EVP_sha256(), hash, &length) != 1 || length != 32) return 0;
  const std::string fingerprint = FingerprintText(hash, length);
  if (!FTrusted.empty() && fingerprint == FTrusted) {
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
  }
  FRefused = true;
  FCertificate.Problems = problems;
  FCertificate.Detail = detail;
  FCertificate.Subject = NameText(X509_get_subject_name(leaf));
  FCertificate.Issuer = NameText(X509_get_issuer_name(leaf));
  FCertificate.NotBefore = TimeText(X509_get0_notBefore(leaf));
  FCertificate.NotAfter = TimeText(X509_get0_notAfter(leaf));
  FCertificate.Fingerprint = fingerprint;
  X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
  return 0;
}

}  // namespace vorlen
