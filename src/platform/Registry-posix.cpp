#include "platform/Registry.h"

#include "runtime/Format.h"

namespace vorlen {

namespace {

class TAbsentRegistryStore : public IRegistryStore {
 public:
  std::unique_ptr<IRegistryKey> OpenKey(const std::string& path) override {
    throw ERegistryException(
        Format("Failed to create key %s: no registry on this platform", path.c_str()));
  }
  std::unique_ptr<IRegistryKey> OpenKeyForReading(const std::string&) override { return nullptr; }
};

}  // namespace

std::unique_ptr<IRegistryStore> LocalMachineRegistry() {
  return std::make_unique<TAbsentRegistryStore>();
}

}  // namespace vorlen
