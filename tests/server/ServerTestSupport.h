// Helpers of the service tests: a listing of the files below a folder (to prove that nothing
// was written where it must not be), beside the shared file helpers.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive/ZLIBArchive.h"
#include "checksum/Checksum.h"
#include "runtime/Format.h"
#include "support/Files.h"
#include "support/ScratchDir.h"

namespace vorlen::test {

// The hash a client sends with a part: its CRC-32 as eight capital hexadecimal digits.
inline std::string Crc(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  UpdateCrc32(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()),
              crc);
  return Format("%08X", ~crc);
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

// An archive of the client's own component holding files (name, bytes), written in dir.
inline std::string PackFiles(const std::filesystem::path& dir,
                             const std::vector<std::pair<std::string, std::string>>& files,
                             bool savePaths = false) {
  std::vector<std::string> paths;
  for (const auto& [name, bytes] : files) {
    WriteFile(dir / name, bytes);
    paths.push_back((dir / name).string());
  }
  const std::filesystem::path archivePath = dir / "packed.rar";
  std::filesystem::remove(archivePath);
  TZLBArchive archive;
  archive.SavePaths = savePaths;
  archive.CreateArchive(archivePath.string());
  archive.AddFiles(paths);
  archive.CloseArchive();
  return ReadFile(archivePath);
}

}  // namespace vorlen::test
