// Sets an environment variable for one scope and puts back what was there before.
#pragma once

#include <optional>
#include <string>

namespace vorlen::test {

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

}  // namespace vorlen::test
