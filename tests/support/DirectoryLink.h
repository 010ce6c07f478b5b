// Makes a symbolic link to a directory, for tests of code that must not write through one.
#pragma once

#include <filesystem>
#include <string>

namespace vorlen::test {

// Makes link point at the directory target. Returns an empty string, or why no link was made.
std::string MakeDirectoryLink(const std::filesystem::path& target,
                              const std::filesystem::path& link);

}  // namespace vorlen::test
