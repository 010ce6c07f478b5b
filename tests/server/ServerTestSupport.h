// Helpers of the service tests: a service on a scratch folder, a listing of the files below a
// folder (to prove that nothing was written where it must not be), beside the shared file
// helpers. They stay with the service's suite: tests/support serves the benchmarks and the
// Windows suites, which have no service.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive/ZLBArchive.h"
#include "checksum/Checksum.h"
#include "runtime/Format.h"
#include "server/FileNames.h"
#include "server/SenderServer.h"
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

// The service's operations on an inbox in a scratch folder (Dir/inbox), with attachments put
// where the HTTP side leaves them.
class TScratchServer {
 public:
  // Once the empty root has been looked at, which leaves its record there: tests that list the
  // tree see only what they do.
  explicit TScratchServer(const TServiceLimits& limits = {})
      : Server(Dir.Path() / "inbox", limits) {
    Server.WaitForScan();
  }

  // A received attachment as the HTTP side leaves it in the incoming folder.
  std::filesystem::path Received(const std::string& bytes) {
    const std::filesystem::path path = Server.IncomingDir() / ("att-" + std::to_string(FCount++));
    WriteFile(path, bytes);
    return path;
  }
  bool Upload(const std::string& sess, const std::string& name, const std::string& hash,
              const std::string& bytes) {
    return Server.UploadFilePart(sess, name, hash, Received(bytes));
  }
  // A part with its right hash; the details file comes without one, as the client sends it.
  bool Put(const std::string& sess, const std::string& name, const std::string& bytes) {
    return Upload(sess, name, name == "sendDetails.txt" ? "" : Crc(bytes), bytes);
  }
  // A merged file of one part.
  bool Deliver(const std::string& sess, const std::string& name, const std::string& bytes) {
    return Put(sess, PartFileName(name, 0), bytes) && Server.MergeFile(0, name, sess);
  }
  std::filesystem::path Folder(const std::string& sess) const {
    return Dir.Path() / "inbox" / sess;
  }

  TScratchDir Dir;
  TSenderServer Server;

 private:
  int FCount = 0;
};

// True when a session's folder below holds nothing: it is made only when first used.
inline bool HoldsNothing(const std::filesystem::path& folder) {
  return !std::filesystem::exists(folder) || std::filesystem::is_empty(folder);
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
