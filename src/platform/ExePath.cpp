#include "platform/ExePath.h"

#include "platform/Paths.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>
#else
#include <filesystem>
#include <system_error>
#endif

namespace vorlen {

#ifdef _WIN32

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) throw Exception("Cannot determine the executable's path");
    if (length < buffer.size()) {
      int size = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), static_cast<int>(length), nullptr,
                                     0, nullptr, nullptr);
      std::string path(static_cast<size_t>(size), '\0');
      WideCharToMultiByte(CP_UTF8, 0, buffer.data(), static_cast<int>(length), path.data(), size,
                          nullptr, nullptr);
      return path;
    }
    buffer.resize(buffer.size() * 2);  // the path was cut short
  }
}

#else

std::string ExecutablePath() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    throw Exception(Format("Cannot determine the executable's path. %s", error.message().c_str()));
  }
  return path.string();
}

#endif

std::string ExecutableDir() { return ExtractFileDir(ExecutablePath()); }

}  // namespace vorlen
