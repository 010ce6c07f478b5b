#include "server/SenderServer.h"

#include <map>
#include <memory>
#include <vector>

#include "archive/ArchiveReader.h"
#include "checksum/Checksum.h"
#include "platform/Paths.h"
#include "platform/TempFiles.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"
#include "server/FileConcat.h"
#include "server/FileNames.h"
#include "server/RemoveGuard.h"
#include "server/SessionId.h"

namespace fs = std::filesystem;

namespace vorlen {

namespace {

constexpr const char* kDetailsFileName = "sendDetails.txt";
// A whole part in one read.
constexpr int64_t kCrcBlock = 256 * 1024;

uint32_t FileCrc(const fs::path& path) {
  TFileStream file(Utf8FromFsPath(path), TFileStream::fmOpenRead);
  // Not zero-filled: it is overwritten before every use.
  const auto block = std::make_unique_for_overwrite<uint8_t[]>(kCrcBlock);
  uint32_t crc = 0xFFFFFFFF;
  for (;;) {
    const int64_t n = file.Read(block.get(), kCrcBlock);
    if (n <= 0) break;
    UpdateCrc32(block.get(), static_cast<uint32_t>(n), crc);
  }
  return ~crc;
}

// Eight hexadecimal digits in either case; anything else matches no checksum.
bool ParseHash(const std::string& text, uint32_t& value) {
  if (text.size() != 8) return false;
  value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return true;
}

// Moves a complete file into place, replacing an older one. Falls back to a copy beside the
// target when the source lies on another file system.
void MoveInto(const fs::path& source, const fs::path& target) {
  std::error_code error;
  fs::rename(source, target, error);
  if (!error) return;
  const fs::path copy =
      FsPathFromUtf8(CreateTempFile(Utf8FromFsPath(target.parent_path()), ".move"));
  TRemoveGuard guard(copy);
  fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
  fs::rename(copy, target);
  guard.Keep();
  fs::remove(source, error);
}

// Only plain files count: a link in a session folder must not pull in a file from elsewhere.
bool IsPlainFile(const fs::path& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type() == fs::file_type::regular;
}

// Bytes in the session's delivery folder, leaving out the files that are about to be replaced.
int64_t DeliveredBytes(const TSession& session, const std::vector<fs::path>& replaced) {
  int64_t total = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(session.DeliveredDir(), error)) {
    if (!IsPlainFile(entry.path())) continue;
    bool replacing = false;
    for (const fs::path& path : replaced) replacing = replacing || entry.path() == path;
    if (!replacing) total += static_cast<int64_t>(entry.file_size());
  }
  return total;
}

std::string FoldCase(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

}  // namespace

TSenderServer::TSenderServer(const fs::path& root, TServiceLimits limits)
    : FStore(root, limits.MaxSessions), FLimits(limits) {}

fs::path TSenderServer::SessionFolder(const std::string& sess) {
  return FStore.Find(sess)->Folder();
}

std::string TSenderServer::GetSession(const std::string& /*peer*/) {
  return FStore.Create()->Id();
}

bool TSenderServer::UploadFilePart(const std::string& sess, const std::string& partName,
                                   const std::string& hash, const fs::path& received) {
  auto session = FStore.Find(sess);
  if (!IsBareFileName(partName)) return false;
  if (!hash.empty()) {
    uint32_t expected;
    if (!ParseHash(hash, expected) || FileCrc(received) != expected) return false;
  }
  const auto size = static_cast<int64_t>(fs::file_size(received));

  std::lock_guard<std::mutex> guard(session->Lock);
  if (partName == kDetailsFileName) {
    MoveInto(received, session->Folder() / kDetailsFileName);
    return true;
  }
  fs::create_directories(session->PartsDir());
  const fs::path target = session->PartsDir() / FsPathFromUtf8(partName);
  const bool replacing = IsPlainFile(target);
  const int64_t oldSize = replacing ? static_cast<int64_t>(fs::file_size(target)) : 0;
  const int64_t count = session->PartCount + (replacing ? 0 : 1);
  const int64_t bytes = session->PartBytes - oldSize + size;
  if (count > FLimits.MaxParts || bytes > FLimits.MaxDelivered) return false;
  MoveInto(received, target);
  session->PartCount = count;
  session->PartBytes = bytes;
  return true;
}

bool TSenderServer::MergeFile(int32_t parts, const std::string& fileName, const std::string& sess) {
  auto session = FStore.Find(sess);
  if (parts < 0 || static_cast<int64_t>(parts) + 1 > FLimits.MaxParts) return false;
  if (!IsBareFileName(fileName)) return false;

  std::lock_guard<std::mutex> guard(session->Lock);
  std::vector<fs::path> sources;
  int64_t total = 0;
  for (int32_t i = 0; i <= parts; ++i) {
    fs::path part = session->PartsDir() / FsPathFromUtf8(PartFileName(fileName, i));
    if (!IsPlainFile(part)) return false;
    total += static_cast<int64_t>(fs::file_size(part));
    if (total > FLimits.MaxDelivered) return false;
    sources.push_back(std::move(part));
  }
  fs::create_directories(session->DeliveredDir());
  const fs::path target = session->DeliveredDir() / FsPathFromUtf8(fileName);
  if (DeliveredBytes(*session, {target}) + total > FLimits.MaxDelivered) return false;

  fs::create_directories(session->WorkDir());
  const fs::path merged =
      FsPathFromUtf8(CreateTempFile(Utf8FromFsPath(session->WorkDir()), "merge"));
  TRemoveGuard removeMerged(merged);
  ConcatenateFiles(sources, merged);
  fs::rename(merged, target);
  removeMerged.Keep();
  session->MergedFile = target;
  session->Unpacked = false;
  return true;
}

bool TSenderServer::UnZip(const std::string& sess) {
  auto session = FStore.Find(sess);
  std::lock_guard<std::mutex> guard(session->Lock);
  if (session->MergedFile.empty() || !IsPlainFile(session->MergedFile)) return false;
  fs::create_directories(session->WorkDir());
  const fs::path staging = session->WorkDir() / ("unpack-" + NewSessionId());
  TRemoveGuard removeStaging(staging);
  std::vector<std::string> names;
  // The members replace the archive and any earlier files of their names in the delivery.
  std::vector<fs::path> replaced = {session->MergedFile};
  try {
    TArchiveReader reader(Utf8FromFsPath(session->MergedFile));
    std::map<std::string, size_t> seen;
    int64_t total = 0;
    for (size_t i = 0; i < reader.Entries().size(); ++i) {
      std::string name = reader.RelativePath(i);
      // Names are compared without case: on Windows two of them would be one file.
      if (!IsBareFileName(name) || !seen.emplace(FoldCase(name), i).second) return false;
      total += reader.Entries()[i].FileSize;
      if (total > FLimits.MaxDelivered) return false;
      replaced.push_back(session->DeliveredDir() / FsPathFromUtf8(name));
      names.push_back(std::move(name));
    }
    if (DeliveredBytes(*session, replaced) + total > FLimits.MaxDelivered) return false;
    fs::create_directory(staging);
    reader.ExtractAll(Utf8FromFsPath(staging));
  } catch (const std::exception&) {
    return false;
  }

  // Everything is verified and on disk: move the archive out of the way (a member may carry
  // its name), then deliver the members.
  fs::create_directories(session->DeliveredDir());
  const fs::path archiveDir = session->WorkDir() / "archive";
  if (session->MergedFile.parent_path() != archiveDir) {
    fs::create_directories(archiveDir);
    const fs::path kept = archiveDir / session->MergedFile.filename();
    fs::rename(session->MergedFile, kept);
    session->MergedFile = kept;
  }
  for (const std::string& name : names) {
    fs::rename(staging / FsPathFromUtf8(name), session->DeliveredDir() / FsPathFromUtf8(name));
  }
  session->Unpacked = true;
  return true;
}

bool TSenderServer::DelTempFiles(const std::string& sess) {
  auto session = FStore.Find(sess);
  std::lock_guard<std::mutex> guard(session->Lock);
  fs::remove_all(session->PartsDir());
  fs::create_directory(session->PartsDir());
  session->PartCount = 0;
  session->PartBytes = 0;
  if (session->Unpacked) {
    session->MergedFile.clear();
    session->Unpacked = false;
  }
  // work/ holds only temporary files and the archive of a successful UnZip.
  fs::remove_all(session->WorkDir());
  fs::create_directory(session->WorkDir());
  return true;
}

}  // namespace vorlen
