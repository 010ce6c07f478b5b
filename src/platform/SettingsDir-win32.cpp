#include "platform/SettingsDir.h"

namespace vorlen {

// The installer puts the program in the user's own folder, so the settings stay beside it.
std::string SettingsDir(const std::string& exeDir) { return exeDir; }

}  // namespace vorlen
