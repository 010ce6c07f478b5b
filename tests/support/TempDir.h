// A fresh directory under the system's temporary directory, removed with everything in it.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace vorlen::test {

class TTempDir {
 public:
  explicit TTempDir(const std::string& prefix = "vorlen-test-") {
    std::random_device seed;
    // create_directory is false for a name that exists: never share a folder with another run.
    do {
      FPath = std::filesystem::temp_directory_path() /
              (prefix + std::to_string(seed()) + "-" + std::to_string(seed()));
    } while (!std::filesystem::create_directory(FPath));
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  // UTF-8 in and out, also on Windows, where a narrow path means the ANSI code page.
  std::string operator/(const std::string& name) const {
    const std::u8string path = (FPath / std::u8string(name.begin(), name.end())).u8string();
    return std::string(path.begin(), path.end());
  }

 private:
  std::filesystem::path FPath;
};

}  // namespace vorlen::test
