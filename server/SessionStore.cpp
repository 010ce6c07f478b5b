#include "server/SessionStore.h"

#include <algorithm>
#include <cstdio>
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
// The names a session is charged for from the start: its folder and the three below it, which
// are made when first needed (its state file is counted when it is first written).
constexpr int64_t kSessionFiles = 4;
// Idle sessions are looked for at most this often, unless the sessions are at the limit.
constexpr auto kReclaimInterval = std::chrono::seconds(1);
// Sessions looked at per hold of the store's lock while reclaiming: requests wait for one
// slice at most, however many sessions there are.
constexpr size_t kReclaimSlice = 256;
// Slices per look: a look goes on from where the last one stopped, so that it takes a bounded
// time of the request that makes it. A lock taken again at once can be taken over and over
// before a waiting request wakes, so a walk of every session in one go would hold off requests
// for all of it.
constexpr int kSlicesPerLook = 16;

const char* const kSessionFolders[] = {"parts", "delivered", "work"};
// What the root held when last recorded: the quotas count it at start-up until the look at
// earlier runs' folders has found it.
const char* const kUsageFileName = ".usage";
// How often the record is brought up to date while the service runs.
constexpr auto kUsageRecordInterval = std::chrono::minutes(1);

fs::path PrepareRoot(const fs::path& root) {
  fs::create_directories(root);
  fs::remove_all(root / ".incoming");
  fs::create_directories(root / ".incoming");
  return root;
}

// The names a session's folder is charged for, its own four whether made yet or not, and the bytes
// it holds.
int64_t ChargedFiles(const TDirFd& folder, int64_t& bytes) {
  int64_t entries = 0;
  bytes = folder.TreeBytes(&entries);
  for (const char* sub : kSessionFolders) {
    if (folder.Stat(sub)) --entries;
  }
  return entries + kSessionFiles;
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

// How long ago a folder of an earlier run last changed, by the times of its files.
std::chrono::seconds IdleOnDisk(const TDirFd& root, const std::string& id, const TDirFd& folder) {
  std::time_t modified = 0;
  if (const auto entry = root.Stat(id)) modified = entry->Modified;
  if (const auto parts = folder.Stat("parts")) modified = std::max(modified, parts->Modified);
  return std::chrono::seconds(std::max<std::time_t>(0, std::time(nullptr) - modified));
}

}  // namespace

bool HoldsDelivery(const TDirFd& folder, const TSessionState& state) {
  if (state.HoldsDelivery()) return true;
  const std::optional<TDirFd> delivered = folder.TrySub("delivered");
  return delivered && !delivered->List().empty();
}

TSession::TSession(std::string id, const fs::path& folder) : FId(std::move(id)), FFolder(folder) {}

TSessionStore::TUsage TSessionStore::ReadUsage(const TDirFd& root) {
  TUsage usage;
  try {
    const std::optional<std::string> text = root.ReadSmall(kUsageFileName);
    long long bytes = 0, files = 0;
    if (text && std::sscanf(text->c_str(), "bytes=%lld\nfiles=%lld", &bytes, &files) == 2 &&
        bytes >= 0 && files >= 0) {
      usage = {bytes, files};
    }
  } catch (const std::exception&) {
    // A root the record cannot be read from is looked at all the same.
  }
  return usage;
}

TSessionStore::TSessionStore(fs::path root, const TServiceLimits& limits)
    : FRoot(std::move(root)),
      FLimits(limits),
      FRootDir(TDirFd::OpenPath(PrepareRoot(FRoot))),
      FRecorded(ReadUsage(FRootDir)),
      FBudget(std::make_unique<TDiskBudget>(FRootDir, limits.MaxRootBytes, limits.MinFreeBytes,
                                            FRecorded.Bytes)),
      FFiles(std::make_unique<TFileBudget>(limits.MaxRootFiles, FRecorded.Files)),
      FPeerRate(limits.PeerSessionsPerMinute),
      FScanner([this](const std::stop_token& stop) { Scan(stop); }) {}

TSessionStore::~TSessionStore() {
  FScanner.request_stop();
  FScanner.join();
  RecordUsage();
}

// Best effort: without a record the next start counts only what it has found.
void TSessionStore::RecordUsage() {
  try {
    FRootDir.ReplaceAtomically(kUsageFileName,
                               Format("bytes=%lld\nfiles=%lld\n",
                                      static_cast<long long>(FBudget->Used()),
                                      static_cast<long long>(FFiles->Used())));
  } catch (const std::exception&) {
  }
}

void TSessionStore::SetClock(std::function<std::chrono::steady_clock::time_point()> now) {
  std::lock_guard<std::mutex> guard(FLock);
  FClock = std::move(now);
}

