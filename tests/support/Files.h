// Whole-file reads and writes, and directory listings, done with the standard library so that
// expectations never come from the code under test.
#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace vorlen::test {

// The file's bytes; throws std::runtime_error when it cannot be opened.
std::string ReadFile(const std::filesystem::path& path);
// Creates or replaces the file with bytes; throws std::runtime_error when that fails.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// The same for a path held as UTF-8 text, as the code under test takes paths; a narrow string
// made into a path would be read in the ANSI code page on Windows.
std::string ReadFile(const std::string& utf8Path);
void WriteFile(const std::string& utf8Path, const std::string& bytes);
// Every file and folder below root, as relative paths with "/" between components.
std::set<std::string> ListTree(const std::filesystem::path& root);

}  // namespace vorlen::test
