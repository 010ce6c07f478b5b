// The bounds of the service: what one session, one peer and the whole root may hold.
#pragma once

#include <chrono>
#include <cstdint>

namespace vorlen {

struct TServiceLimits {
  int64_t MaxParts = 16384;
  // Bytes of a session's parts, and of everything delivered to it: merging the same parts under
  // many names must not multiply them on disk.
  int64_t MaxDelivered = int64_t{2} << 30;
  // Sessions handed out and neither delivered nor cleaned up yet.
  int64_t MaxSessions = 10000;

  // Storage bounds across sessions.
  int64_t MaxPeerSessions = 64;  // open sessions of one peer address
  // A session neither delivered nor cleaned up for this long is reclaimed.
  std::chrono::milliseconds SessionIdle = std::chrono::hours(24);
  // A session with nothing delivered (a details file alone is nothing) idle for this long is
  // removed with its folder: sessions cost whoever asks for them, not the service.
  std::chrono::milliseconds EmptySessionIdle = std::chrono::minutes(15);
  // GetSession calls of one peer address a minute (up to this many at once).
  int64_t PeerSessionsPerMinute = 600;
  int64_t MaxRootBytes = int64_t{64} << 30;   // everything under the root
  int64_t MinFreeBytes = int64_t{512} << 20;  // free disk space never written into
  // Files and folders under the root: each takes an inode, which a quota of bytes misses.
  int64_t MaxRootFiles = 1000000;
  int64_t MaxUnzipFiles = 1000;               // members of an archive UnZip takes
  // Unpacked bytes per archive byte; every archive may unpack to kUnzipAllowance regardless.
  int64_t MaxUnzipRatio = 200;
};

}  // namespace vorlen
