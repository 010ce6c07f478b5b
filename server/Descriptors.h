// Files and folders of the service's root reached through open descriptors. Every name is
// looked up relative to the descriptor of its folder and never through a symbolic link, so a
// folder swapped for a link after it was opened cannot lead a read or a write elsewhere.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runtime/Exception.h"
#include "runtime/Stream.h"

namespace vorlen {

// A request refused by one of the service's bounds (sessions, storage, unpacking, the disk). The
// message is meant for the caller.
class EServiceLimit : public Exception {
 public:
  using Exception::Exception;
};

// The file system under the root is full (or the service's user is over its quota): the
// service's state, not the caller's fault. The message is kDiskFullText; Detail() says where.
class EDiskFull : public EServiceLimit {
 public:
  explicit EDiskFull(std::string detail);
  const std::string& Detail() const { return FDetail; }

 private:
  std::string FDetail;
};

extern const char* const kDiskFullText;  // "no space left on the service's disk"

// True for the errors of a full disk or an exhausted quota.
bool IsDiskFullError(int error);

// One owned descriptor.
class TFd {
 public:
  TFd() = default;
  explicit TFd(int fd) : FFd(fd) {}
  TFd(TFd&& other) noexcept;
  TFd& operator=(TFd&& other) noexcept;
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd();

  int Get() const { return FFd; }
  int64_t Size() const;
  // The open file under a name that no later rename or link can redirect, for code that opens
  // files by name.
  std::string ProcPath() const;
  // Flushes the file's data to the disk; what names the file in the message.
  void Sync(const std::string& what) const;
  // Closing reports the last write errors, which a destructor would have to drop.
  void Close(const std::string& what);

 private:
  int FFd = -1;
};

struct TDirEntry {
  std::string Name;
  bool IsFile = false;  // a plain file (links are neither files nor folders)
  bool IsFolder = false;
  int64_t Size = 0;
  std::time_t Modified = 0;
};

class TDirFd {
 public:
  // A folder given by the operator (the root): links on its way are the operator's choice.
  static TDirFd OpenPath(const std::filesystem::path& path);

  const std::filesystem::path& Path() const { return FPath; }
  int Get() const { return FFd.Get(); }

  // The folder name below this one, made first when create is set. Raises Exception when it is
  // missing, a link or no folder.
  TDirFd Sub(const std::string& name, bool create = false) const;
  // The same, but nothing when it is missing, a link or no folder.
  std::optional<TDirFd> TrySub(const std::string& name) const;
  // Makes the folder name; false when something of that name exists.
  bool MakeFolder(const std::string& name) const;

  // What is there under name, without following a link; nothing when it is missing.
  std::optional<TDirEntry> Stat(const std::string& name) const;
  std::vector<TDirEntry> List() const;
  // Each name in the folder, as the folder lists it, without looking at what it is: a folder of
  // a million names is walked without holding them all.
  void ForEachName(const std::function<void(const char* name)>& visit) const;
  // Bytes of every plain file below this folder; entries, when given, gets the number of names
  // below it (files, folders and anything else: each takes an inode).
  int64_t TreeBytes(int64_t* entries = nullptr) const;
  // Bytes the file system can still give to the service.
  int64_t FreeBytes() const;

  // Opens a plain file for reading; nothing when it is missing, a link or no plain file.
  std::optional<TFd> OpenRead(const std::string& name) const;
  // Creates a file that did not exist, under a fresh name starting with prefix.
  TFd CreateUnique(const std::string& prefix, std::string& name) const;

  void Rename(const std::string& from, const TDirFd& to, const std::string& toName) const;
  // Moves a file given by path into this folder as toName; false when they lie on different
  // file systems.
  bool RenameFrom(const std::filesystem::path& source, const std::string& toName) const;
  // Reads a small plain file whole; nothing when it is missing.
  std::optional<std::string> ReadSmall(const std::string& name) const;
  // Replaces name with bytes so that a crash leaves the old or the new content whole: written
  // under a temporary name, flushed, renamed over name, and the folder flushed.
  void ReplaceAtomically(const std::string& name, const std::string& bytes) const;

  // Removes name and, for a folder, everything in it; links are removed, never followed.
  void RemoveTree(const std::string& name) const;
  // Flushes the folder's entries, so that renames into it survive a crash.
  void Sync() const;

 private:
  TDirFd(TFd fd, std::filesystem::path path) : FFd(std::move(fd)), FPath(std::move(path)) {}

  TFd FFd;
  std::filesystem::path FPath;
};

// A file written under a temporary name in a work folder and given its final name only once
// it is complete and on disk. Removed when the scope ends without Commit().
class TPendingFile {
 public:
  TPendingFile(const TDirFd& work, const std::string& prefix);
  TPendingFile(const TPendingFile&) = delete;
  TPendingFile& operator=(const TPendingFile&) = delete;
  ~TPendingFile();

  const TFd& Fd() const { return FFd; }
  const std::string& Name() const { return FName; }
  // Flushes and closes the file and renames it to target/name. The caller flushes target once
  // all its files are in.
  void Commit(const TDirFd& target, const std::string& name);
  // Flushes and closes the file and keeps it in the work folder under its name, without
  // holding a descriptor: for callers that stage many files and rename them later.
  void Keep();

 private:
  const TDirFd& FWork;
  std::string FName;
  TFd FFd;
  bool FCommitted = false;
};

// Flushes a file given by path to the disk.
void SyncFile(const std::filesystem::path& path);

// Writes to a descriptor from the current offset on, for code that writes to a TStream.
class TFdWriteStream : public TStream {
 public:
  explicit TFdWriteStream(const TFd& fd) : FFd(fd) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // Only the position can be asked for.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

 private:
  const TFd& FFd;
  int64_t FWritten = 0;
};

}  // namespace vorlen
