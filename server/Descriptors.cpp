#include "server/Descriptors.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/Paths.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "server/SessionId.h"

namespace fs = std::filesystem;

namespace vorlen {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

[[noreturn]] void Fail(const char* what, const fs::path& path, int error) {
  if (IsDiskFullError(error)) {
    throw EDiskFull(
        Format("Cannot %s %s: %s", what, Utf8FromFsPath(path).c_str(), std::strerror(error)));
  }
  throw Exception(
      Format("Cannot %s %s: %s", what, Utf8FromFsPath(path).c_str(), std::strerror(error)));
}

TDirEntry EntryOf(const std::string& name, const struct stat& info) {
  TDirEntry entry;
  entry.Name = name;
  entry.IsFile = S_ISREG(info.st_mode);
  entry.IsFolder = S_ISDIR(info.st_mode);
  entry.Size = entry.IsFile ? static_cast<int64_t>(info.st_size) : 0;
  entry.Modified = info.st_mtime;
  return entry;
}

}  // namespace

const char* const kDiskFullText = "no space left on the service's disk";

EDiskFull::EDiskFull(std::string detail)
    : EServiceLimit(kDiskFullText), FDetail(std::move(detail)) {}

bool IsDiskFullError(int error) { return error == ENOSPC || error == EDQUOT; }

TFd::TFd(TFd&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}

TFd& TFd::operator=(TFd&& other) noexcept {
  if (this != &other) {
    if (FFd >= 0) close(FFd);
    FFd = std::exchange(other.FFd, -1);
  }
  return *this;
}

TFd::~TFd() {
  if (FFd >= 0) close(FFd);
}

int64_t TFd::Size() const {
  struct stat info;
  if (fstat(FFd, &info) != 0) Fail("examine", ProcPath(), errno);
  return static_cast<int64_t>(info.st_size);
}

std::string TFd::ProcPath() const { return Format("/proc/self/fd/%d", FFd); }

void TFd::Sync(const std::string& what) const {
  if (fsync(FFd) != 0) Fail("flush", FsPathFromUtf8(what), errno);
}

void TFd::Close(const std::string& what) {
  const int result = close(std::exchange(FFd, -1));
  if (result != 0) Fail("write", FsPathFromUtf8(what), errno);
}

TDirFd TDirFd::OpenPath(const fs::path& path) {
  TFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Get() < 0) Fail("open", path, errno);
  return TDirFd(std::move(fd), path);
}

TDirFd TDirFd::Sub(const std::string& name, bool create) const {
  if (create && mkdirat(Get(), name.c_str(), 0755) != 0 && errno != EEXIST) {
    Fail("create", FPath / name, errno);
  }
  TFd fd(openat(Get(), name.c_str(), kFolderFlags));
  if (fd.Get() < 0) {
    if (errno == ELOOP || errno == ENOTDIR) {
      throw Exception(Format("%s is not a plain directory", Utf8FromFsPath(FPath / name).c_str()));
    }
    Fail("open", FPath / name, errno);
  }
  return TDirFd(std::move(fd), FPath / name);
}

std::optional<TDirFd> TDirFd::TrySub(const std::string& name) const {
  TFd fd(openat(Get(), name.c_str(), kFolderFlags));
  if (fd.Get() < 0) {
    if (errno == ENOENT || errno == ELOOP || errno == ENOTDIR) return std::nullopt;
    Fail("open", FPath / name, errno);
  }
  return TDirFd(std::move(fd), FPath / name);
}

bool TDirFd::MakeFolder(const std::string& name) const {
  if (mkdirat(Get(), name.c_str(), 0755) == 0) return true;
  if (errno == EEXIST) return false;
  Fail("create", FPath / name, errno);
}

std::optional<TDirEntry> TDirFd::Stat(const std::string& name) const {
  struct stat info;
  if (fstatat(Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return std::nullopt;
    Fail("examine", FPath / name, errno);
  }
  return EntryOf(name, info);
}

void TDirFd::ForEachName(const std::function<void(const char* name)>& visit) const {
  // fdopendir takes the descriptor it is given; this folder keeps its own.
  const int copy = openat(Get(), ".", kFolderFlags);
  if (copy < 0) Fail("open", FPath, errno);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(copy), closedir);
  if (!dir) {
    const int error = errno;
    close(copy);
    Fail("list", FPath, error);
  }
  while (const dirent* item = readdir(dir.get())) {
    if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0) {
      visit(item->d_name);
    }
  }
}

std::vector<TDirEntry> TDirFd::List() const {
  std::vector<TDirEntry> entries;
  ForEachName([&](const char* name) {
    // Gone between the listing and the look: it is no longer there to report.
    if (auto entry = Stat(name)) entries.push_back(std::move(*entry));
  });
  return entries;
}

int64_t TDirFd::TreeBytes(int64_t* entries) const {
  int64_t total = 0;
  for (const TDirEntry& entry : List()) {
    if (entries) ++*entries;
    if (entry.IsFile) total += entry.Size;
    if (entry.IsFolder) {
      if (auto sub = TrySub(entry.Name)) total += sub->TreeBytes(entries);
    }
  }
  return total;
}

