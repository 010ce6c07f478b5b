#include "support/ScratchDir.h"

#include <algorithm>
#include <random>
#include <system_error>

#include "support/Files.h"

namespace vorlen::test {

TScratchDir::TScratchDir(const std::string& prefix) {
  std::random_device seed;
  // create_directory is false for a name that exists: never share a folder with another run.
  do {
    FPath = std::filesystem::temp_directory_path() /
            (prefix + std::to_string(seed()) + "-" + std::to_string(seed()));
  } while (!std::filesystem::create_directory(FPath));
}

TScratchDir::~TScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

std::string TScratchDir::Write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path path = FPath / name;
  std::filesystem::create_directories(path.parent_path());
  WriteFile(path, bytes);
  return path.string();
}

std::string TScratchDir::Read(const std::string& name) const { return ReadFile(FPath / name); }

bool TScratchDir::Exists(const std::string& name) const {
  return std::filesystem::exists(FPath / name);
}

std::vector<std::string> TScratchDir::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(FPath))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace vorlen::test
