#include "support/ScopedEnv.h"

#include <cstdlib>
#include <utility>

namespace vorlen::test {

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
  if (value)
    ::setenv(name.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name.c_str());
#endif
}

TScopedEnv::TScopedEnv(std::string name, std::optional<std::string> value)
    : FName(std::move(name)) {
  if (const char* old = std::getenv(FName.c_str())) FOld = old;
  SetEnv(FName, value);
}

TScopedEnv::~TScopedEnv() { SetEnv(FName, FOld); }

}  // namespace vorlen::test
