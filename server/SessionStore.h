// The sessions of the service and their folders.
//
// Layout under the root folder:
//   ROOT/<session>/parts/           uploaded parts under their part names (removed by DelTempFiles)
//   ROOT/<session>/delivered/       the merged file; after UnZip the unpacked files instead
//   ROOT/<session>/sendDetails.txt  the details file that names the sender
//   ROOT/<session>/work/            merges and unpacking in progress, and the archive after a
//                                   successful UnZip (removed by DelTempFiles)
//   ROOT/.incoming/                 attachments of requests still being handled
// Files appear in parts/ and delivered/ only by rename, once complete.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "runtime/Exception.h"

namespace vorlen {

// A session identifier that the service did not hand out (or that is malformed).
class EUnknownSession : public Exception {
 public:
  using Exception::Exception;
};

// GetSession when the root already holds as many sessions as the service may keep.
class ETooManySessions : public Exception {
 public:
  using Exception::Exception;
};

class TSession {
 public:
  TSession(std::string id, const std::filesystem::path& folder);

  const std::string& Id() const { return FId; }
  const std::filesystem::path& Folder() const { return FFolder; }
  std::filesystem::path PartsDir() const { return FFolder / "parts"; }
  std::filesystem::path DeliveredDir() const { return FFolder / "delivered"; }
  std::filesystem::path WorkDir() const { return FFolder / "work"; }

  // Held by every operation on the session; the fields below are guarded by it.
  std::mutex Lock;
  // Where the last merged file is now (delivered/, or work/ once unpacked); empty before a merge.
  std::filesystem::path MergedFile;
  bool Unpacked = false;
  int64_t PartCount = 0;
  int64_t PartBytes = 0;

 private:
  std::string FId;
  std::filesystem::path FFolder;
};

class TSessionStore {
 public:
  // Creates the root and its incoming folder, emptying what a previous run left there. Session
  // folders already under the root count towards maxSessions.
  TSessionStore(std::filesystem::path root, int64_t maxSessions);

  const std::filesystem::path& Root() const { return FRoot; }
  std::filesystem::path IncomingDir() const { return FRoot / ".incoming"; }

  // A new session with its folders. Raises ETooManySessions once maxSessions exist.
  std::shared_ptr<TSession> Create();
  // The session with that identifier; a folder left by an earlier run of the service is taken
  // up again. Raises EUnknownSession.
  std::shared_ptr<TSession> Find(const std::string& id);

 private:
  std::filesystem::path FRoot;
  int64_t FMaxSessions;
  std::mutex FLock;
  int64_t FSessionCount = 0;  // session folders under the root, guarded by FLock
  std::map<std::string, std::shared_ptr<TSession>> FSessions;
};

}  // namespace vorlen
