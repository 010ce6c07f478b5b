#include "support/ScratchDir.h"

#include <algorithm>
#include <random>
#include <system_error>

#include "support/Files.h"

namespace vorlen::test {

namespace {

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path FromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace

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

std::string TScratchDir::PathWithSeparator() const { return Utf8(FPath / ""); }

std::string TScratchDir::File(const std::string& name) const {
  return Utf8(FPath / FromUtf8(name));
}

std::string TScratchDir::Write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path path = FPath / FromUtf8(name);
  std::filesystem::create_directories(path.parent_path());
  WriteFile(path, bytes);
  return Utf8(path);
}

std::string TScratchDir::Read(const std::string& name) const {
  return ReadFile(FPath / FromUtf8(name));
}

bool TScratchDir::Exists(const std::string& name) const {
  return std::filesystem::exists(FPath / FromUtf8(name));
}

std::vector<std::string> TScratchDir::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(FPath))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace vorlen::test
