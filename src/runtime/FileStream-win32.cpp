#include <windows.h>

#include <algorithm>

#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"
#include "runtime/WindowsText.h"

namespace vorlen {

namespace {

HANDLE Win(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// One block per call: ReadFile and WriteFile count in 32 bits.
constexpr int64_t kMaxBlock = 1 << 30;

}  // namespace

TFileStream::TFileStream(const std::string& fileName, TMode mode) : FFileName(fileName) {
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case fmCreate:
      disposition = CREATE_ALWAYS;
      break;
    case fmCreateNew:
      disposition = CREATE_NEW;
      break;
    case fmOpenRead:
      access = GENERIC_READ;
      break;
    case fmOpenWrite:
      access = GENERIC_WRITE;
      break;
    case fmOpenReadWrite:
      break;
  }
  // Shared like a POSIX descriptor: others may read, write, rename and delete the file meanwhile.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE handle = CreateFileW(WidePath(fileName).c_str(), access, share, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const std::string reason = LastErrorText();
    if (mode == fmCreate || mode == fmCreateNew)
      throw EFCreateError(
          Format("Cannot create file \"%s\". %s", fileName.c_str(), reason.c_str()));
    throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), reason.c_str()));
  }
  FHandle = reinterpret_cast<std::intptr_t>(handle);
}

TFileStream::~TFileStream() {
  if (Win(FHandle) != INVALID_HANDLE_VALUE) CloseHandle(Win(FHandle));
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  DWORD done = 0;
  if (!ReadFile(Win(FHandle), buffer, static_cast<DWORD>(std::min(count, kMaxBlock)), &done,
                nullptr))
    return 0;
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  DWORD done = 0;
  if (!WriteFile(Win(FHandle), buffer, static_cast<DWORD>(std::min(count, kMaxBlock)), &done,
                 nullptr))
    return 0;
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  DWORD method = FILE_BEGIN;
  if (origin == TSeekOrigin::skCurrent) method = FILE_CURRENT;
  if (origin == TSeekOrigin::skEnd) method = FILE_END;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER position;
  if (!SetFilePointerEx(Win(FHandle), distance, &position, method))
    throw EStreamError("Invalid stream position");
  return position.QuadPart;
}

int64_t TFileStream::Size() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(Win(FHandle), &size)) return TStream::Size();
  return size.QuadPart;
}

void TFileStream::SetSize(int64_t size) {
  const int64_t position = Position();
  SetPosition(size);
  const bool resized = SetEndOfFile(Win(FHandle)) != 0;
  SetPosition(std::min(position, size));
  if (!resized) throw EStreamError("Stream size cannot be changed");
}

}  // namespace vorlen
