#include "server/FileConcat.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/Paths.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace fs = std::filesystem;

namespace vorlen {

namespace {

constexpr int64_t kCopyBlock = 1 << 20;

[[noreturn]] void Fail(const char* what, const std::string& name, int error) {
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

void AppendFiles(const std::vector<TSourceFile>& sources, const TFd& out,
                 const std::string& outName) {
  std::vector<uint8_t> block;
  bool kernelCopy = true;
  for (const TSourceFile& source : sources) {
    while (kernelCopy) {
      const ssize_t n = copy_file_range(source.Fd.Get(), nullptr, out.Get(), nullptr,
                                        static_cast<size_t>(kCopyBlock) * 64, 0);
      if (n == 0) break;
      if (n > 0) continue;
      if (errno == EINTR) continue;
      // Older kernels and some file systems (across mounts, special files) refuse it; the
      // offsets have not moved, so the plain copy takes over where it stopped.
      if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
        kernelCopy = false;
        break;
      }
      Fail("copy", source.Name, errno);
    }
    if (!kernelCopy) {
      block.resize(static_cast<size_t>(kCopyBlock));
      CopyFdBuffered(source.Fd.Get(), out.Get(), source.Name, outName, block);
    }
  }
}

void ConcatenateFiles(const std::vector<fs::path>& sources, const fs::path& target) {
  const std::string targetName = Utf8FromFsPath(target);
  TFd out(open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.Get() < 0) Fail("create", targetName, errno);
  std::vector<TSourceFile> opened;
  for (const fs::path& source : sources) {
    TSourceFile file{TFd(open(source.c_str(), O_RDONLY | O_CLOEXEC)), Utf8FromFsPath(source)};
    if (file.Fd.Get() < 0) Fail("open", file.Name, errno);
    opened.push_back(std::move(file));
  }
  AppendFiles(opened, out, targetName);
  out.Close(targetName);
}

}  // namespace vorlen
