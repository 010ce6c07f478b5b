#include "server/ConnectionWatch.h"

#include <algorithm>
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
    TConnectionDeadlines deadlines, int perPeer, int maxConnections,
    std::function<void(int)> closeSocket,
    std::function<void(const std::string&, const std::string&)> onClosed)
    : FDeadlines(deadlines),
      FPerPeer(perPeer),
      FMaxConnections(maxConnections),
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
  std::lock_guard<std::mutex> guard(FLock);
  TEntry& entry = FEntries[key];
  entry.Socket = socket;
  entry.Peer = peer;
  entry.Group = group;
  entry.Phase = cpHead;
  entry.Since = TClock::now();
  if (!group.empty() && ++FPerGroup[group] > FPerPeer) {
    // Over the peer's share: closed before it can hold a slot; counted until the server notices.
    CloseEntry(entry, Format("more than %d connections from %s", FPerPeer, group.c_str()));
    return;
  }
  MakeRoom();
}

// With FLock held.
void TConnectionWatch::CloseEntry(TEntry& entry, const std::string& why) {
  if (FOnClosed) FOnClosed(entry.Peer, why);
  FCloseSocket(entry.Socket);
  entry.Phase = cpClosing;
}

// With FLock held, every slot taken: the peer group holding the most connections gives up the
// one that has waited longest without being served (for its head, or for its next request), so
// that a few groups cannot keep everyone else out.
void TConnectionWatch::MakeRoom() {
  if (FMaxConnections <= 0) return;
  int open = 0;
  for (const auto& item : FEntries) open += item.second.Phase != cpClosing;
  if (open <= FMaxConnections) return;
  const std::string* largest = nullptr;
  int most = 0;
  for (const auto& [group, count] : FPerGroup) {
    if (count > most) {
      most = count;
      largest = &group;
    }
  }
  TEntry* oldest = nullptr;
  for (auto& item : FEntries) {
    TEntry& entry = item.second;
    if (largest == nullptr || entry.Group != *largest) continue;
    if (entry.Phase != cpHead && entry.Phase != cpIdle) continue;
    if (oldest == nullptr || entry.Since < oldest->Since) oldest = &entry;
  }
  if (oldest == nullptr) return;  // all being served: the server's own bound holds
  CloseEntry(*oldest, Format("all %d connections taken: the longest waiting of %d from %s",
                             FMaxConnections, most, largest->c_str()));
}

void TConnectionWatch::Enter(const void* key, TPhase phase) {
  std::lock_guard<std::mutex> guard(FLock);
  const auto found = FEntries.find(key);
  if (found == FEntries.end() || found->second.Phase == cpClosing) return;
  found->second.Phase = phase;
  found->second.Since = TClock::now();
  // One slot more than the window's seconds: the current second is only partly over.
  const int64_t slots = std::clamp<int64_t>(FDeadlines.RateWindow.count(), 1, 60) + 1;
  found->second.Slots.assign(static_cast<size_t>(slots), 0);
  found->second.Second = 0;
}

void TConnectionWatch::Advance(TEntry& entry, int64_t second) {
  const auto size = static_cast<int64_t>(entry.Slots.size());
  if (size == 0 || second <= entry.Second) return;
  for (int64_t s = std::max(entry.Second + 1, second - size + 1); s <= second; ++s) {
    entry.Slots[static_cast<size_t>(s % size)] = 0;
  }
  entry.Second = second;
}

namespace {

int64_t SecondOf(TClock::time_point since, TClock::time_point now) {
  return std::chrono::duration_cast<std::chrono::seconds>(now - since).count();
}

}  // namespace

void TConnectionWatch::HeadReceived(const void* key) { Enter(key, cpBody); }
void TConnectionWatch::Answering(const void* key) { Enter(key, cpBusy); }
void TConnectionWatch::Answered(const void* key) { Enter(key, cpIdle); }

void TConnectionWatch::BodyReceived(const void* key, int64_t bytes) {
  std::lock_guard<std::mutex> guard(FLock);
  const auto found = FEntries.find(key);
  if (found == FEntries.end() || found->second.Slots.empty()) return;
  TEntry& entry = found->second;
  Advance(entry, SecondOf(entry.Since, TClock::now()));
  entry.Slots[static_cast<size_t>(entry.Second % static_cast<int64_t>(entry.Slots.size()))] += bytes;
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

std::string TConnectionWatch::Overdue(TEntry& entry, TClock::time_point now) const {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - entry.Since);
  switch (entry.Phase) {
    case cpHead:
      if (elapsed <= FDeadlines.Head) return {};
      return Format("request head not complete within %lld s", Seconds(FDeadlines.Head));
    case cpIdle:
      if (elapsed <= FDeadlines.KeepAlive) return {};
      return Format("idle for %lld s", Seconds(FDeadlines.KeepAlive));
    case cpBody: {
      // Judged over the recent window, not from the start: a burst early on does not buy
      // hours of trickling.
      Advance(entry, SecondOf(entry.Since, now));
      const auto window = static_cast<int64_t>(entry.Slots.size());
      const int64_t paced =
          std::min<int64_t>((elapsed - FDeadlines.Head).count(), (window - 1) * 1000);
      int64_t recent = 0;
      for (int64_t bytes : entry.Slots) recent += bytes;
      if (paced <= 0 || recent * 1000 >= FDeadlines.MinBodyRate * paced) return {};
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
    for (auto& [key, entry] : FEntries) {
      const std::string why = Overdue(entry, now);
      if (why.empty()) continue;
      // Told before the close, so that whoever sees the close finds the reason already given.
      // An idle kept-alive connection closing is routine, not worth a log line.
      if (entry.Phase != cpIdle && FOnClosed) FOnClosed(entry.Peer, why);
      // Under the lock: the server cannot close (and reuse) the socket meanwhile.
      FCloseSocket(entry.Socket);
      entry.Phase = cpClosing;
    }
  }
}

}  // namespace vorlen
