#include "platform/ExePath.h"

#include "runtime/Exception.h"
#include "runtime/Format.h"

#include <filesystem>
#include <system_error>

namespace vorlen {

std::string ExecutablePath() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    throw Exception(Format("Cannot determine the executable's path. %s", error.message().c_str()));
  }
  return path.string();
}

}  // namespace vorlen
