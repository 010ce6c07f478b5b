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
// Files appear in parts/ and delivered/ only by rename, once complete.
//
// A session is open from GetSession until its files are delivered or cleaned up; only open
// sessions count towards the limits. One idle for the empty-session time without a delivery (a
// details file alone is none) is removed; one holding delivered files or an acknowledged archive
// is the inbox and is never removed. Sessions of an earlier run count as open no more.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>

#include "server/Descriptors.h"
#include "server/DiskBudget.h"
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
  bool Open = false;
  std::string Peer;
  std::chrono::steady_clock::time_point LastUse;

 private:
  std::string FId;
  std::filesystem::path FFolder;
};

class TSessionStore {
 public:
  // Creates the root and its incoming folder, emptying what a previous run left there, and
  // takes up the sessions of earlier runs (without counting them as open): files a crash left
  // half-written in work folders go, and unpackings a crash interrupted are finished.
  TSessionStore(std::filesystem::path root, const TServiceLimits& limits);

  const std::filesystem::path& Root() const { return FRoot; }
  std::filesystem::path IncomingDir() const { return FRoot / ".incoming"; }
  TDiskBudget& Budget() { return *FBudget; }

  // A new open session with its folders, for a peer address (empty: unknown). Raises
  // ETooManySessions or EStorageLimit.
  std::shared_ptr<TSession> Create(const std::string& peer);
  // The session with that identifier; a folder of an earlier run is taken up again. Raises
  // EUnknownSession.
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

  // With session.Lock held alone: the session stops counting as open (delivered or cleaned up).
  void Close(TSession& session);
  // Reclaims the sessions idle for longer than the limits allow; unless forced, only when
  // some time has passed since the last look or the open sessions are at the limit.
  void ReclaimIdle(bool force = false);

  // The clock idleness is measured on; a test sets one of its own before the first session.
  std::function<std::chrono::steady_clock::time_point()> Now = std::chrono::steady_clock::now;

 private:
  void Register(const std::shared_ptr<TSession>& session);
  void Uncount(TSession& session);
  void Discard(TSession& session);

  std::filesystem::path FRoot;
  TServiceLimits FLimits;
  TDirFd FRootDir;
  std::unique_ptr<TDiskBudget> FBudget;
  std::mutex FLock;
  // Guarded by FLock.
  std::map<std::string, std::shared_ptr<TSession>> FSessions;
  int64_t FOpenCount = 0;
  std::map<std::string, int64_t> FPeerOpen;
  TRateLimit FPeerRate;
  std::chrono::steady_clock::time_point FLastReclaim;
};

}  // namespace vorlen
