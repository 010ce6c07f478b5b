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

TLineRedraw StderrLineRedraw() {
  return isatty(STDERR_FILENO) != 0 ? TLineRedraw::lrEscapes : TLineRedraw::lrNone;
}

bool ReadStdInputLine(std::string& line) {
  // A byte at a time: what follows the line stays for whoever reads next.
  line.clear();
  for (;;) {
    char c = 0;
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return !line.empty();
    if (c == '\n') return true;
    line.push_back(c);
  }
}

}  // namespace vorlen
