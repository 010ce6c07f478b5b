#include "server/ServiceOptions.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <utility>

#include "runtime/Format.h"
#include "server/PeerAddress.h"

namespace vorlen {

namespace {

int64_t ParseNumber(const std::string& option, const std::string& text, bool allowSuffix,
                    int64_t min, int64_t max) {
  std::string digits = text;
  int shift = 0;
  if (allowSuffix && !digits.empty()) {
    switch (digits.back()) {
      case 'K':
      case 'k':
        shift = 10;
        break;
      case 'M':
      case 'm':
        shift = 20;
        break;
      case 'G':
      case 'g':
        shift = 30;
        break;
      default:
        break;
    }
    if (shift != 0) digits.pop_back();
  }
  int64_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
  if (digits.empty() || ec != std::errc() || ptr != end) {
    throw EServiceUsage(Format("%s: '%s' is not a number", option.c_str(), text.c_str()));
  }
  if (value > (std::numeric_limits<int64_t>::max() >> shift))
    value = max + 1;
  else
    value <<= shift;
  if (value < min || value > max) {
    throw EServiceUsage(Format("%s: %s is out of range (%lld to %lld)", option.c_str(),
                               text.c_str(), static_cast<long long>(min),
                               static_cast<long long>(max)));
  }
  return value;
}

// Seconds, or a number with s, m, h or d; from one second to a year.
int64_t ParseDuration(const std::string& option, const std::string& text) {
  static const std::pair<char, int64_t> kUnits[] = {{'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}};
  int64_t unit = 1;
  std::string digits = text;
  for (const auto& [suffix, seconds] : kUnits) {
    if (!digits.empty() && digits.back() == suffix) {
      unit = seconds;
      digits.pop_back();
      break;
    }
  }
  int64_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
  if (digits.empty() || ec != std::errc() || ptr != end) {
    throw EServiceUsage(Format("%s: '%s' is not a duration", option.c_str(), text.c_str()));
  }
  constexpr int64_t kYear = int64_t{366} * 86400;
  if (value < 1 || value > kYear / unit) {
    throw EServiceUsage(
        Format("%s: %s is out of range (1s to 366d)", option.c_str(), text.c_str()));
  }
  return value * unit;
}

}  // namespace

int PerPeerConnections(const TServiceOptions& options) {
  return options.PerAddress > 0 ? options.PerAddress : std::max(1, options.MaxConnections / 10);
}

int AcceptedConnections(const TServiceOptions& options) {
  return options.MaxConnections + std::max(4, options.MaxConnections / 32);
}

TServiceLimits ServiceLimitsOf(const TServiceOptions& options) {
  TServiceLimits limits;
  limits.MaxParts = options.MaxParts;
  limits.MaxDelivered = options.MaxDelivered;
  limits.MaxSessions = options.MaxSessions;
  limits.MaxPeerSessions = options.MaxPeerSessions;
  limits.SessionIdle = std::chrono::seconds(options.SessionIdleSeconds);
  limits.EmptySessionIdle = std::chrono::seconds(options.EmptySessionIdleSeconds);
  limits.PeerSessionsPerMinute = options.PeerSessionRate;
  limits.MaxRootBytes = options.MaxStorage;
  limits.MinFreeBytes = options.MinFree;
  limits.MaxRootFiles = options.MaxFiles;
  limits.MaxUnzipFiles = options.MaxUnzipFiles;
  limits.MaxUnzipRatio = options.MaxUnzipRatio;
  return limits;
}

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
    static const char* const kValued[] = {"--host", "--port", "--root", "--max-body", "--max-parts",
                                          "--max-delivered", "--max-sessions", "--threads",
                                          "--timeout", "--keep-alive",
                                          // storage bounds
                                          "--session-idle", "--max-peer-sessions", "--max-storage",
                                          "--min-free", "--max-unzip-files", "--max-unzip-ratio",
                                          "--max-files",
                                          // connection bounds
                                          "--max-head", "--max-connections", "--per-address",
                                          "--head-timeout", "--min-rate", "--stop-timeout",
                                          "--rate-window", "--max-held", "--tls-cert", "--tls-key",
                                          // peers
                                          "--ipv6-prefix", "--trusted-proxy", "--forwarded-header",
                                          // storage bounds of sessions with nothing delivered
                                          "--empty-session-idle", "--session-rate"};
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
    } else if (name == "--session-idle") {
      options.SessionIdleSeconds = ParseDuration(name, value);
    } else if (name == "--empty-session-idle") {
      options.EmptySessionIdleSeconds = ParseDuration(name, value);
    } else if (name == "--session-rate") {
      options.PeerSessionRate = static_cast<int>(ParseNumber(name, value, false, 1, 1 << 24));
    } else if (name == "--max-peer-sessions") {
      options.MaxPeerSessions = static_cast<int>(ParseNumber(name, value, false, 1, 1 << 24));
    } else if (name == "--max-storage") {
      options.MaxStorage = ParseNumber(name, value, true, 1 << 20, int64_t{1} << 50);
    } else if (name == "--min-free") {
      options.MinFree = ParseNumber(name, value, true, 0, int64_t{1} << 50);
    } else if (name == "--max-files") {
      options.MaxFiles = ParseNumber(name, value, false, 100, int64_t{1} << 40);
    } else if (name == "--max-unzip-files") {
      options.MaxUnzipFiles = static_cast<int>(ParseNumber(name, value, false, 1, 1 << 24));
    } else if (name == "--max-unzip-ratio") {
      options.MaxUnzipRatio = static_cast<int>(ParseNumber(name, value, false, 1, 1 << 20));
    } else if (name == "--max-head") {
      options.MaxHead = ParseNumber(name, value, true, 4096, int64_t{1} << 20);
    } else if (name == "--max-connections") {
      options.MaxConnections = static_cast<int>(ParseNumber(name, value, false, 1, 100000));
    } else if (name == "--per-address") {
      options.PerAddress = static_cast<int>(ParseNumber(name, value, false, 1, 100000));
    } else if (name == "--ipv6-prefix") {
      options.Ipv6Prefix = static_cast<int>(ParseNumber(name, value, false, 1, 128));
    } else if (name == "--trusted-proxy") {
      // A comma-separated list; the option may also come more than once.
      for (size_t at = 0; at <= value.size();) {
        const size_t comma = std::min(value.find(',', at), value.size());
        const std::string range = value.substr(at, comma - at);
        if (!ParseAddressRange(range)) {
          throw EServiceUsage(
              Format("--trusted-proxy: '%s' is no address or address range", range.c_str()));
        }
        options.TrustedProxies.push_back(range);
        at = comma + 1;
      }
    } else if (name == "--forwarded-header") {
      if (strcasecmp(value.c_str(), "Forwarded") == 0) {
        options.StandardForwarded = true;
      } else if (strcasecmp(value.c_str(), "X-Forwarded-For") == 0) {
        options.StandardForwarded = false;
      } else {
        throw EServiceUsage("--forwarded-header: X-Forwarded-For or Forwarded");
      }
    } else if (name == "--head-timeout") {
      options.HeadSeconds = static_cast<int>(ParseNumber(name, value, false, 1, 3600));
    } else if (name == "--min-rate") {
      options.MinRate = ParseNumber(name, value, true, 0, int64_t{1} << 30);
    } else if (name == "--tls-cert" || name == "--tls-key") {
      if (value.empty()) throw EServiceUsage(Format("%s: empty file name", name.c_str()));
      (name == "--tls-cert" ? options.TlsCert : options.TlsKey) = value;
    } else if (name == "--rate-window") {
      options.RateWindowSeconds = static_cast<int>(ParseNumber(name, value, false, 1, 60));
    } else if (name == "--max-held") {
      options.MaxHeld = ParseNumber(name, value, true, 1 << 20, int64_t{1} << 40);
    } else if (name == "--stop-timeout") {
      options.StopSeconds = static_cast<int>(ParseNumber(name, value, false, 0, 3600));
    } else {
      options.TimeoutSeconds = static_cast<int>(ParseNumber(name, value, false, 1, 3600));
    }
  }
  if (options.TlsCert.empty() != options.TlsKey.empty())
    throw EServiceUsage("--tls-cert and --tls-key go together");
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
         "  --max-sessions N     most sessions at once, each until it is reclaimed\n"
         "                       (default 10000)\n"
         "  --threads N          worker threads (default 8)\n"
         "  --timeout SECONDS    read and write time-out of a connection (default 60)\n"
         "  --keep-alive SECONDS idle time before a kept-alive connection closes (default 2)\n"
         "  --session-idle TIME  reclaim an open session idle this long; seconds, or with s,\n"
         "                       m, h or d (default 24h)\n"
         "  --empty-session-idle TIME  remove a session with nothing delivered (a details\n"
         "                       file alone is nothing) idle this long (default 15m)\n"
         "  --session-rate N     most sessions a minute for one address (default 600)\n"
         "  --max-peer-sessions N  most sessions of one address at once (default 64)\n"
         "  --max-storage SIZE   most bytes under the root (default 64G)\n"
         "  --min-free SIZE      free disk space the service never writes into (default 512M)\n"
         "  --max-files N        most files and folders under the root (default 1000000)\n"
         "  --max-unzip-files N  most files UnZip makes of one archive (default 1000)\n"
         "  --max-unzip-ratio N  most unpacked bytes per archive byte, beyond 1M (default 200)\n"
         "  --max-head SIZE      memory of a connection for its request head (default 32K)\n"
         "  --max-connections N  connections at once (default 256)\n"
         "  --per-address N      connections at once from one peer: an IPv4 address or an\n"
         "                       IPv6 network (default: max-connections / 10)\n"
         "  --ipv6-prefix BITS   leading bits of an IPv6 address that make one peer\n"
         "                       (default 64)\n"
         "  --trusted-proxy LIST reverse proxies (addresses or CIDR ranges, comma-separated)\n"
         "                       whose X-Forwarded-For names the peer\n"
         "  --forwarded-header NAME  the header those proxies write: X-Forwarded-For\n"
         "                       (default) or Forwarded (its for=)\n"
         "  --head-timeout SECONDS  time for a request head to arrive (default 10)\n"
         "  --min-rate SIZE      bytes per second a request body must keep up over any\n"
         "                       --rate-window SECONDS (defaults 1K and 10)\n"
         "  --max-held SIZE      request body bytes held at once by all connections; bodies\n"
         "                       beyond 64K wait in temporary files (default 512M)\n"
         "  --stop-timeout SECONDS  longest wait for busy requests at a stop (default 10)\n"
         "  --tls-cert FILE      serve https with this PEM certificate (chain first)\n"
         "  --tls-key FILE       and this PEM private key (http without both)\n"
         "  --help               this text\n"
         "\n"
         "Sizes take an optional K, M or G suffix. Each session gets ROOT/<session>/ with\n"
         "parts/ (uploaded parts), delivered/ (the merged or unpacked files) and\n"
         "sendDetails.txt; a session holding delivered files or sendDetails.txt is never\n"
         "removed. SIGINT or SIGTERM stops the service.\n";
}

}  // namespace vorlen
