// Trusting a service's own certificate: the fingerprint remembered in sendcfg.ini for one
// address ("cert=HOST:PORT AB:CD:…"), the operator's question and what follows from the answer.
#pragma once

#include <functional>
#include <string>

#include "transport/ServerCertificate.h"
#include "send/IOperatorView.h"
#include "send/SettingsFile.h"

namespace vorlen {

// The remembered fingerprint when it belongs to host and port; empty otherwise.
std::string RememberedCertificate(const TSettingEntries& entries, const std::string& host,
                                  int port);
// Remembers fingerprint for host and port, in place of any other address's.
void RememberCertificate(TSettingEntries& entries, const std::string& host, int port,
                         const std::string& fingerprint);

// The certificate's problems in the operator's words, comma separated.
std::string CertificateProblemsText(const TServerCertificate& certificate);
// What the operator is told about the certificate: address, reasons, subject, issuer, validity
// and fingerprint, one per line; replaced puts the warning about a changed certificate first.
std::string CertificateDescription(const TServerCertificate& certificate, bool replaced);

// Asks the operator whether to trust certificate. Yes: it is remembered in entries and save is
// called. No: the refusal is shown and false returned. A different certificate at an address
// with a remembered one is asked with the warning first and No as the default.
bool AskCertificateTrust(IOperatorView& view, TSettingEntries& entries,
                         const TServerCertificate& certificate, const std::function<void()>& save);

}  // namespace vorlen
