// vorlen-send: the window's send workflow from the command line.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "soap/SenderService.h"

namespace vorlen {

// Runs one send; returns the exit code: 0 when the service merged the file (and was asked to
// unpack a packed one), 1 on any failure with its text on err, 2 for bad usage.
int RunSendTool(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err);

// The service reference for a URL whose https certificate may be the one with the fingerprint
// trustedCertificate (empty: only verifiable ones); the program binds through the HTTP proxy.
using TSendBinder = std::function<ISenderServicePtr(const std::string& url,
                                                    const std::string& trustedCertificate)>;
// The program's own binding: a proxy with the window's pre-post hook.
ISenderServicePtr BindSendToolService(const std::string& url,
                                      const std::string& trustedCertificate);
int RunSendTool(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err, const TSendBinder& binder);

}  // namespace vorlen
