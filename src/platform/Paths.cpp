#include "platform/Paths.h"

#include <algorithm>
#include <system_error>

namespace vorlen {

namespace {
// Length of the directory part: up to and including the last delimiter.
size_t DirLength(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsPathDelimiter(path[i - 1])) return i;
  return 0;
}
}  // namespace

std::string ExtractFileDir(std::string_view path) {
  return std::string(path.substr(0, DirLength(path)));
}

std::string ExtractFileName(std::string_view path) {
  return std::string(path.substr(DirLength(path)));
}

std::string ExtractFileExt(std::string_view path) {
  const std::string_view name = path.substr(DirLength(path));
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

std::string RemoveDrive(std::string_view text) {
  const size_t colon = text.find(':');
  return colon == std::string_view::npos ? std::string(text) : std::string(text.substr(colon + 1));
}

bool PathExists(std::string_view utf8) {
  std::error_code error;
  return std::filesystem::exists(FsPathFromUtf8(utf8), error);
}

bool DirectoryExists(std::string_view utf8) {
  std::error_code error;
  return std::filesystem::is_directory(FsPathFromUtf8(utf8), error);
}

std::string StoredPathFromNative(std::string_view path) {
  std::string result(path);
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

std::string NativePathFromStored(std::string_view path) {
  std::string result(path);
  std::replace(result.begin(), result.end(), '\\', PathDelim);
  return result;
}

}  // namespace vorlen
