// Helpers of the service tests: a listing of the files below a folder (to prove that nothing
// was written where it must not be), beside the shared file helpers.
#pragma once

#include <filesystem>
#include <set>
#include <string>

#include "support/Files.h"
#include "support/ScratchDir.h"

namespace vorlen::test {

// The files (not folders) below root: what received attachments left behind.
inline std::set<std::string> FilesBelow(const std::filesystem::path& root) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_directory()) {
      names.insert(std::filesystem::relative(entry.path(), root).generic_string());
    }
  }
  return names;
}

}  // namespace vorlen::test
