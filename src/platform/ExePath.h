// Where the running program lives: sendcfg.ini and sendDetails.txt sit beside it.
#pragma once

#include <string>

namespace vorlen {

// The running executable's full path as the process reports it (UTF-8).
std::string ExecutablePath();

// The directory part of ExecutablePath(), ending in the path separator.
std::string ExecutableDir();

}  // namespace vorlen
