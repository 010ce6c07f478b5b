#include "support/DirectoryLink.h"

namespace vorlen::test {

std::string MakeDirectoryLink(const std::filesystem::path& target,
                              const std::filesystem::path& link) {
  std::error_code error;
  std::filesystem::create_directory_symlink(target, link, error);
  return error ? error.message() : std::string();
}

}  // namespace vorlen::test