void TSessionStore::WaitForScan() {
  std::unique_lock<std::mutex> lock(FLock);
  FScanDone.wait(lock, [this] { return !FScanning; });
}

// The folders of earlier runs, in the order of their names, one at a time: each is locked while
// it is looked at, and a request for one not reached yet takes it up itself.
void TSessionStore::Scan(const std::stop_token& stop) {
  std::vector<TFolderKey> ids;
  try {
    // What is no folder is passed over when it is taken up.
    FRootDir.ForEachName([&ids](const char* name) {
      if (!IsSessionId(name)) return;
      TFolderKey& key = ids.emplace_back();
      std::copy_n(name, key.size(), key.begin());
    });
  } catch (const std::exception&) {
    // Unreadable root: every session is taken up when asked for.
  }
  std::sort(ids.begin(), ids.end());
  for (const TFolderKey& key : ids) {
    if (stop.stop_requested()) break;
    try {
      TakeUp(std::string(key.begin(), key.end()), tuScan);
    } catch (const std::exception&) {
      // Left as it is until it is asked for.
    }
  }
  if (!stop.stop_requested()) {
    FBudget->DropEstimate();
    FFiles->DropEstimate();
    RecordUsage();
  }
  std::function<void()> done;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FScanning = false;
    FAccounted.clear();
    done = std::move(FOnScanned);
  }
  FScanDone.notify_all();
  if (done && !stop.stop_requested()) done();
}

void TSessionStore::WhenScanned(std::function<void()> done) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FScanning) {
      FOnScanned = std::move(done);
      return;
    }
  }
  done();
}

void TSessionStore::Register(const std::shared_ptr<TSession>& session) {
  FSessions.emplace(session->Id(), session);
  if (!session->Counted) return;
  ++FOpenCount;
  if (!session->Peer.empty()) ++FPeerOpen[session->Peer];
}

// With FLock held.
void TSessionStore::Uncount(TSession& session) {
  if (!session.Counted) return;
  session.Counted = false;
  --FOpenCount;
  if (!session.Peer.empty() && --FPeerOpen[session.Peer] <= 0) FPeerOpen.erase(session.Peer);
}

// With FLock and session's lock held: drops it from memory (and from the count) unless someone
// beyond the holders that the caller counts (the map's own among them) may still use it.
bool TSessionStore::Forget(const std::shared_ptr<TSession>& session, long holders) {
  if (!session->Gone && session.use_count() > holders) return false;
  const auto it = FSessions.find(session->Id());
  if (it == FSessions.end() || it->second != session) return false;
  Uncount(*session);
  FSessions.erase(it);
  return true;
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
    TFileCharge files(*FFiles, kSessionFiles);
    // MakeFolder is false when the folder exists: never hand out an identifier twice. The folders
    // below are made by the calls that use them: a session opened and ended without a file
    // costs one folder, not four.
    if (FSessions.count(id) != 0 || !FRootDir.MakeFolder(id)) continue;
    auto session = std::make_shared<TSession>(id, FRoot / id);
    session->Counted = true;
    session->Peer = peer;
    session->LastUse = Now();
    Register(session);
    // The scan may list it: it is counted already.
    if (FScanning && id > FScanPosition) FAccounted.insert(id);
    charge.Keep();
    files.Keep();
    return session;
  }
}

std::shared_ptr<TSession> TSessionStore::Find(const std::string& id) {
  if (!IsSessionId(id)) throw EUnknownSession(Format("Unknown session '%.64s'", id.c_str()));
  return TakeUp(id, tuRequest);
}

// A session in memory, or its folder taken up (by a request, by the scan of earlier runs'
// folders, or when an earlier run's folder is due); nothing for the scan and the reclaim when
// there is nothing for them to do.
std::shared_ptr<TSession> TSessionStore::TakeUp(const std::string& id, TTakeUp by) {
  const bool request = by == tuRequest;
  // Made and locked before the store's lock, the order every other path takes them in; given up
  // when the session is in memory already.
  auto session = std::make_shared<TSession>(id, FRoot / id);
  std::unique_lock<std::shared_mutex> busy(session->Lock);
  std::optional<TDirFd> folder;
  bool account = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (by == tuScan) FScanPosition = id;
    if (const auto it = FSessions.find(id); it != FSessions.end()) {
      // Made or taken up in this run: counted already, and reclaimed as any session.
      if (!request) return nullptr;
      it->second->LastUse = Now();
      return it->second;
    }
    // A link planted under the root is no session.
    folder = FRootDir.TrySub(id);
    if (!folder) {
      if (!request) return nullptr;
      throw EUnknownSession(Format("Unknown session '%s'", id.c_str()));
    }
    if (by == tuScan) {
      // Taken up ahead of the scan and reclaimed since: counted already.
      if (FAccounted.erase(id) != 0) return nullptr;
      account = true;
    } else if (request) {
      account = FScanning && id > FScanPosition && FAccounted.insert(id).second;
    }
    session->Counted = request;
    session->LastUse = Now();
    Register(session);
  }
  // Looked at while locked: a request that found it meanwhile waits for this.
  try {
    Recover(*session, *folder, account);
    if (!request) {
      SettleOld(session, *folder, by == tuDue);
    } else if (session->State.Ended && HoldsDelivery(*folder, session->State)) {
      // Nothing about it can change: it costs no place among the sessions.
      std::lock_guard<std::mutex> guard(FLock);
      Uncount(*session);
      session->Released = true;
    }
  } catch (...) {
    session->Gone = true;
    std::lock_guard<std::mutex> guard(FLock);
    Forget(session, 2);
    if (!request) return nullptr;
    throw;
  }
  return session;
}

