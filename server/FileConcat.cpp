#include "server/FileConcat.h"

#include <cstdint>
#include <vector>

#include "platform/Paths.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"

#ifdef __linux__
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace fs = std::filesystem;

namespace vorlen {

namespace {

constexpr int64_t kCopyBlock = 1 << 20;

#ifdef __linux__

class TFd {
 public:
  explicit TFd(int fd) : FFd(fd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() {
    if (FFd >= 0) close(FFd);
  }
  int Get() const { return FFd; }
  // Closing reports the last write errors, which a destructor would have to drop.
  int Close() {
    const int result = close(FFd);
    FFd = -1;
    return result;
  }

 private:
  int FFd;
};

[[noreturn]] void Fail(const char* what, const fs::path& path, int error) {
  throw Exception(Format("Cannot %s %s: %s", what, Utf8FromFsPath(path).c_str(),
                         std::strerror(error)));
}

// Plain read/write for file systems where copy_file_range is refused.
void CopyFdBuffered(int in, int out, const fs::path& source, const fs::path& target,
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

#endif

}  // namespace

void ConcatenateFiles(const std::vector<fs::path>& sources, const fs::path& target) {
  std::vector<uint8_t> block;
#ifdef __linux__
  TFd out(open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.Get() < 0) Fail("create", target, errno);
  bool kernelCopy = true;
  for (const fs::path& source : sources) {
    TFd in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0) Fail("open", source, errno);
    while (kernelCopy) {
      const ssize_t n = copy_file_range(in.Get(), nullptr, out.Get(), nullptr,
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
      Fail("copy", source, errno);
    }
    if (!kernelCopy) {
      block.resize(static_cast<size_t>(kCopyBlock));
      CopyFdBuffered(in.Get(), out.Get(), source, target, block);
    }
  }
  if (out.Close() != 0) Fail("write", target, errno);
#else
  TFileStream output(Utf8FromFsPath(target), TFileStream::fmCreate);
  block.resize(static_cast<size_t>(kCopyBlock));
  for (const fs::path& source : sources) {
    TFileStream input(Utf8FromFsPath(source), TFileStream::fmOpenRead);
    for (;;) {
      const int64_t n = input.Read(block.data(), static_cast<int64_t>(block.size()));
      if (n <= 0) break;
      output.WriteBuffer(block.data(), n);
    }
  }
#endif
}

}  // namespace vorlen
