#include "app/CompatibilityLayer.h"

#include <algorithm>
#include <memory>

namespace vorlen {

const char* const CompatibilityLayersKey =
    "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
const char* const CompatibilityLayerValue = "DisableNXShowUI";

namespace {

bool SameText(const std::string& a, const std::string& b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

void ApplyCompatibilityLayer(IRegistryStore& registry, const std::string& exePath) {
  try {
    std::unique_ptr<IRegistryKey> key = registry.OpenKey(CompatibilityLayersKey);
    if (!SameText(key->ReadString(exePath), CompatibilityLayerValue)) {
      key->WriteString(exePath, CompatibilityLayerValue);
    }
  } catch (const std::exception&) {
    // Missing rights or no registry at all: start-up goes on without the setting.
  }
}

}  // namespace vorlen
