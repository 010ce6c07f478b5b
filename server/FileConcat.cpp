#include "server/FileConcat.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/Paths.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace fs = std::filesystem;

namespace vorlen {

namespace {

constexpr int64_t kCopyBlock = 1 << 20;

[[noreturn]] void Fail(const char* what, const std::string& name, int error) {
  if (IsDiskFullError(error)) {
    throw EDiskFull(Format("Cannot %s %s: %s", what, name.c_str(), std::strerror(error)));
  }
  throw Exception(Format("Cannot %s %s: %s", what, name.c_str(), std::strerror(error)));
}

// Plain read/write for file systems where copy_file_range is refused.
void CopyFdBuffered(int in, int out, const std::string& source, const std::string& target,
                    std::vector<uint8_t>& block) {
  for (;;) {
    const ssize_t n = read(in, block.data(), block.size());
    if (n == 0) return;
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("read", source, errno);
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t written = write(out, block.data() + done, static_cast<size_t>(n - done));
      if (written < 0) {
        if (errno == EINTR) continue;
        Fail("write", target, errno);
      }
      done += written;
    }
  }
}

}  // namespace

TFileConcat::TFileConcat(const TFd& out, std::string outName)
    : FOut(out), FOutName(std::move(outName)) {}

void TFileConcat::Append(const TFd& source, const std::string& sourceName) {
  while (FKernelCopy) {
    const ssize_t n = copy_file_range(source.Get(), nullptr, FOut.Get(), nullptr,
                                      static_cast<size_t>(kCopyBlock) * 64, 0);
    if (n == 0) return;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    // Older kernels and some file systems (across mounts, special files) refuse it; the
    // offsets have not moved, so the plain copy takes over where it stopped.
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
      FKernelCopy = false;
      break;
    }
    Fail("copy", sourceName, errno);
  }
  FBlock.resize(static_cast<size_t>(kCopyBlock));
  CopyFdBuffered(source.Get(), FOut.Get(), sourceName, FOutName, FBlock);
}

void ConcatenateFiles(const std::vector<fs::path>& sources, const fs::path& target) {
  const std::string targetName = Utf8FromFsPath(target);
  TFd out(open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.Get() < 0) Fail("create", targetName, errno);
  TFileConcat concat(out, targetName);
  for (const fs::path& source : sources) {
    const TFd in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0) Fail("open", Utf8FromFsPath(source), errno);
    concat.Append(in, Utf8FromFsPath(source));
  }
  out.Close(targetName);
}

}  // namespace vorlen
