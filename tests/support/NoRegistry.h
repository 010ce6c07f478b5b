// A registry that holds nothing, for programs that run the window's logic without one: every
// key to write fails (the window's start-up reports that and goes on), none is there to read.
#pragma once

#include <memory>
#include <string>

#include "platform/Registry.h"

namespace vorlen::test {

class TNoRegistry : public IRegistryStore {
 public:
  std::unique_ptr<IRegistryKey> OpenKey(const std::string&) override {
    throw ERegistryException("no registry here");
  }
  std::unique_ptr<IRegistryKey> OpenKeyForReading(const std::string&) override { return nullptr; }
};

}  // namespace vorlen::test
