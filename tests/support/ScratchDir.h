// A fresh directory under the system's temporary directory, removed with everything in it, and
// the small file helpers the tests use inside it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vorlen::test {

class TScratchDir {
 public:
  explicit TScratchDir(const std::string& prefix = "vorlen-test-");
  ~TScratchDir();
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;

  // The directory, without a trailing separator.
  const std::filesystem::path& Path() const { return FPath; }
  // The directory with a trailing separator, as the executable's directory is given.
  std::string PathWithSeparator() const;
  // The full path of name inside the directory (nothing is created).
  // UTF-8 in and out, also on Windows, where a narrow path means the ANSI code page.
  std::string File(const std::string& name) const;
  std::string operator/(const std::string& name) const { return File(name); }

  // Creates or replaces name (and the folders above it) with bytes; returns its full path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  // Names of the entries directly inside, sorted.
  std::vector<std::string> Names() const;

 private:
  std::filesystem::path FPath;
};

}  // namespace vorlen::test
