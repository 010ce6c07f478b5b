#include "platform/TempFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace vorlen {

#ifdef _WIN32

namespace {
std::string Narrow(const wchar_t* wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(length > 0 ? length - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, result.data(), length, nullptr, nullptr);
  return result;
}
std::wstring Widen(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring result(static_cast<size_t>(length > 0 ? length - 1 : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), length);
  return result;
}
}  // namespace

std::string SystemTempDir() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) throw Exception("The temporary directory is not known");
  std::string dir = Narrow(buffer);
  while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  return dir;
}

std::string CreateTempFile(const std::string& dir, const std::string& prefix) {
  wchar_t buffer[MAX_PATH];
  // Unique number 0 makes the system pick the number and create the empty file.
  if (GetTempFileNameW(Widen(dir).c_str(), Widen(prefix).c_str(), 0, buffer) == 0)
    throw Exception(Format("Cannot create a temporary file in \"%s\"", dir.c_str()));
  return Narrow(buffer);
}

#else

std::string SystemTempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string CreateTempFile(const std::string& dir, const std::string& prefix) {
  std::string pattern = dir;
  if (pattern.empty() || pattern.back() != '/') pattern += '/';
  pattern += prefix;
  pattern += "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int handle = ::mkstemp(name.data());
  if (handle < 0)
    throw Exception(Format("Cannot create a temporary file in \"%s\". %s", dir.c_str(), std::strerror(errno)));
  ::close(handle);
  return std::string(name.data());
}

#endif

}  // namespace vorlen
