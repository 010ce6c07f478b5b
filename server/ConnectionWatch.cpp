#include "server/ConnectionWatch.h"

#include <vector>

#include "runtime/Format.h"

namespace vorlen {

namespace {

using TClock = std::chrono::steady_clock;

// Fine enough for deadlines of a second and more, cheap enough to run beside the workers.
constexpr std::chrono::milliseconds kSweepInterval{100};

long long Seconds(std::chrono::milliseconds span) {
  return static_cast<long long>((span.count() + 999) / 1000);
}

}  // namespace

TConnectionWatch::TConnectionWatch(
    TConnectionDeadlines deadlines, int perPeer, std::function<void(int)> closeSocket,
    std::function<void(const std::string&, const std::string&)> onClosed)
    : FDeadlines(deadlines),
      FPerPeer(perPeer),
      FCloseSocket(std::move(closeSocket)),
      FOnClosed(std::move(onClosed)),
      FThread([this] { Sweep(); }) {}

TConnectionWatch::~TConnectionWatch() { Stop(); }

void TConnectionWatch::Stop() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStopping = true;
  }
  FWake.notify_all();
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TConnectionWatch::Opened(const void* key, int socket, const std::string& peer,
                              const std::string& group) {
  std::unique_lock<std::mutex> lock(FLock);
  TEntry& entry = FEntries[key];
  entry.Socket = socket;
  entry.Peer = peer;
  entry.Group = group;
  entry.Phase = cpHead;
  entry.Since = TClock::now();
  if (group.empty() || ++FPerGroup[group] <= FPerPeer) return;
  // Over the peer's share: closed before it can hold a slot; counted until the server notices.
  FCloseSocket(socket);
  entry.Phase = cpClosing;
  lock.unlock();
  if (FOnClosed) FOnClosed(peer, Format("more than %d connections from %s", FPerPeer, group.c_str()));
}

void TConnectionWatch::Enter(const void* key, TPhase phase) {
  std::lock_guard<std::mutex> guard(FLock);
  const auto found = FEntries.find(key);
  if (found == FEntries.end() || found->second.Phase == cpClosing) return;
  found->second.Phase = phase;
  found->second.Since = TClock::now();
  found->second.Bytes = 0;
}

void TConnectionWatch::HeadReceived(const void* key) { Enter(key, cpBody); }
void TConnectionWatch::Answering(const void* key) { Enter(key, cpBusy); }
void TConnectionWatch::Answered(const void* key) { Enter(key, cpIdle); }

void TConnectionWatch::BodyReceived(const void* key, int64_t bytes) {
  std::lock_guard<std::mutex> guard(FLock);
  const auto found = FEntries.find(key);
  if (found != FEntries.end()) found->second.Bytes += bytes;
}

void TConnectionWatch::Closed(const void* key) {
  std::lock_guard<std::mutex> guard(FLock);
  const auto found = FEntries.find(key);
  if (found == FEntries.end()) return;
  if (!found->second.Group.empty()) {
    const auto count = FPerGroup.find(found->second.Group);
    if (count != FPerGroup.end() && --count->second <= 0) FPerGroup.erase(count);
  }
  FEntries.erase(found);
}

std::string TConnectionWatch::Overdue(const TEntry& entry, TClock::time_point now) const {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - entry.Since);
  switch (entry.Phase) {
    case cpHead:
      if (elapsed <= FDeadlines.Head) return {};
      return Format("request head not complete within %lld s", Seconds(FDeadlines.Head));
    case cpIdle:
      if (elapsed <= FDeadlines.KeepAlive) return {};
      return Format("idle for %lld s", Seconds(FDeadlines.KeepAlive));
    case cpBody: {
      const auto paced = elapsed - FDeadlines.Head;
      if (paced.count() <= 0 || entry.Bytes * 1000 >= FDeadlines.MinBodyRate * paced.count()) {
        return {};
      }
      return Format("request body slower than %lld bytes/s",
                    static_cast<long long>(FDeadlines.MinBodyRate));
    }
    default:
      return {};
  }
}

void TConnectionWatch::Sweep() {
  std::unique_lock<std::mutex> lock(FLock);
  while (!FStopping) {
    FWake.wait_for(lock, kSweepInterval);
    const auto now = TClock::now();
    std::vector<std::pair<std::string, std::string>> closed;
    for (auto& [key, entry] : FEntries) {
      std::string why = Overdue(entry, now);
      if (why.empty()) continue;
      // Under the lock: the server cannot close (and reuse) the socket meanwhile.
      FCloseSocket(entry.Socket);
      // An idle kept-alive connection closing is routine, not worth a log line.
      if (entry.Phase != cpIdle) closed.emplace_back(entry.Peer, std::move(why));
      entry.Phase = cpClosing;
    }
    if (closed.empty() || !FOnClosed) continue;
    lock.unlock();
    for (const auto& [peer, why] : closed) FOnClosed(peer, why);
    lock.lock();
  }
}

}  // namespace vorlen
