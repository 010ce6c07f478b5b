#include <unistd.h>

#include <cerrno>

#include "platform/Console.h"

namespace vorlen {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  if (argc < 1) return {};
  return std::vector<std::string>(argv + 1, argv + argc);
}

void WriteStdText(TStdStream stream, std::string_view utf8) {
  const int fd = stream == TStdStream::ssOutput ? STDOUT_FILENO : STDERR_FILENO;
  while (!utf8.empty()) {
    const ssize_t written = ::write(fd, utf8.data(), utf8.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    utf8.remove_prefix(static_cast<size_t>(written));
  }
}

}  // namespace vorlen
