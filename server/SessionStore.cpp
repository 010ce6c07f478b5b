#include "server/SessionStore.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

#include "runtime/Format.h"
#include "server/SessionId.h"
#include "soap/SenderServiceIntf.h"

namespace fs = std::filesystem;

namespace vorlen {

const char* const kDetailsFileName = kSenderDetailsName;
const char* const kPendingPrefix = "pending-";

namespace {

// What an empty session costs on disk (its four folders of a block each): sessions that hold
// next to nothing still count against the quota.
constexpr int64_t kSessionOverhead = 16 * 1024;
// Idle sessions are looked for at most this often, unless the open sessions are at the limit.
constexpr auto kReclaimInterval = std::chrono::seconds(1);

const char* const kSessionFolders[] = {"parts", "delivered", "work"};

fs::path PrepareRoot(const fs::path& root) {
  fs::create_directories(root);
  fs::remove_all(root / ".incoming");
  fs::create_directories(root / ".incoming");
  return root;
}

void CountParts(const TDirFd& folder, TSession& session) {
  session.PartCount = 0;
  session.PartBytes = 0;
  const std::optional<TDirFd> parts = folder.TrySub("parts");
  if (!parts) return;
  for (const TDirEntry& entry : parts->List()) {
    if (!entry.IsFile) continue;
    ++session.PartCount;
    session.PartBytes += entry.Size;
  }
}

}  // namespace

bool HoldsDelivery(const TDirFd& folder, const TSessionState& state) {
  if (state.HoldsDelivery()) return true;
  const std::optional<TDirFd> delivered = folder.TrySub("delivered");
  return delivered && !delivered->List().empty();
}

TSession::TSession(std::string id, const fs::path& folder) : FId(std::move(id)), FFolder(folder) {}

TSessionStore::TSessionStore(fs::path root, const TServiceLimits& limits)
    : FRoot(std::move(root)),
      FLimits(limits),
      FRootDir(TDirFd::OpenPath(PrepareRoot(FRoot))),
      FPeerRate(limits.PeerSessionsPerMinute) {
  const auto now = Now();
  const std::time_t wallNow = std::time(nullptr);
  int64_t used = 0;
  for (const TDirEntry& entry : FRootDir.List()) {
    if (!entry.IsFolder || !IsSessionId(entry.Name)) continue;
    const std::optional<TDirFd> folder = FRootDir.TrySub(entry.Name);
    if (!folder) continue;
    TSessionState state = TSessionState::Read(*folder);
    if (const std::optional<TDirFd> work = folder->TrySub("work")) {
      for (const TDirEntry& item : work->List()) {
        if (item.Name.starts_with(kPendingPrefix)) work->RemoveTree(item.Name);
      }
      // Members staged by an unpacking that had not begun to deliver them go; one that had is
      // finished.
      if (state.Packed && !state.Unpacked) {
        CompleteUnpack(*folder, state);
      } else {
        work->RemoveTree("unzip");
      }
    }
    used += folder->TreeBytes() + kSessionOverhead;
    if (HoldsDelivery(*folder, state)) continue;
    // Nothing delivered: it counts as no open session (whoever left it may go on with it), and
    // goes once idle, its idle time running from its last change.
    auto session = std::make_shared<TSession>(entry.Name, FRoot / entry.Name);
    std::time_t modified = entry.Modified;
    if (const auto parts = folder->Stat("parts")) modified = std::max(modified, parts->Modified);
    session->LastUse = now - std::chrono::seconds(std::max<std::time_t>(0, wallNow - modified));
    session->State = std::move(state);
    CountParts(*folder, *session);
    Register(session);
  }
  FBudget =
      std::make_unique<TDiskBudget>(FRootDir, FLimits.MaxRootBytes, FLimits.MinFreeBytes, used);
  ReclaimIdle(true);
}

void TSessionStore::Register(const std::shared_ptr<TSession>& session) {
  FSessions.emplace(session->Id(), session);
  if (!session->Open) return;
  ++FOpenCount;
  if (!session->Peer.empty()) ++FPeerOpen[session->Peer];
}

// With FLock held.
void TSessionStore::Uncount(TSession& session) {
  if (!session.Open) return;
  session.Open = false;
  --FOpenCount;
  if (!session.Peer.empty() && --FPeerOpen[session.Peer] <= 0) FPeerOpen.erase(session.Peer);
}

std::shared_ptr<TSession> TSessionStore::Create(const std::string& peer) {
  ReclaimIdle();
  for (;;) {
    std::string id = NewSessionId();
    std::lock_guard<std::mutex> guard(FLock);
    if (FOpenCount >= FLimits.MaxSessions) {
      throw ETooManySessions(Format("The service keeps no more than %lld open sessions",
                                    static_cast<long long>(FLimits.MaxSessions)));
    }
    if (!peer.empty()) {
      const auto it = FPeerOpen.find(peer);
      if (it != FPeerOpen.end() && it->second >= FLimits.MaxPeerSessions) {
        throw ETooManySessions(
            Format("The service keeps no more than %lld open sessions for one address",
                   static_cast<long long>(FLimits.MaxPeerSessions)));
      }
      if (!FPeerRate.Take(peer, Now())) {
        throw ETooManySessions(
            Format("The service hands out no more than %lld sessions a minute to one address",
                   static_cast<long long>(FLimits.PeerSessionsPerMinute)));
      }
    }
    TBudgetCharge charge(*FBudget, kSessionOverhead);
    // MakeFolder is false when the folder exists: never hand out an identifier twice.
    if (FSessions.count(id) != 0 || !FRootDir.MakeFolder(id)) continue;
    auto session = std::make_shared<TSession>(id, FRoot / id);
    try {
      const TDirFd folder = FRootDir.Sub(id);
      for (const char* sub : kSessionFolders) folder.Sub(sub, true);
    } catch (...) {
      FRootDir.RemoveTree(id);
      throw;
    }
    session->Open = true;
    session->Peer = peer;
    session->LastUse = Now();
    Register(session);
    charge.Keep();
    return session;
  }
}

std::shared_ptr<TSession> TSessionStore::Find(const std::string& id) {
  if (!IsSessionId(id)) throw EUnknownSession(Format("Unknown session '%.64s'", id.c_str()));
  std::lock_guard<std::mutex> guard(FLock);
  if (auto it = FSessions.find(id); it != FSessions.end()) {
    it->second->LastUse = Now();
    return it->second;
  }
  // A link planted under the root is no session.
  const std::optional<TDirFd> folder = FRootDir.TrySub(id);
  if (!folder) throw EUnknownSession(Format("Unknown session '%s'", id.c_str()));
  auto session = std::make_shared<TSession>(id, FRoot / id);
  for (const char* sub : kSessionFolders) folder->Sub(sub, true);
  session->State = TSessionState::Read(*folder);
  CountParts(*folder, *session);
  session->LastUse = Now();
  Register(session);
  return session;
}

TDirFd TSessionStore::OpenFolder(const TSession& session) const {
  return FRootDir.Sub(session.Id());
}

void TSessionStore::SetState(TSession& session, const TDirFd& folder, const TSessionState& state) {
  state.Write(folder);
  session.State = state;
}

void TSessionStore::RemoveTemporary(const TDirFd& folder, TSessionState& state) {
  // The archive and the staged members of an interrupted unpacking are acknowledged files.
  if (state.Packed && !state.Unpacked) CompleteUnpack(folder, state);
  for (const char* sub : {"parts", "work"}) {
    if (const std::optional<TDirFd> dir = folder.TrySub(sub)) {
      const int64_t bytes = dir->TreeBytes();
      folder.RemoveTree(sub);
      FBudget->Give(bytes);
    }
  }
}

void TSessionStore::SyncFolder(const TDirFd& folder) const {
  folder.Sync();
  FRootDir.Sync();
}

void TSessionStore::Close(TSession& session) {
  std::lock_guard<std::mutex> guard(FLock);
  Uncount(session);
}

// The session's folder and everything in it, given back to the budget.
void TSessionStore::Discard(TSession& session) {
  const std::optional<TDirFd> folder = FRootDir.TrySub(session.Id());
  if (!folder) return;
  const int64_t bytes = folder->TreeBytes();
  FRootDir.RemoveTree(session.Id());
  FBudget->Give(bytes + kSessionOverhead);
}

void TSessionStore::ReclaimIdle(bool force) {
  struct TIdle {
    std::shared_ptr<TSession> Session;
    std::unique_lock<std::shared_mutex> Lock;
    bool Long;  // idle for SessionIdle, not only for EmptySessionIdle
  };
  // Sessions with nothing delivered go sooner; those with a delivery lose only their
  // temporary files, and only after the longer wait.
  const auto emptyIdle = std::min(FLimits.EmptySessionIdle, FLimits.SessionIdle);
  std::vector<TIdle> idle;
  {
    std::lock_guard<std::mutex> guard(FLock);
    const auto now = Now();
    const auto interval =
        std::min<std::chrono::steady_clock::duration>(kReclaimInterval, emptyIdle);
    if (!force && now - FLastReclaim < interval && FOpenCount < FLimits.MaxSessions) return;
    FLastReclaim = now;
    FPeerRate.Prune(now);
    for (const auto& [id, session] : FSessions) {
      if (now - session->LastUse < emptyIdle) continue;
      std::unique_lock<std::shared_mutex> lock(session->Lock, std::try_to_lock);
      if (!lock.owns_lock()) continue;  // busy, so not idle
      idle.push_back(
          TIdle{session, std::move(lock), now - session->LastUse >= FLimits.SessionIdle});
    }
  }
  std::vector<TSession*> closed;
  for (TIdle& item : idle) {
    TSession& session = *item.Session;
    const std::optional<TDirFd> folder = FRootDir.TrySub(session.Id());
    if (!folder || !HoldsDelivery(*folder, session.State)) {
      session.Gone = true;
      if (folder) Discard(session);
      closed.push_back(&session);
      continue;
    }
    if (!session.Open || !item.Long) continue;
    // Delivered but never cleaned up: only the temporary files go.
    try {
      RemoveTemporary(*folder, session.State);
    } catch (const std::exception&) {
      // Left for the next look; the session stays whole meanwhile.
    }
    closed.push_back(&session);
  }
  // Dropped from memory while still locked, so a request that found one meanwhile waits and
  // then sees it gone. One that stays on disk is taken up again when asked for, unless a
  // request is already waiting for it.
  std::lock_guard<std::mutex> guard(FLock);
  for (TSession* session : closed) Uncount(*session);
  for (TIdle& item : idle) {
    const auto it = FSessions.find(item.Session->Id());
    if (it == FSessions.end() || it->second != item.Session || item.Session->Open) continue;
    if (item.Session->Gone || item.Session.use_count() <= 2) FSessions.erase(it);
  }
}

}  // namespace vorlen
