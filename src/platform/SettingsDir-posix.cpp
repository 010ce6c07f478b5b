#include "platform/SettingsDir.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/Paths.h"

namespace vorlen {

namespace {

std::string HomeDir() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir) {
    return found->pw_dir;
  }
  return {};
}

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config (relative values are to be
// ignored, as the base-directory rules say).
std::string UserConfigDir() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') {
    return config;
  }
  return HomeDir() + "/.config";
}

}  // namespace

std::string SettingsDir(const std::string& exeDir) {
  if (access(exeDir.c_str(), W_OK) == 0) return exeDir;
  std::string dir = UserConfigDir() + "/vorlen-sender/";
  std::error_code ignored;  // a folder that cannot be made shows up as a failed write later
  std::filesystem::create_directories(FsPathFromUtf8(dir), ignored);
  return dir;
}

TSettingsPlaces SettingsPlaces(const std::string& exeDir) {
  std::string dir = SettingsDir(exeDir);
  return {{dir}, dir, false};
}

}  // namespace vorlen
