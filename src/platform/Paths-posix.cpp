#include "platform/Paths.h"

namespace vorlen {

const char PathDelim = '/';

bool IsPathDelimiter(char c) { return c == '/'; }

std::filesystem::path FsPathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8FromFsPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace vorlen