// Finishes what a crash left half done in a session's folder and reads its state; counts its
// bytes and files when this run has not yet.
void TSessionStore::Recover(TSession& session, const TDirFd& folder, bool account) {
  TSessionState state = TSessionState::Read(folder);
  if (const std::optional<TDirFd> work = folder.TrySub("work")) {
    for (const TDirEntry& item : work->List()) {
      if (item.Name.starts_with(kPendingPrefix)) work->RemoveTree(item.Name);
    }
    // Members staged by an unpacking that had not begun to deliver them go; one that had is
    // finished.
    if (state.Packed && !state.Unpacked) {
      CompleteUnpack(folder, state);
    } else {
      work->RemoveTree("unzip");
    }
  }
  if (account) {
    int64_t bytes = 0;
    FFiles->Count(ChargedFiles(folder, bytes));
    FBudget->Count(bytes + kSessionOverhead);
  }
  CountParts(folder, session);
  session.State = std::move(state);
}

// A folder of an earlier run, locked, and out of memory again when this returns: one with
// nothing delivered stays on disk (uncounted) until it has been idle long enough, its idle time
// running from its last change (due: it has been, by the store's clock); the inbox loses only the
// temporary files of a send never cleaned up, and is taken up again when asked for.
void TSessionStore::SettleOld(const std::shared_ptr<TSession>& session, const TDirFd& folder,
                              bool due) {
  const auto emptyIdle = std::min(FLimits.EmptySessionIdle, FLimits.SessionIdle);
  const std::chrono::seconds idle = IdleOnDisk(FRootDir, session->Id(), folder);
  if (!HoldsDelivery(folder, session->State)) {
    if (!due && idle < emptyIdle) {
      TDueFolder later{{}, {}};
      std::copy_n(session->Id().begin(), later.Id.size(), later.Id.begin());
      std::lock_guard<std::mutex> guard(FLock);
      later.Due = Now() + (emptyIdle - idle);
      FDueFolders.push(later);
      Forget(session, 2);
      return;
    }
    session->Gone = true;
    Discard(*session, folder);
  } else if (!session->State.Ended && idle >= FLimits.SessionIdle) {
    EndAbandoned(*session, folder);
  }
  std::lock_guard<std::mutex> guard(FLock);
  Forget(session, 2);
}

// Earlier runs' folders whose idle time is up, a slice a look. One that a request took up
// meanwhile is a session in memory, and left to the look for idle sessions.
void TSessionStore::ReclaimDueFolders(std::chrono::steady_clock::time_point now) {
  std::vector<std::string> due;
  {
    std::lock_guard<std::mutex> guard(FLock);
    while (!FDueFolders.empty() && FDueFolders.top().Due <= now && due.size() < kReclaimSlice) {
      due.emplace_back(FDueFolders.top().Id.begin(), FDueFolders.top().Id.end());
      FDueFolders.pop();
    }
  }
  for (const std::string& id : due) {
    try {
      TakeUp(id, tuDue);
    } catch (const std::exception&) {
      // Left on disk; a request takes it up, or the next start looks at it again.
    }
  }
}

TDirFd TSessionStore::OpenFolder(const TSession& session) const {
  return FRootDir.Sub(session.Id());
}

void TSessionStore::SetState(TSession& session, const TDirFd& folder, const TSessionState& state) {
  const bool fresh = !folder.Stat(kStateFileName);
  if (fresh) FFiles->Take(1);
  try {
    state.Write(folder);
  } catch (...) {
    if (fresh) FFiles->Give(1);
    throw;
  }
  session.State = state;
}

void TSessionStore::RemoveTemporary(const TDirFd& folder, TSessionState& state) {
  // The archive and the staged members of an interrupted unpacking are acknowledged files.
  if (state.Packed && !state.Unpacked) CompleteUnpack(folder, state);
  for (const char* sub : {"parts", "work"}) {
    if (const std::optional<TDirFd> dir = folder.TrySub(sub)) {
      // The folder itself is one of the session's own names, made again when needed.
      int64_t entries = 0;
      const int64_t bytes = dir->TreeBytes(&entries);
      folder.RemoveTree(sub);
      FBudget->Give(bytes);
      FFiles->Give(entries);
    }
  }
}

