// Marks the executable in the machine's application-compatibility layers so that Windows does not
// show its data-execution-prevention dialog for it.
#pragma once

#include <string>

#include "platform/Registry.h"

namespace vorlen {

extern const char* const CompatibilityLayersKey;
extern const char* const CompatibilityLayerValue;  // "DisableNXShowUI"

// Writes CompatibilityLayerValue under exePath unless it is already there (in any letter case);
// other layers stored with it are replaced. Never fails: the step is a courtesy, and without
// administrator rights it cannot succeed.
void ApplyCompatibilityLayer(IRegistryStore& registry, const std::string& exePath);

}  // namespace vorlen
