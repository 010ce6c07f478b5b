// Sets or removes environment variables for one scope and puts the old values back.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vorlen::test {

class TEnvGuard {
 public:
  // Removes every named variable until the guard goes.
  explicit TEnvGuard(std::vector<std::string> names) : FNames(std::move(names)) {
    for (const std::string& name : FNames) {
      const char* value = std::getenv(name.c_str());
      FOld.push_back(value ? std::optional<std::string>(value) : std::nullopt);
      Put(name, std::nullopt);
    }
  }
  ~TEnvGuard() {
    for (size_t i = 0; i < FNames.size(); ++i) Put(FNames[i], FOld[i]);
  }
  TEnvGuard(const TEnvGuard&) = delete;
  TEnvGuard& operator=(const TEnvGuard&) = delete;

  static void Put(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
#endif
  }

 private:
  std::vector<std::string> FNames;
  std::vector<std::optional<std::string>> FOld;
};

}  // namespace vorlen::test
