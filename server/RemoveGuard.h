// Removes a file or folder (with everything in it) when the scope ends, unless Keep() was
// called: a failed or finished operation must not leave its temporary files behind.
#pragma once

#include <filesystem>
#include <system_error>
#include <utility>

namespace vorlen {

class TRemoveGuard {
 public:
  explicit TRemoveGuard(std::filesystem::path path) : FPath(std::move(path)) {}
  TRemoveGuard(const TRemoveGuard&) = delete;
  TRemoveGuard& operator=(const TRemoveGuard&) = delete;
  ~TRemoveGuard() {
    if (FPath.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  void Keep() { FPath.clear(); }

 private:
  std::filesystem::path FPath;
};

}  // namespace vorlen
