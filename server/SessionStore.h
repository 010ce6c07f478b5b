// The sessions of the service and their folders.
//
// Layout under the root folder:
//   ROOT/<session>/parts/           uploaded parts under their part names (removed by DelTempFiles)
//   ROOT/<session>/delivered/       the merged file; after UnZip the unpacked files instead
//   ROOT/<session>/sendDetails.txt  the details file that names the sender
//   ROOT/<session>/work/            merges and unpacking in progress, and the archive of an
//                                   UnZip (removed by DelTempFiles once the members are in)
//   ROOT/<session>/.session         what the session has done (see SessionState.h)
//   ROOT/.incoming/                 attachments of requests still being handled
//   ROOT/.usage                     the bytes and files under the root when last recorded: the
//                                   quotas count them at start-up until the folders are found
// Files appear in parts/ and delivered/ only by rename, once complete. The folders below a
// session's are made by the first call that needs them.
//
// Every session in memory counts towards the limits, from GetSession until it is reclaimed: one
// whose send ended with a delivery at once, one idle for the empty-session time without a
// delivery (a details file alone is none) with its folder, one delivered but never cleaned up
// after the session idle time with its temporary files. A folder of the inbox stays on disk and
// is taken up again when asked for. The folders of earlier runs are looked at in the background,
// so the service listens at once whatever their number; they count as open sessions no more, and
// are not kept in memory: one with nothing delivered is remembered by name until it is due.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <queue>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/Descriptors.h"
#include "server/DiskBudget.h"
#include "server/FileBudget.h"
#include "server/RateLimit.h"
#include "server/ServiceLimits.h"
#include "server/SessionState.h"

namespace vorlen {

extern const char* const kDetailsFileName;  // "sendDetails.txt"
// Names of files being written in work/; what a crash leaves of them goes at the next start.
extern const char* const kPendingPrefix;

// True when a session's folder holds delivered files or an acknowledged merge: the inbox. A
// details file alone is nothing delivered.
bool HoldsDelivery(const TDirFd& folder, const TSessionState& state);

// A session identifier that the service did not hand out (or that is malformed).
class EUnknownSession : public Exception {
 public:
  using Exception::Exception;
};

// GetSession when as many sessions are open as the service (or one peer) may hold.
class ETooManySessions : public EServiceLimit {
 public:
  using EServiceLimit::EServiceLimit;
};

class TSession {
 public:
  TSession(std::string id, const std::filesystem::path& folder);

  const std::string& Id() const { return FId; }
  const std::filesystem::path& Folder() const { return FFolder; }

  // Held by every operation on the session: shared by the part uploads, so that the parts of
  // one session are stored side by side, and alone by every other operation. The fields below
  // are guarded by it.
  std::shared_mutex Lock;
  // What it has done, as on disk.
  TSessionState State;
  bool Gone = false;  // removed with its folder

  // What the parts stored and being stored count towards the session's bounds, and the names
  // being stored: guarded by Lock held alone, or by PartLock with Lock held shared.
  std::mutex PartLock;
  int64_t PartCount = 0;
  int64_t PartBytes = 0;
  std::set<std::string> Storing;

  // Guarded by the store's lock.
  bool Counted = false;   // counts towards the limits
  bool Released = false;  // ended with a delivery: reclaimed at the next look
  std::string Peer;
  std::chrono::steady_clock::time_point LastUse;

 private:
  std::string FId;
  std::filesystem::path FFolder;
};

class TSessionStore {
 public:
  // Creates the root and its incoming folder, emptying what a previous run left there, and
  // starts looking at the sessions of earlier runs in the background (without counting them as
  // open): files a crash left half-written in work folders go, unpackings a crash interrupted
  // are finished, idle ones are reclaimed, and their bytes and files are counted.
  TSessionStore(std::filesystem::path root, const TServiceLimits& limits);
  // Records what the root holds for the next start.
  ~TSessionStore();
  TSessionStore(const TSessionStore&) = delete;
  TSessionStore& operator=(const TSessionStore&) = delete;

  const std::filesystem::path& Root() const { return FRoot; }
  std::filesystem::path IncomingDir() const { return FRoot / ".incoming"; }
  TDiskBudget& Budget() { return *FBudget; }
  TFileBudget& Files() { return *FFiles; }
  // Waits until the folders of earlier runs have all been looked at (for tests and benchmarks).
  void WaitForScan();
  // Calls done once they have (at once if they have; from the scan's thread if not).
  void WhenScanned(std::function<void()> done);

