#include "platform/TempFileGuard.h"

#include <system_error>

namespace vorlen {

void TTempFileGuard::Reset(std::filesystem::path path) {
  Remove();
  FPath = std::move(path);
}

void TTempFileGuard::Remove() noexcept {
  if (FPath.empty()) return;
  std::error_code ignored;  // nothing to report to: the operation that made it is over
  std::filesystem::remove_all(FPath, ignored);
  FPath.clear();
}

}  // namespace vorlen
