// Command line of vorlen-send.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "runtime/Exception.h"
#include "send/UploadRules.h"

namespace vorlen {

// Bad usage; the message says what is wrong.
class ESendUsage : public Exception {
 public:
  using Exception::Exception;
};

struct TSendOptions {
  std::optional<std::string> Url;
  std::optional<std::string> Org;
  bool Pack = false;
  std::optional<int> Retry;  // answers to the retry question when given
  int Parallel = 1;          // parts uploaded at once
  std::string TrustCert;     // --trust-cert, as NormalFingerprint gives it; empty when not given
  std::string File;
  bool Help = false;
};

// Parses the arguments after the program name ("--name value" or "--name=value"); raises
// ESendUsage.
TSendOptions ParseSendOptions(const std::vector<std::string>& args);

std::string SendUsage();

}  // namespace vorlen
