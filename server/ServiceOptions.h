// Command-line options of vorlen-service.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/Exception.h"
#include "server/ServiceLimits.h"

namespace vorlen {

// Bad usage: the message says which option and why.
class EServiceUsage : public Exception {
 public:
  using Exception::Exception;
};

struct TServiceOptions {
  std::string Host = "127.0.0.1";
  int Port = 8080;  // 0 picks a free port
  std::string Root = "./vorlen-inbox";
  int64_t MaxBody = int64_t{8} << 20;       // bytes of one request body
  int MaxParts = 16384;                     // parts per session (2 GiB in 200 KiB parts fit)
  int64_t MaxDelivered = int64_t{2} << 30;  // bytes delivered to one session
  int MaxSessions = 10000;                  // sessions at once, each until it is reclaimed
  int Threads = 8;                          // worker threads of the HTTP server
  int TimeoutSeconds = 60;                  // read and write time-out of one connection
  // An idle kept-alive connection holds a worker thread; it is closed after this many seconds.
  int KeepAliveSeconds = 2;
  // Storage bounds.
  int64_t SessionIdleSeconds = 24 * 3600;  // an open session idle this long is reclaimed
  // A session with nothing delivered idle this long is removed.
  int64_t EmptySessionIdleSeconds = 15 * 60;
  // GetSession calls of one peer address a minute.
  int PeerSessionRate = 600;
  int MaxPeerSessions = 64;                // sessions of one peer address at once
  int64_t MaxStorage = int64_t{64} << 30;  // bytes under the root
  int64_t MinFree = int64_t{512} << 20;    // free disk space never written into
  int64_t MaxFiles = 1000000;              // files and folders under the root
  int MaxUnzipFiles = 1000;                // members of an archive UnZip takes
  int MaxUnzipRatio = 200;                 // unpacked bytes per archive byte
  // Bounds on each connection, so that slow or hostile peers cannot hold the service.
  int64_t MaxHead = 32 << 10;  // memory of one connection for its request head and read buffer
  int MaxConnections = 256;    // connections at once
  // Connections at once from one peer (an IPv4 address or an IPv6 network); 0: a tenth of
  // MaxConnections, so that a few peers cannot take every slot.
  int PerAddress = 0;
  int Ipv6Prefix = 64;  // bits of an IPv6 address that make one peer
  // Reverse proxies (addresses or CIDR ranges) whose X-Forwarded-For names the peer; their own
  // connections count only against MaxConnections.
  std::vector<std::string> TrustedProxies;
  // The header those proxies write: X-Forwarded-For, or the standard Forwarded. Only the one the
  // proxies write can be read: a client may send either, and a proxy passes on what it does not
  // write, so reading the other would let the client choose its own peer.
  bool StandardForwarded = false;
  int HeadSeconds = 10;        // a request head must be complete within this time
  // Bytes per second a body must keep up after HeadSeconds, over any RateWindowSeconds.
  int64_t MinRate = 1024;
  int RateWindowSeconds = 10;
  // Request body bytes held at once by every connection together (beyond 64 KiB in temporary
  // files); a body that would pass it is cut off.
  int64_t MaxHeld = int64_t{512} << 20;
  int StopSeconds = 10;        // longest wait for busy requests at a stop
  // https with this certificate (chain) and key, PEM files; both or neither.
  std::string TlsCert;
  std::string TlsKey;
  bool Help = false;
};

// Connections at once from one peer: PerAddress, or its default.
int PerPeerConnections(const TServiceOptions& options);
// Connections the server accepts at once: a few beyond MaxConnections, so that when every slot
// is taken a new one can still be seen and room made for it.
int AcceptedConnections(const TServiceOptions& options);

// The bounds the options give the service's operations.
TServiceLimits ServiceLimitsOf(const TServiceOptions& options);

// Parses the arguments after the program name ("--name value" or "--name=value"). Sizes take an
// optional K, M or G suffix (binary). Raises EServiceUsage.
TServiceOptions ParseServiceOptions(const std::vector<std::string>& args);

// The --help text.
std::string ServiceUsage();

}  // namespace vorlen
