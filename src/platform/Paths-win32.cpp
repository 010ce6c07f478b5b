#include "platform/Paths.h"
#include "runtime/WindowsText.h"

namespace vorlen {

const char PathDelim = '\\';

bool IsPathDelimiter(char c) { return c == '\\' || c == '/' || c == ':'; }

// Through UTF-16 by the system's own conversion, which is what the file system keeps.
std::filesystem::path FsPathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(WideFromUtf8(utf8));
}

std::string Utf8FromFsPath(const std::filesystem::path& path) {
  return Utf8FromWide(path.native());
}

}  // namespace vorlen
