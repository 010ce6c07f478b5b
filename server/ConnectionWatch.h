// Deadlines for the connections of the HTTP server: a request head must be complete within a
// time, a body must keep up a minimum rate, and a kept-alive connection must start its next
// request soon. The server only reports each connection's phase; a thread of this class closes
// the ones that fall behind, so a slow peer holds a socket for a bounded time and never a worker.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorlen {

struct TConnectionDeadlines {
  std::chrono::milliseconds Head{10000};      // from accept to a complete request head
  std::chrono::milliseconds KeepAlive{2000};  // from an answer to the next complete head
  int64_t MinBodyRate = 1024;                 // bytes per second, after Head as grace,
  std::chrono::seconds RateWindow{10};        // judged over the last this long (at most 60 s)
};

class TConnectionWatch {
 public:
  // closeSocket ends a connection from outside its worker (the server notices and cleans up);
  // onClosed is told which peer is being closed and why (under the watch's lock, just before the
  // close: it must not call back into the watch). perPeer bounds the connections of one peer
  // group at once; beyond maxConnections in all, the group holding the most gives one up.
  TConnectionWatch(TConnectionDeadlines deadlines, int perPeer, int maxConnections,
                   std::function<void(int socket)> closeSocket,
                   std::function<void(const std::string& peer, const std::string& why)> onClosed);
  TConnectionWatch(const TConnectionWatch&) = delete;
  TConnectionWatch& operator=(const TConnectionWatch&) = delete;
  ~TConnectionWatch();  // stops the thread

  // Keys are the server's connection handles. Each call starts a new phase at the current time.
  // group is what the per-peer bound counts (empty: not counted, as for a trusted proxy); a
  // connection beyond it is closed at once.
  void Opened(const void* key, int socket, const std::string& peer, const std::string& group);
  void HeadReceived(const void* key);
  void BodyReceived(const void* key, int64_t bytes);
  void Answering(const void* key);  // the request is being handled: no deadline
  void Answered(const void* key);   // waiting for the next request on the same connection
  // Must come before the server closes the socket, so that a late close never hits a reused one.
  void Closed(const void* key);

  void Stop();

 private:
  enum TPhase { cpHead, cpIdle, cpBody, cpBusy, cpClosing };
  struct TEntry {
    int Socket = -1;
    std::string Peer;
    std::string Group;
    TPhase Phase = cpHead;
    std::chrono::steady_clock::time_point Since;
    // Body bytes of each second of the phase, the last RateWindow of them (a ring).
    std::vector<int64_t> Slots;
    int64_t Second = 0;  // the phase's second that Slots ends with
  };
  // Moves entry's ring on to second, forgetting the seconds that leave the window.
  static void Advance(TEntry& entry, int64_t second);

  void Enter(const void* key, TPhase phase);
  // Why the connection is overdue at now, or empty.
  std::string Overdue(TEntry& entry, std::chrono::steady_clock::time_point now) const;
  void Sweep();
  void MakeRoom();
  void CloseEntry(TEntry& entry, const std::string& why);

  TConnectionDeadlines FDeadlines;
  int FPerPeer;
  int FMaxConnections;
  std::function<void(int)> FCloseSocket;
  std::function<void(const std::string&, const std::string&)> FOnClosed;
  std::mutex FLock;
  std::condition_variable FWake;
  bool FStopping = false;
  std::map<const void*, TEntry> FEntries;
  std::map<std::string, int> FPerGroup;  // open connections of each counted peer group
  std::thread FThread;
};

}  // namespace vorlen
