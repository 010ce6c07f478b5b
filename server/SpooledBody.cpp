#include "server/SpooledBody.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "server/Descriptors.h"

namespace vorlen {

TSpooledBody::TSpooledBody(std::string folder, TDiskBudget* budget)
    : FFolder(std::move(folder)), FHold(budget) {}

TSpooledBody::~TSpooledBody() { Clear(); }

void TSpooledBody::Clear() {
  if (FFile >= 0) close(FFile);
  FFile = -1;
  FMemory.Clear();
  FSize = FPosition = 0;
  FHold.Release();
}

void TSpooledBody::Fail(const std::string& what) {
  const int error = errno;
  const std::string text = what + ": " + std::strerror(error);
  // A full disk is the service's trouble, not the sender's: it is answered as such.
  if (IsDiskFullError(error)) throw EDiskFull(text);
  throw EStreamError(text);
}

void TSpooledBody::MoveToFile() {
  // Unnamed: nothing is left behind whatever happens to the process.
  FFile = open(FFolder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (FFile < 0 && (errno == EOPNOTSUPP || errno == EISDIR)) {
    // A file system without unnamed files: a named one, unlinked at once.
    std::string path = FFolder + "/.body-XXXXXX";
    FFile = mkostemp(path.data(), O_CLOEXEC);
    if (FFile >= 0) unlink(path.c_str());
  }
  if (FFile < 0) Fail(Format("Cannot hold the request body in %s", FFolder.c_str()));
  const std::string held = FMemory.ToString();
  FMemory.Clear();
  for (size_t done = 0; done < held.size();) {
    const ssize_t n = pwrite(FFile, held.data() + done, held.size() - done,
                             static_cast<off_t>(done));
    if (n <= 0) Fail("Cannot hold the request body");
    done += static_cast<size_t>(n);
  }
}

int64_t TSpooledBody::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const bool onDisk = FFile >= 0 || FPosition + count > kInMemory;
  // Counted before it is written, so that held bodies cannot crowd out acknowledged files.
  if (onDisk) FHold.Resize(std::max(FSize, FPosition + count));
  if (FFile < 0 && onDisk) MoveToFile();
  if (FFile < 0) {
    FMemory.SetPosition(FPosition);
    FMemory.WriteBuffer(buffer, count);
  } else {
    const auto* bytes = static_cast<const char*>(buffer);
    for (int64_t done = 0; done < count;) {
      const ssize_t n = pwrite(FFile, bytes + done, static_cast<size_t>(count - done),
                               static_cast<off_t>(FPosition + done));
      if (n <= 0) Fail("Cannot hold the request body");
      done += n;
    }
  }
  FPosition += count;
  FSize = std::max(FSize, FPosition);
  return count;
}

int64_t TSpooledBody::Read(void* buffer, int64_t count) {
  count = std::min(count, FSize - FPosition);
  if (count <= 0) return 0;
  int64_t n;
  if (FFile < 0) {
    FMemory.SetPosition(FPosition);
    n = FMemory.Read(buffer, count);
  } else {
    n = pread(FFile, buffer, static_cast<size_t>(count), static_cast<off_t>(FPosition));
    if (n < 0) throw EStreamError(Format("Cannot read the request body: %s", std::strerror(errno)));
  }
  FPosition += n;
  return n;
}

int64_t TSpooledBody::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = SeekTarget(offset, origin, FPosition);
  return FPosition;
}

}  // namespace vorlen
