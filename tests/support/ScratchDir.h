// A throw-away directory with the small file helpers the window and send tests use.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/TempDir.h"

namespace vorlen::test {

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TScratchDir {
 public:
  // The directory with a trailing separator, as the executable's directory is given.
  std::string Path() const { return (FDir.Path() / "").string(); }
  std::string File(const std::string& name) const { return FDir / name; }

  // Creates or replaces name with bytes; returns its full path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(FDir.Path() / name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return File(name);
  }
  std::string Read(const std::string& name) const { return ReadFileBytes(File(name)); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(FDir.Path() / name); }

 private:
  TTempDir FDir;
};

}  // namespace vorlen::test
