// The places a program's settings come from: the sendcfg.ini files of its settings places and,
// for a program installed per machine, the values that the machine's installation put in the
// registry (HKEY_LOCAL_MACHINE\Software\Vorlen Sender, values "url" and "org").
#pragma once

#include <string>

#include "platform/Registry.h"
#include "platform/SettingsDir.h"
#include "send/SettingsFile.h"

namespace vorlen {

extern const char* const MachineSettingsKey;  // "Software\Vorlen Sender" under HKLM

// The sources for places. The machine's values are read only when places asks for them; a key
// that is missing or cannot be read gives empty values (the prompts then ask).
TSettingsSources SettingsSources(const TSettingsPlaces& places, IRegistryStore& machine);

}  // namespace vorlen
