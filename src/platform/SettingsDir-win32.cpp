#include "platform/SettingsDir.h"

namespace vorlen {

// An installation for the current user keeps its folder writable, so the files stay beside the
// program, where operators look for them.
std::string SettingsDir(const std::string& exeDir) { return exeDir; }

}  // namespace vorlen
