#include "support/Files.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vorlen::test {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

namespace {

std::filesystem::path FromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace

std::string ReadFile(const std::string& utf8Path) { return ReadFile(FromUtf8(utf8Path)); }

void WriteFile(const std::string& utf8Path, const std::string& bytes) {
  WriteFile(FromUtf8(utf8Path), bytes);
}

std::set<std::string> ListTree(const std::filesystem::path& root) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::u8string relative = entry.path().lexically_relative(root).generic_u8string();
    names.insert(std::string(relative.begin(), relative.end()));
  }
  return names;
}

}  // namespace vorlen::test
