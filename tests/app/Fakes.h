// Test doubles for the window's surroundings: an in-memory registry here, and the recording
// service and the throw-away directory (which plays the executable's directory) shared with the
// upload tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "support/FakeService.h"
#include "support/ScratchDir.h"
#include "support/ScriptedView.h"

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

// A window's settings entry (its system menu's or context menu's "Настройки…"), run by open on
// a window started with url=http://127.0.0.1:9/s and org=O: both boxes ask with those values,
// and the answers are saved, in the ANSI code page.
inline void ExpectSettingsEntryAsksAndSaves(TScriptedView& dialogs, TScratchDir& dir,
                                            const std::function<void()>& open) {
  dialogs.InputAnswers = {std::string("http://127.0.0.1:9/new"), std::string("Община 2")};
  open();
  EXPECT_EQ(dialogs.Shown,
            (std::vector<std::string>{"input:Въведете URL на уеб сървиса|url|http://127.0.0.1:9/s",
                                      "input:Въведете име на организация|Организация|O"}));
  EXPECT_EQ(dir.Read("sendcfg.ini"),
            "url=http://127.0.0.1:9/new\r\norg=\xCE\xE1\xF9\xE8\xED\xE0 2\r\n");
}

}  // namespace vorlen::test
