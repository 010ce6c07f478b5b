// Where sendcfg.ini and sendDetails.txt live: beside the executable, unless that folder cannot be
// written (a program installed system-wide), in which case the user's own configuration folder.
#pragma once

#include <string>

namespace vorlen {

// The folder, ending in the path separator, that holds the settings and details files of a program
// in exeDir (which ends in a separator). The user's folder is created when it is chosen; a folder
// that cannot be created is still returned, so that writing there reports the failure.
std::string SettingsDir(const std::string& exeDir);

}  // namespace vorlen