// Its sender is long gone: the inbox keeps what it holds and takes nothing more from whoever
// learns the id later, as after DelTempFiles.
void TSessionStore::EndAbandoned(TSession& session, const TDirFd& folder) {
  TSessionState state = session.State;
  RemoveTemporary(folder, state);
  state.Ended = true;
  SetState(session, folder, state);
}

void TSessionStore::SyncFolder(const TDirFd& folder) const {
  folder.Sync();
  FRootDir.Sync();
}

void TSessionStore::Release(const std::shared_ptr<TSession>& session) {
  std::lock_guard<std::mutex> guard(FLock);
  session->Released = true;
  // The caller's and the map's: anyone else who found it is let go by the next look.
  Forget(session, 2);
}

// The session's folder and everything in it, given back to the budgets.
void TSessionStore::Discard(TSession& session, const TDirFd& folder) {
  int64_t bytes = 0;
  const int64_t files = ChargedFiles(folder, bytes);
  FRootDir.RemoveTree(session.Id());
  FBudget->Give(bytes + kSessionOverhead);
  FFiles->Give(files);
}

void TSessionStore::ReclaimIdle(bool force) {
  struct TIdle {
    std::shared_ptr<TSession> Session;
    std::unique_lock<std::shared_mutex> Lock;
    bool Long;  // idle for SessionIdle, not only for EmptySessionIdle
    bool Done = false;
  };
  // Sessions with nothing delivered go sooner; those with a delivery lose only their
  // temporary files, and only after the longer wait.
  const auto emptyIdle = std::min(FLimits.EmptySessionIdle, FLimits.SessionIdle);
  std::chrono::steady_clock::time_point now;
  bool record = false;
  bool atLimit = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    now = Now();
    const auto interval =
        std::min<std::chrono::steady_clock::duration>(kReclaimInterval, emptyIdle);
    if (!force && now - FLastReclaim < interval && FOpenCount < FLimits.MaxSessions) return;
    FLastReclaim = now;
    FPeerRate.Prune(now);
    record = !FScanning && now - FLastUsageRecord >= kUsageRecordInterval;
    if (record) FLastUsageRecord = now;
    // At the limit a session is refused unless one is found idle: every session is looked at.
    atLimit = FOpenCount >= FLimits.MaxSessions;
    if (atLimit) FReclaimCursor.clear();
  }
  if (record) RecordUsage();
  bool more = true;
  for (int slice = 0; more && (atLimit || slice < kSlicesPerLook); ++slice) {
    std::vector<TIdle> idle;
    {
      std::lock_guard<std::mutex> guard(FLock);
      auto it = FReclaimCursor.empty() ? FSessions.begin() : FSessions.upper_bound(FReclaimCursor);
      for (size_t n = 0; it != FSessions.end() && n < kReclaimSlice; ++it, ++n) {
        const std::shared_ptr<TSession>& session = it->second;
        FReclaimCursor = it->first;
        if (!session->Released && now - session->LastUse < emptyIdle) continue;
        std::unique_lock<std::shared_mutex> lock(session->Lock, std::try_to_lock);
        if (!lock.owns_lock()) continue;  // busy, so not idle
        idle.push_back(
            TIdle{session, std::move(lock), now - session->LastUse >= FLimits.SessionIdle});
      }
      more = it != FSessions.end();
      if (!more) FReclaimCursor.clear();  // the next look starts from the beginning
    }
    for (TIdle& item : idle) {
      TSession& session = *item.Session;
      if (session.Gone) continue;
      const std::optional<TDirFd> folder = FRootDir.TrySub(session.Id());
      if (!folder || !HoldsDelivery(*folder, session.State)) {
        session.Gone = true;
        if (folder) Discard(session, *folder);
        item.Done = true;
      } else if (session.State.Ended || session.Released) {
        item.Done = true;
      } else if (item.Long) {
        // Delivered but never cleaned up: only the temporary files go.
        try {
          EndAbandoned(session, *folder);
          item.Done = true;
        } catch (const std::exception&) {
          // Left for the next look; the session stays whole meanwhile.
        }
      }
    }
    // Dropped from memory while still locked, so a request that found one meanwhile waits and
    // then sees it gone. One that stays on disk is taken up again when asked for, unless a
    // request is already waiting for it.
    std::lock_guard<std::mutex> guard(FLock);
    for (TIdle& item : idle) {
      if (item.Done) Forget(item.Session, 2);
    }
  }
  ReclaimDueFolders(now);
}

}  // namespace vorlen
