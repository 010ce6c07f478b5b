#include "send/CertificateTrust.h"

#include <functional>

#include "send/OperatorTexts.h"

namespace vorlen {

namespace {

constexpr const char* kCertName = "cert";

}  // namespace

std::string RememberedCertificate(const TSettingEntries& entries, const std::string& host,
                                  int port) {
  const std::string value = EntryValue(entries, kCertName);
  const size_t space = value.rfind(' ');
  if (space == std::string::npos || value.substr(0, space) != CertificateAddress(host, port))
    return std::string();
  return NormalFingerprint(value.substr(space + 1));
}

void RememberCertificate(TSettingEntries& entries, const std::string& host, int port,
                         const std::string& fingerprint) {
  SetEntryValue(entries, kCertName, CertificateAddress(host, port) + " " + fingerprint);
}

std::string CertificateProblemsText(const TServerCertificate& certificate) {
  static const std::pair<uint32_t, const char*> names[] = {
      {cpUnknownIssuer, CertificateUnknownIssuer}, {cpExpired, CertificateExpired},
      {cpNotYetValid, CertificateNotYetValid},     {cpNameMismatch, CertificateNameMismatch},
      {cpRevoked, CertificateRevoked}};
  std::string text;
  for (const auto& [bit, name] : names) {
    if ((certificate.Problems & bit) == 0) continue;
    if (!text.empty()) text += ", ";
    text += name;
  }
  if ((certificate.Problems & cpOther) != 0 || text.empty()) {
    if (!text.empty()) text += ", ";
    text += certificate.Detail.empty() ? CertificateNotVerified : certificate.Detail;
  }
  return text;
}

std::string CertificateDescription(const TServerCertificate& certificate, bool replaced) {
  std::string text;
  if (replaced) text += std::string(CertificateReplaced) + "\n\n";
  text += std::string(CertificateNotVerified) + "\n\n";
  text += CertificateAddressLabel + CertificateAddress(certificate.Host, certificate.Port) + "\n";
  text += CertificateReasonsLabel + CertificateProblemsText(certificate) + "\n";
  text += CertificateSubjectLabel + certificate.Subject + "\n";
  text += CertificateIssuerLabel + certificate.Issuer + "\n";
  text += CertificateValidLabel + certificate.NotBefore + CertificateValidUntil +
          certificate.NotAfter + "\n";
  text += CertificateFingerprintLabel + certificate.Fingerprint;
  return text;
}

bool AskCertificateTrust(IOperatorView& view, TSettingEntries& entries,
                         const TServerCertificate& certificate, const std::function<void()>& save) {
  const std::string remembered =
      RememberedCertificate(entries, certificate.Host, certificate.Port);
  const bool replaced = !remembered.empty() && remembered != certificate.Fingerprint;
  const std::string question =
      CertificateDescription(certificate, replaced) + "\n\n" + CertificateQuestion;
  if (!view.ConfirmCertificate(question, replaced)) {
    view.ShowError(CertificateRefused);
    return false;
  }
  RememberCertificate(entries, certificate.Host, certificate.Port, certificate.Fingerprint);
  if (save) save();
  return true;
}

}  // namespace vorlen
