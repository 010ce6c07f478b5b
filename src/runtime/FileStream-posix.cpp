#include "runtime/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace vorlen {

namespace {
int Fd(std::intptr_t handle) { return static_cast<int>(handle); }
}  // namespace

TFileStream::TFileStream(const std::string& fileName, TMode mode) : FFileName(fileName) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case fmCreate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case fmCreateNew:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      break;
    case fmOpenRead:
      flags |= O_RDONLY;
      break;
    case fmOpenWrite:
      flags |= O_WRONLY;
      break;
    case fmOpenReadWrite:
      flags |= O_RDWR;
      break;
  }
  FHandle = ::open(fileName.c_str(), flags, 0644);
  if (FHandle < 0) {
    const char* reason = std::strerror(errno);
    if (mode == fmCreate || mode == fmCreateNew)
      throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), reason));
    throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), reason));
  }
  // Directories open read-only on POSIX; they are no files to stream.
  struct stat info {};
  if (::fstat(Fd(FHandle), &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(Fd(FHandle));
    FHandle = -1;
    throw EFOpenError(
        Format("Cannot open file \"%s\". %s", fileName.c_str(), std::strerror(EISDIR)));
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(Fd(FHandle));
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const auto n =
        ::read(Fd(FHandle), buffer, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? 0 : n;
  }
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const auto n =
        ::write(Fd(FHandle), buffer, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? 0 : n;
  }
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = SEEK_SET;
  if (origin == TSeekOrigin::skCurrent) whence = SEEK_CUR;
  if (origin == TSeekOrigin::skEnd) whence = SEEK_END;
  const auto position = ::lseek(Fd(FHandle), offset, whence);
  if (position < 0) throw EStreamError("Invalid stream position");
  return position;
}

int64_t TFileStream::Size() {
  struct stat info {};
  if (::fstat(Fd(FHandle), &info) != 0) return TStream::Size();
  return info.st_size;
}

void TFileStream::SetSize(int64_t size) {
  if (::ftruncate(Fd(FHandle), size) != 0) throw EStreamError("Stream size cannot be changed");
  if (Position() > size) SetPosition(size);
}

}  // namespace vorlen