int64_t TDirFd::FreeBytes() const {
  struct statvfs info;
  if (fstatvfs(Get(), &info) != 0) Fail("examine", FPath, errno);
  return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

std::optional<TFd> TDirFd::OpenRead(const std::string& name) const {
  TFd fd(openat(Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) {
    if (errno == ENOENT || errno == ELOOP) return std::nullopt;
    Fail("open", FPath / name, errno);
  }
  // O_NONBLOCK keeps a planted FIFO from blocking the open; what is read must be a plain file.
  struct stat info;
  if (fstat(fd.Get(), &info) != 0) Fail("examine", FPath / name, errno);
  if (!S_ISREG(info.st_mode)) return std::nullopt;
  fcntl(fd.Get(), F_SETFL, 0);
  return fd;
}

TFd TDirFd::CreateUnique(const std::string& prefix, std::string& name) const {
  for (;;) {
    name = prefix + NewSessionId();
    TFd fd(openat(Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd.Get() >= 0) return fd;
    if (errno != EEXIST) Fail("create", FPath / name, errno);
  }
}

void TDirFd::Rename(const std::string& from, const TDirFd& to, const std::string& toName) const {
  if (renameat(Get(), from.c_str(), to.Get(), toName.c_str()) != 0) {
    Fail("rename", FPath / from, errno);
  }
}

bool TDirFd::RenameFrom(const fs::path& source, const std::string& toName) const {
  if (renameat(AT_FDCWD, source.c_str(), Get(), toName.c_str()) == 0) return true;
  if (errno == EXDEV) return false;
  Fail("move", source, errno);
}

std::optional<std::string> TDirFd::ReadSmall(const std::string& name) const {
  std::optional<TFd> fd = OpenRead(name);
  if (!fd) return std::nullopt;
  std::string bytes;
  char block[4096];
  for (;;) {
    const ssize_t n = read(fd->Get(), block, sizeof block);
    if (n == 0) return bytes;
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("read", FPath / name, errno);
    }
    bytes.append(block, static_cast<size_t>(n));
  }
}

void TDirFd::ReplaceAtomically(const std::string& name, const std::string& bytes) const {
  const std::string temporary = name + ".new";
  TFd fd(openat(Get(), temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                0644));
  if (fd.Get() < 0) Fail("create", FPath / temporary, errno);
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd.Get(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("write", FPath / temporary, errno);
    }
    done += static_cast<size_t>(n);
  }
  const std::string what = Utf8FromFsPath(FPath / temporary);
  fd.Sync(what);
  fd.Close(what);
  Rename(temporary, *this, name);
  Sync();
}

void TDirFd::RemoveTree(const std::string& name) const {
  const std::optional<TDirEntry> entry = Stat(name);
  if (!entry) return;
  if (entry->IsFolder) {
    if (std::optional<TDirFd> folder = TrySub(name)) {
      for (const TDirEntry& inner : folder->List()) folder->RemoveTree(inner.Name);
    }
  }
  if (unlinkat(Get(), name.c_str(), entry->IsFolder ? AT_REMOVEDIR : 0) != 0 && errno != ENOENT) {
    Fail("remove", FPath / name, errno);
  }
}

void TDirFd::Sync() const {
  if (fsync(Get()) != 0) Fail("flush", FPath, errno);
}

TPendingFile::TPendingFile(const TDirFd& work, const std::string& prefix)
    : FWork(work), FFd(work.CreateUnique(prefix, FName)) {}

TPendingFile::~TPendingFile() {
  if (!FCommitted) unlinkat(FWork.Get(), FName.c_str(), 0);
}

void TPendingFile::Commit(const TDirFd& target, const std::string& name) {
  const std::string what = Utf8FromFsPath(FWork.Path() / FName);
  FFd.Sync(what);
  FFd.Close(what);
  FWork.Rename(FName, target, name);
  FCommitted = true;
}

void TPendingFile::Keep() {
  const std::string what = Utf8FromFsPath(FWork.Path() / FName);
  FFd.Sync(what);
  FFd.Close(what);
  FCommitted = true;
}

void SyncFile(const fs::path& path) {
  TFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.Get() < 0) Fail("open", path, errno);
  fd.Sync(Utf8FromFsPath(path));
}

int64_t TFdWriteStream::Read(void*, int64_t) { throw EStreamError("Stream read error"); }

int64_t TFdWriteStream::Write(const void* buffer, int64_t count) {
  const auto* bytes = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = write(FFd.Get(), bytes + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      if (IsDiskFullError(errno)) {
        throw EDiskFull(Format("Stream write error: %s", std::strerror(errno)));
      }
      throw EStreamError(Format("Stream write error: %s", std::strerror(errno)));
    }
    done += n;
  }
  FWritten += done;
  return done;
}

int64_t TFdWriteStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (offset == 0 && origin != TSeekOrigin::skBeginning) return FWritten;
  throw EStreamError("Invalid stream position");
}

}  // namespace vorlen
