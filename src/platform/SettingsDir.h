// Where sendcfg.ini and sendDetails.txt live: beside the executable, unless that folder cannot be
// written (a program installed system-wide), in which case the user's own configuration folder.
#pragma once

#include <string>
#include <vector>

namespace vorlen {

// The folder, ending in the path separator, that holds the settings and details files of a program
// in exeDir (which ends in a separator). The user's folder is created when it is chosen; a folder
// that cannot be created is still returned, so that writing there reports the failure.
std::string SettingsDir(const std::string& exeDir);

// Where the settings of a program in exeDir are looked up and written.
struct TSettingsPlaces {
  std::vector<std::string> ReadDirs;  // folders whose sendcfg.ini is read, in order of precedence
  std::string WriteDir;               // SettingsDir(exeDir): written sendcfg.ini, sendDetails.txt
  bool MachineSettings = false;       // the machine's settings (the registry) come after the files
};

// Linux: the one folder of SettingsDir. Windows: the same for a program the user may change;
// for one installed per machine (in Program Files, or in a folder it cannot write), the
// program's folder, then the user's %APPDATA%\Vorlen Sender\ (written), then the machine's.
TSettingsPlaces SettingsPlaces(const std::string& exeDir);

}  // namespace vorlen
