#include "server/ServiceOptions.h"

#include <charconv>
#include <limits>

#include "runtime/Format.h"

namespace vorlen {

namespace {

int64_t ParseNumber(const std::string& option, const std::string& text, bool allowSuffix,
                    int64_t min, int64_t max) {
  std::string digits = text;
  int shift = 0;
  if (allowSuffix && !digits.empty()) {
    switch (digits.back()) {
      case 'K': case 'k': shift = 10; break;
      case 'M': case 'm': shift = 20; break;
      case 'G': case 'g': shift = 30; break;
      default: break;
    }
    if (shift != 0) digits.pop_back();
  }
  int64_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
  if (digits.empty() || ec != std::errc() || ptr != end) {
    throw EServiceUsage(Format("%s: '%s' is not a number", option.c_str(), text.c_str()));
  }
  if (value > (std::numeric_limits<int64_t>::max() >> shift)) value = max + 1;
  else value <<= shift;
  if (value < min || value > max) {
    throw EServiceUsage(Format("%s: %s is out of range (%lld to %lld)", option.c_str(),
                               text.c_str(), static_cast<long long>(min),
                               static_cast<long long>(max)));
  }
  return value;
}

}  // namespace

TServiceOptions ParseServiceOptions(const std::vector<std::string>& args) {
  TServiceOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (const size_t eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasValue = true;
    }
    if (name == "--help" || name == "-h") {
      if (hasValue) throw EServiceUsage(Format("%s takes no value", name.c_str()));
      options.Help = true;
      continue;
    }
    static const char* const kValued[] = {"--host", "--port", "--root", "--max-body",
                                          "--max-parts", "--max-delivered", "--max-sessions",
                                          "--threads", "--timeout", "--keep-alive",
                                          "--max-head", "--max-connections", "--per-address",
                                          "--head-timeout", "--min-rate", "--stop-timeout"};
    bool known = false;
    for (const char* valued : kValued) known = known || name == valued;
    if (!known) throw EServiceUsage(Format("unknown option '%s'", name.c_str()));
    if (!hasValue) {
      if (i + 1 >= args.size()) throw EServiceUsage(Format("%s needs a value", name.c_str()));
      value = args[++i];
    }
    if (name == "--host") {
      if (value.empty()) throw EServiceUsage("--host: empty host");
      options.Host = value;
    } else if (name == "--port") {
      options.Port = static_cast<int>(ParseNumber(name, value, false, 0, 65535));
    } else if (name == "--root") {
      if (value.empty()) throw EServiceUsage("--root: empty directory");
      options.Root = value;
    } else if (name == "--max-body") {
      options.MaxBody = ParseNumber(name, value, true, 4096, int64_t{1} << 30);
    } else if (name == "--max-parts") {
      options.MaxParts = static_cast<int>(ParseNumber(name, value, false, 1, 1 << 24));
    } else if (name == "--max-delivered") {
      options.MaxDelivered = ParseNumber(name, value, true, 1, int64_t{1} << 40);
    } else if (name == "--max-sessions") {
      options.MaxSessions = static_cast<int>(ParseNumber(name, value, false, 1, 1 << 24));
    } else if (name == "--threads") {
      options.Threads = static_cast<int>(ParseNumber(name, value, false, 1, 256));
    } else if (name == "--keep-alive") {
      options.KeepAliveSeconds = static_cast<int>(ParseNumber(name, value, false, 1, 300));
    } else if (name == "--max-head") {
      options.MaxHead = ParseNumber(name, value, true, 4096, int64_t{1} << 20);
    } else if (name == "--max-connections") {
      options.MaxConnections = static_cast<int>(ParseNumber(name, value, false, 1, 100000));
    } else if (name == "--per-address") {
      options.PerAddress = static_cast<int>(ParseNumber(name, value, false, 1, 100000));
    } else if (name == "--head-timeout") {
      options.HeadSeconds = static_cast<int>(ParseNumber(name, value, false, 1, 3600));
    } else if (name == "--min-rate") {
      options.MinRate = ParseNumber(name, value, true, 0, int64_t{1} << 30);
    } else if (name == "--stop-timeout") {
      options.StopSeconds = static_cast<int>(ParseNumber(name, value, false, 0, 3600));
    } else {
      options.TimeoutSeconds = static_cast<int>(ParseNumber(name, value, false, 1, 3600));
    }
  }
  return options;
}

std::string ServiceUsage() {
  return "Usage: vorlen-service [options]\n"
         "Receives files uploaded by Vorlen Sender (SOAP 1.1 over HTTP).\n"
         "\n"
         "  --host HOST          address to listen on (default 127.0.0.1)\n"
         "  --port PORT          port to listen on; 0 picks a free one (default 8080)\n"
         "  --root DIR           folder that receives the sessions (default ./vorlen-inbox)\n"
         "  --max-body SIZE      largest request body (default 8M)\n"
         "  --max-parts N        most parts in one session (default 16384)\n"
         "  --max-delivered SIZE most bytes delivered to one session (default 2G)\n"
         "  --max-sessions N     most session folders under the root (default 10000)\n"
         "  --threads N          worker threads (default 8)\n"
         "  --timeout SECONDS    read and write time-out of a connection (default 60)\n"
         "  --keep-alive SECONDS idle time before a kept-alive connection closes (default 2)\n"
         "  --max-head SIZE      memory of a connection for its request head (default 32K)\n"
         "  --max-connections N  connections at once (default 256)\n"
         "  --per-address N      connections at once from one address (default 32)\n"
         "  --head-timeout SECONDS  time for a request head to arrive (default 10)\n"
         "  --min-rate SIZE      bytes per second a request body must keep up (default 1K)\n"
         "  --stop-timeout SECONDS  longest wait for busy requests at a stop (default 10)\n"
         "  --help               this text\n"
         "\n"
         "Sizes take an optional K, M or G suffix. Each session gets ROOT/<session>/ with\n"
         "parts/ (uploaded parts), delivered/ (the merged or unpacked files) and\n"
         "sendDetails.txt. SIGINT or SIGTERM stops the service.\n";
}

}  // namespace vorlen
