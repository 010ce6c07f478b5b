#include <windows.h>

#include "support/DirectoryLink.h"

namespace vorlen::test {

// MinGW's std::filesystem makes no links on Windows; the system call does.
std::string MakeDirectoryLink(const std::filesystem::path& target,
                              const std::filesystem::path& link) {
  if (!CreateSymbolicLinkW(
          link.c_str(), target.c_str(),
          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
    return "CreateSymbolicLinkW failed with error " + std::to_string(GetLastError()) +
           " (making a link needs developer mode or the right to make one)";
  // Wine 8 reports success and makes nothing.
  if (GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES)
    return "CreateSymbolicLinkW reported success and made no link (as Wine does)";
  return {};
}

}  // namespace vorlen::test
