// Test doubles for the window's surroundings: an in-memory registry here, and the recording
// service and the throw-away directory (which plays the executable's directory) shared with the
// upload tests.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/Registry.h"
#include "support/FakeService.h"
#include "support/ScratchDir.h"

namespace vorlen::test {

// Keys and value names compare without regard to letter case, as in the Windows registry.
class TMemoryRegistry : public IRegistryStore {
 public:
  using TValues = std::map<std::string, std::string>;
  std::map<std::string, TValues> Keys;  // lower-case key path -> lower-case name -> data
  bool FailOpen = false;
  bool FailRead = false;
  bool FailWrite = false;
  int Writes = 0;

  static std::string Lower(std::string text) {
    for (char& c : text) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
  }

  std::unique_ptr<IRegistryKey> OpenKey(const std::string& path) override {
    if (FailOpen) throw ERegistryException("access denied");
    return std::make_unique<TKey>(*this, Keys[Lower(path)]);
  }
  std::unique_ptr<IRegistryKey> OpenKeyForReading(const std::string& path) override {
    if (FailOpen) throw ERegistryException("access denied");
    auto found = Keys.find(Lower(path));
    return found == Keys.end() ? nullptr : std::make_unique<TKey>(*this, found->second);
  }

 private:
  class TKey : public IRegistryKey {
   public:
    TKey(TMemoryRegistry& owner, TValues& values) : FOwner(owner), FValues(values) {}
    std::string ReadString(const std::string& name) override {
      if (FOwner.FailRead) throw ERegistryException("read denied");
      auto found = FValues.find(Lower(name));
      return found == FValues.end() ? std::string() : found->second;
    }
    void WriteString(const std::string& name, const std::string& value) override {
      if (FOwner.FailWrite) throw ERegistryException("write denied");
      ++FOwner.Writes;
      FValues[Lower(name)] = value;
    }

   private:
    TMemoryRegistry& FOwner;
    TValues& FValues;
  };
};

}  // namespace vorlen::test