  // A new session with its folders, for a peer address (empty: unknown). Raises
  // ETooManySessions or EStorageLimit.
  std::shared_ptr<TSession> Create(const std::string& peer);
  // The session with that identifier; a folder of an earlier run (or one reclaimed since) is
  // taken up again and counts until it is reclaimed. Raises EUnknownSession.
  std::shared_ptr<TSession> Find(const std::string& id);
  // The session's folder, opened for one operation. Raises when it is no plain folder.
  TDirFd OpenFolder(const TSession& session) const;
  // Removes the temporary files of a locked session (parts/, work/) and gives their bytes back,
  // finishing an interrupted unpacking first.
  void RemoveTemporary(const TDirFd& folder, TSessionState& state);
  // Records a new state of a locked session, on disk first.
  void SetState(TSession& session, const TDirFd& folder, const TSessionState& state);
  // Flushes a session's folder and the root, so that what was renamed into the folder (and the
  // folder itself) survives a crash.
  void SyncFolder(const TDirFd& folder) const;

  // With session.Lock held alone, once its send ended with a delivery: nothing about it can
  // change any more, so it is reclaimed now (its folder stays).
  void Release(const std::shared_ptr<TSession>& session);
  // Reclaims the sessions idle for longer than the limits allow; unless forced, only when
  // some time has passed since the last look or the sessions are at the limit. A look covers a
  // bounded share of the sessions, going on from where the last one stopped (all of them at the
  // limit), and holds the store's lock for a bounded slice of them at a time.
  void ReclaimIdle(bool force = false);

  // The clock idleness is measured on; a test sets one of its own before the first session.
  void SetClock(std::function<std::chrono::steady_clock::time_point()> now);

 private:
  std::chrono::steady_clock::time_point Now() const { return FClock(); }  // with FLock held
  void Register(const std::shared_ptr<TSession>& session);
  void Uncount(TSession& session);
  bool Forget(const std::shared_ptr<TSession>& session, long holders);
  void Discard(TSession& session, const TDirFd& folder);
  // What the root held when last recorded.
  struct TUsage {
    int64_t Bytes = 0;
    int64_t Files = 0;
  };
  // The record, or nothing counted when there is none or it is unreadable.
  static TUsage ReadUsage(const TDirFd& root);

  // Who takes a folder up: a request for it, the scan of earlier runs' folders, or the reclaim
  // once an earlier run's folder with nothing delivered is due.
  enum TTakeUp { tuRequest, tuScan, tuDue };
  // A session identifier in 32 bytes, where a string takes 80: the scan lists every folder.
  using TFolderKey = std::array<char, 32>;
  struct TDueFolder {
    std::chrono::steady_clock::time_point Due;
    TFolderKey Id;
    bool operator>(const TDueFolder& other) const { return Due > other.Due; }
  };

  std::shared_ptr<TSession> TakeUp(const std::string& id, TTakeUp by);
  void Recover(TSession& session, const TDirFd& folder, bool account);
  void SettleOld(const std::shared_ptr<TSession>& session, const TDirFd& folder, bool due);
  void ReclaimDueFolders(std::chrono::steady_clock::time_point now);
  // A delivery never cleaned up, idle for SessionIdle: its temporary files go and it is sealed.
  void EndAbandoned(TSession& session, const TDirFd& folder);
  void Scan(const std::stop_token& stop);
  void RecordUsage();

  std::filesystem::path FRoot;
  TServiceLimits FLimits;
  TDirFd FRootDir;
  const TUsage FRecorded;  // read at start-up: what the budgets count until it is found
  std::unique_ptr<TDiskBudget> FBudget;
  std::unique_ptr<TFileBudget> FFiles;
  std::mutex FLock;
  // Guarded by FLock.
  std::map<std::string, std::shared_ptr<TSession>> FSessions;
  int64_t FOpenCount = 0;
  std::map<std::string, int64_t> FPeerOpen;
  TRateLimit FPeerRate;
  std::chrono::steady_clock::time_point FLastReclaim;
  std::string FReclaimCursor;  // the last session the last look reached; empty: none
  std::chrono::steady_clock::time_point FLastUsageRecord;
  std::function<std::chrono::steady_clock::time_point()> FClock = std::chrono::steady_clock::now;
  // While the folders of earlier runs are looked at, in the order of their names: the last
  // one reached, and those ahead of it whose bytes were counted already (made or taken up).
  bool FScanning = true;
  std::string FScanPosition;
  std::set<std::string> FAccounted;
  // Earlier runs' folders with nothing delivered, not idle long enough yet when looked at: kept
  // by name and time, not as sessions, until they are due for removal.
  std::priority_queue<TDueFolder, std::vector<TDueFolder>, std::greater<>> FDueFolders;
  std::condition_variable FScanDone;
  std::function<void()> FOnScanned;
  // Last: stopped and joined before anything it uses goes.
  std::jthread FScanner;
};

}  // namespace vorlen
