// Helpers of the service tests: small file reads and writes, and a listing of every file below
// a folder (to prove that nothing was written where it must not be).
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "checksum/Checksum.h"
#include "runtime/Format.h"
#include "support/TempDir.h"

namespace vorlen::test {

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The hash a client sends with a part: its CRC-32 as eight capital hexadecimal digits.
inline std::string Crc(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  UpdateCrc32(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()),
              crc);
  return Format("%08X", ~crc);
}

// Every file and folder below root, as generic relative paths.
inline std::set<std::string> ListTree(const std::filesystem::path& root) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    names.insert(std::filesystem::relative(entry.path(), root).generic_string());
  }
  return names;
}

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
