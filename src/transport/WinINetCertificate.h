// The server certificate of a WinINet https request as the transport judges it: which errors
// are certificate problems, the security flag that passes each, and the certificate itself
// (from the request's server-certificate chain, fingerprint hashed by the platform).
#pragma once

#include <windows.h>

#include <wininet.h>

#include <cstdint>
#include <string>

#include "transport/ServerCertificate.h"

namespace vorlen {

// 12045 unknown CA, 12037 date, 12038 name, 12057 revocation unknown, and their kin.
bool IsCertificateError(DWORD code);
// The SECURITY_FLAG_IGNORE_* bit that lets the send past code (0 when none does).
uint32_t IgnoreFlagOf(DWORD code);
// The certificate that request met, with the problems that code and the platform's chain name.
// Fingerprint is empty when WinINet hands out no certificate.
TServerCertificate ServerCertificateOf(HINTERNET request, const std::string& host, int port,
                                       DWORD code);

}  // namespace vorlen
