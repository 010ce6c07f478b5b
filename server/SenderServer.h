// The operations of the upload service on the session folders (see SessionStore.h for the
// layout). Results follow the contract: false for a request that cannot be carried out, an
// exception for an unknown session (EUnknownSession), a bound of the service (EServiceLimit) or
// a failure of the service itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "server/BudgetHold.h"
#include "server/ServiceLimits.h"
#include "server/SessionStore.h"

namespace vorlen {

// The service's own failures (disk full, a folder that cannot be written, ...).
class EServiceFailure : public Exception {
 public:
  using Exception::Exception;
};

class TSenderServer {
 public:
  TSenderServer(const std::filesystem::path& root, TServiceLimits limits);

  // Where the HTTP side puts received attachments until an operation takes them.
  std::filesystem::path IncomingDir() const { return FStore.IncomingDir(); }
  const std::filesystem::path& Root() const { return FStore.Root(); }
  const TServiceLimits& Limits() const { return FLimits; }
  // What every file under the root counts against, temporary ones included.
  TDiskBudget& Budget() { return FStore.Budget(); }

  // peer is the caller's address without port (empty: unknown, bound only by the overall
  // limit).
  std::string GetSession(const std::string& peer = {});
  // Takes the file received (moved, not copied, when it is accepted) as the part partName.
  // hash is the CRC-32 of the bytes as 8 hex digits in either case; only the details file may
  // come without one. counted, when given, holds the received file's bytes in the budget; they
  // pass to the stored file.
  bool UploadFilePart(const std::string& sess, const std::string& partName, const std::string& hash,
                      const std::filesystem::path& received, TBudgetHold* counted = nullptr);
  // A true result means the file is on disk under its name, complete. A delivered name is
  // never replaced; the same merge asked again answers true without doing it again.
  bool MergeFile(int32_t parts, const std::string& fileName, const std::string& sess);
  // Unpacks the last merged file in place of it; asked again once done, answers true at once,
  // and after a crash finishes what was begun.
  bool UnZip(const std::string& sess);
  // Ends the session's send: its temporary files go, and it takes nothing more but another
  // DelTempFiles.
  bool DelTempFiles(const std::string& sess);

  // The folder of a session, for callers that show where files went.
  std::filesystem::path SessionFolder(const std::string& sess);

  // Runs while a part is being stored, once it counts towards the session's bounds and before
  // it is moved into place, with the part's name; other parts of the session may be stored
  // meanwhile.
  std::function<void(const std::string&)> OnPartStoring;

  // Runs when an operation has done a named step (merge-written, merge-recorded,
  // merge-committed, unzip-staged, unzip-packed, unzip-archived, unzip-half), so that tests can
  // stop the service there.
  std::function<void(const char*)> OnPoint;

  // Why an operation answered false, where the answer cannot say it: session, operation, text.
  std::function<void(const std::string&, const std::string&, const std::string&)> OnRefusal;

  // The clock that session idleness is measured on (see TSessionStore::Now).
  void SetClock(std::function<std::chrono::steady_clock::time_point()> now) {
    FStore.SetClock(std::move(now));
  }
  // Waits until the folders of earlier runs have all been looked at.
  void WaitForScan() { FStore.WaitForScan(); }
  void WhenScanned(std::function<void()> done) { FStore.WhenScanned(std::move(done)); }

 private:
  // A session locked for one operation, with its folder open: alone, or shared with the other
  // part uploads.
  struct TAccess {
    std::shared_ptr<TSession> Session;
    std::unique_lock<std::shared_mutex> Alone;
    std::shared_lock<std::shared_mutex> Shared;
    TDirFd Folder;
  };
  TAccess Enter(std::shared_ptr<TSession> session, bool shared = false);
  // Stores a checked part under its name, beside other parts of the session being stored.
  bool StorePart(TAccess& access, const std::string& partName,
                 const std::filesystem::path& received, int64_t size, TBudgetHold* counted);
  // Moves a received file of size bytes into target as name (see UploadFilePart for counted),
  // counting it against the budget; the caller gives back what it replaced.
  void Place(const std::filesystem::path& received, int64_t size, TBudgetHold* counted,
             const TDirFd& target, const std::string& name, const TDirFd& work);
  void Refuse(const std::string& sess, const char* operation, const std::string& reason);
  void Point(const char* name) const;
  // False (with the reason logged) once the session's send has ended.
  bool Sealed(const TSession& session, const char* operation);

  TSessionStore FStore;
  TServiceLimits FLimits;
};

}  // namespace vorlen
