#include "runtime/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "runtime/Exception.h"
#include "runtime/Format.h"

#ifdef _WIN32
#include <io.h>
#define VORLEN_LSEEK _lseeki64
#define VORLEN_FTRUNCATE(fd, size) _chsize_s(fd, size)
#define O_CLOEXEC 0
#else
#include <unistd.h>
#define VORLEN_LSEEK lseek
#define VORLEN_FTRUNCATE(fd, size) ftruncate(fd, size)
#define O_BINARY 0
#endif

namespace vorlen {

int64_t TStream::Size() {
  const int64_t position = Position();
  const int64_t size = Seek(0, TSeekOrigin::soEnd);
  SetPosition(position);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

int64_t TStream::SeekTarget(int64_t offset, TSeekOrigin origin, int64_t current) {
  int64_t base = 0;
  if (origin == TSeekOrigin::soCurrent) base = current;
  if (origin == TSeekOrigin::soEnd) base = Size();
  const int64_t position = base + offset;
  if (position < 0) throw EStreamError("Invalid stream position");
  return position;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const int64_t n = Read(bytes, count);
    if (n <= 0) throw EStreamError("Stream read error");
    bytes += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const int64_t n = Write(bytes, count);
    if (n <= 0) throw EStreamError("Stream write error");
    bytes += n;
    count -= n;
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr int64_t kBlock = 61440;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(count, kBlock)));
  const int64_t total = count;
  while (count > 0) {
    const int64_t n = std::min(count, kBlock);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    count -= n;
  }
  return total;
}

TMemoryStream::TMemoryStream(std::string_view bytes) : FData(bytes.begin(), bytes.end()) {}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t available = std::max<int64_t>(0, Size() - FPosition);
  const int64_t n = std::min(count, available);
  if (n <= 0) return 0;
  std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t end = FPosition + count;
  if (end > Size()) FData.resize(static_cast<size_t>(end));
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = SeekTarget(offset, origin, FPosition);
  return FPosition;
}

void TMemoryStream::SetSize(int64_t size) {
  FData.resize(static_cast<size_t>(size));
  FPosition = std::min(FPosition, size);
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& path) {
  TFileStream file(path, TFileStream::fmOpenRead);
  Clear();
  SetSize(file.Size());
  file.ReadBuffer(FData.data(), Size());
}

void TMemoryStream::SaveToFile(const std::string& path) {
  TFileStream file(path, TFileStream::fmCreate);
  file.WriteBuffer(FData.data(), Size());
}

TFileStream::TFileStream(const std::string& fileName, TMode mode) : FFileName(fileName) {
  int flags = O_BINARY | O_CLOEXEC;
  switch (mode) {
    case fmCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case fmCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    case fmOpenRead: flags |= O_RDONLY; break;
    case fmOpenWrite: flags |= O_WRONLY; break;
    case fmOpenReadWrite: flags |= O_RDWR; break;
  }
  FHandle = ::open(fileName.c_str(), flags, 0644);
  if (FHandle < 0) {
    const char* reason = std::strerror(errno);
    if (mode == fmCreate || mode == fmCreateNew)
      throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), reason));
    throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), reason));
  }
#ifndef _WIN32
  // Directories open read-only on POSIX; they are no files to stream.
  struct stat info {};
  if (::fstat(FHandle, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(FHandle);
    FHandle = -1;
    throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), std::strerror(EISDIR)));
  }
#endif
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const auto n = ::read(FHandle, buffer, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? 0 : n;
  }
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const auto n = ::write(FHandle, buffer, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? 0 : n;
  }
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = SEEK_SET;
  if (origin == TSeekOrigin::soCurrent) whence = SEEK_CUR;
  if (origin == TSeekOrigin::soEnd) whence = SEEK_END;
  const auto position = VORLEN_LSEEK(FHandle, offset, whence);
  if (position < 0) throw EStreamError("Invalid stream position");
  return position;
}

int64_t TFileStream::Size() {
  struct stat info {};
  if (::fstat(FHandle, &info) != 0) return TStream::Size();
  return info.st_size;
}

void TFileStream::SetSize(int64_t size) {
  if (VORLEN_FTRUNCATE(FHandle, size) != 0) throw EStreamError("Stream size cannot be changed");
  if (Position() > size) SetPosition(size);
}

}  // namespace vorlen
