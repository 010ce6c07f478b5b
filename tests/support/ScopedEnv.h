// Sets environment variables for one scope and puts back what was there before.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vorlen::test {

// Sets the variable, or removes it when value is nullopt.
void SetEnv(const std::string& name, const std::optional<std::string>& value);

class TScopedEnv {
 public:
  // value nullopt unsets the variable for the scope.
  TScopedEnv(std::string name, std::optional<std::string> value);
  ~TScopedEnv();
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  std::string FName;
  std::optional<std::string> FOld;
};

// Removes every named variable until the guard goes; Put changes one meanwhile.
class TEnvGuard {
 public:
  explicit TEnvGuard(const std::vector<std::string>& names) {
    for (const std::string& name : names)
      FVariables.push_back(std::make_unique<TScopedEnv>(name, std::nullopt));
  }
  static void Put(const std::string& name, const std::optional<std::string>& value) {
    SetEnv(name, value);
  }

 private:
  std::vector<std::unique_ptr<TScopedEnv>> FVariables;
};

}  // namespace vorlen::test
