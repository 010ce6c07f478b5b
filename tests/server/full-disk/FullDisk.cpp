// Preloaded (LD_PRELOAD) into vorlen-service by the full-disk test where no small file system can
// be mounted. VORLEN_FULL_DISK names a path P: while P.bytes exists the disk has no free space
// (statvfs says so, writes to files fail with ENOSPC); while P.inodes exists no file can be
// made. Otherwise every call goes through unchanged.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>

namespace {

bool Full(const char* what) {
  const char* prefix = getenv("VORLEN_FULL_DISK");
  return prefix != nullptr && access((std::string(prefix) + what).c_str(), F_OK) == 0;
}

bool NoSpaceFor(int fd) {
  struct stat info;
  if (!Full(".bytes") || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  errno = ENOSPC;
  return true;
}

bool NoInodeFor(int flags) {
  if ((flags & O_CREAT) == 0 && (flags & O_TMPFILE) != O_TMPFILE) return false;
  if (!Full(".inodes")) return false;
  errno = ENOSPC;
  return true;
}

int EmptyDisk(int result, struct statvfs* info) {
  if (result == 0 && Full(".bytes")) info->f_bavail = info->f_bfree = 0;
  return result;
}

template <typename TFunction>
TFunction* Next(const char* name) {
  return reinterpret_cast<TFunction*>(dlsym(RTLD_NEXT, name));
}

// The mode argument is there only when a file may be made.
mode_t ModeOf(int flags, va_list arguments) {
  const bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
  return creates ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* buffer, size_t count) {
  if (NoSpaceFor(fd)) return -1;
  return Next<ssize_t(int, const void*, size_t)>("write")(fd, buffer, count);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  if (NoSpaceFor(fd)) return -1;
  return Next<ssize_t(int, const void*, size_t, off_t)>("pwrite")(fd, buffer, count, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off64_t offset) {
  if (NoSpaceFor(fd)) return -1;
  return Next<ssize_t(int, const void*, size_t, off64_t)>("pwrite64")(fd, buffer, count, offset);
}

ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t count,
                        unsigned int flags) {
  if (NoSpaceFor(out)) return -1;
  return Next<ssize_t(int, off64_t*, int, off64_t*, size_t, unsigned int)>("copy_file_range")(
      in, inOffset, out, outOffset, count, flags);
}

int statvfs(const char* path, struct statvfs* info) {
  return EmptyDisk(Next<int(const char*, struct statvfs*)>("statvfs")(path, info), info);
}

int fstatvfs(int fd, struct statvfs* info) {
  return EmptyDisk(Next<int(int, struct statvfs*)>("fstatvfs")(fd, info), info);
}

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = ModeOf(flags, arguments);
  va_end(arguments);
  if (NoInodeFor(flags)) return -1;
  return Next<int(const char*, int, ...)>("open")(path, flags, mode);
}

int openat(int folder, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = ModeOf(flags, arguments);
  va_end(arguments);
  if (NoInodeFor(flags)) return -1;
  return Next<int(int, const char*, int, ...)>("openat")(folder, path, flags, mode);
}

}  // extern "C"
