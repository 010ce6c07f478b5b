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
// The certificate that request met, with the problems that code and the platform's chain name;
// false when WinINet hands out no certificate for the request (Wine does not after a failed
// send).
bool ServerCertificateOf(HINTERNET request, DWORD code, TServerCertificate& certificate);
// The certificate of host:port learnt by a request of its own that carries nothing of the
// caller's: a HEAD of path over a new session without credentials, whatever the certificate's
// problems. False when that brought no certificate either.
bool ProbeServerCertificate(const std::string& agent, const std::string& proxy,
                            const std::string& byPass, const std::string& host, int port,
                            const std::string& path, DWORD code, TServerCertificate& certificate);

}  // namespace vorlen
