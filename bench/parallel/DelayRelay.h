// A TCP relay on loopback that holds what passes through it for a fixed time, as a long link
// would: every chunk leaves the relay delay after it arrived, in order, in both directions (or
// only towards the client). It reads no protocol; it only moves bytes.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vorlen::bench {

class TDelayRelay {
 public:
  // Listens on an ephemeral loopback port and relays each connection to targetPort.
  TDelayRelay(int targetPort, std::chrono::milliseconds delay, bool bothWays);
  TDelayRelay(const TDelayRelay&) = delete;
  TDelayRelay& operator=(const TDelayRelay&) = delete;
  ~TDelayRelay();

  int Port() const { return FPort; }

 private:
  struct TConnection;
  void Accept();

  int FTargetPort;
  std::chrono::milliseconds FDelay;
  bool FBothWays;
  int FListener = -1;
  int FPort = 0;
  std::atomic<bool> FStopping{false};
  std::thread FAcceptor;
  std::mutex FLock;
  std::vector<std::unique_ptr<TConnection>> FConnections;  // guarded by FLock
};

}  // namespace vorlen::bench
