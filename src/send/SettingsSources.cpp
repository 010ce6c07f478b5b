#include "send/SettingsSources.h"

namespace vorlen {

const char* const MachineSettingsKey = "Software\\Vorlen Sender";

TSettingsSources SettingsSources(const TSettingsPlaces& places, IRegistryStore& machine) {
  TSettingsSources sources;
  for (const std::string& dir : places.ReadDirs) sources.Paths.push_back(dir + SettingsFileName);
  sources.WritePath = places.WriteDir + SettingsFileName;
  if (!places.MachineSettings) return sources;
  try {
    if (std::unique_ptr<IRegistryKey> key = machine.OpenKeyForReading(MachineSettingsKey)) {
      sources.MachineUrl = key->ReadString("url");
      sources.MachineOrg = key->ReadString("org");
    }
  } catch (const ERegistryException&) {
    // Unreadable machine settings are as good as none: the operator is asked instead.
    sources.MachineUrl.clear();
    sources.MachineOrg.clear();
  }
  return sources;
}

}  // namespace vorlen
