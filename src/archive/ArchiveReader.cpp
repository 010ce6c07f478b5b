#include "archive/ArchiveReader.h"

#include <algorithm>
#include <cinttypes>
#include <filesystem>
#include <random>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "archive/StoredRange.h"
#include "checksum/Checksum.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "platform/TempFiles.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"

namespace vorlen {

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunk = 65536;

std::string_view ShortText(const TShortString& text) { return {text.Text, text.Length}; }

// Swallows what is written; Verify inflates members into it.
class TNullStream : public TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override { return count > 0 ? count : 0; }
  int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
};

bool IsControl(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (c < 0x20 || c == 0x7F) return true;
    // C1 controls U+0080..U+009F in UTF-8.
    if (c == 0xC2 && i + 1 < text.size() && static_cast<uint8_t>(text[i + 1]) <= 0x9F) return true;
  }
  return false;
}

// Components made only of dots and spaces are "." and ".." to Windows, which trims trailing dots
// and spaces.
bool IsDotsOnly(std::string_view part) {
  return part.find_first_not_of(". ") == std::string_view::npos;
}

// Why a name or directory component cannot stand inside the target; empty when it can.
std::string UnsafeReason(std::string_view part) {
  if (IsControl(part)) return "a control character";
  if (part.find(':') != std::string_view::npos) return "a drive or stream name";
  if (IsDotsOnly(part))
    return Format("the component \"%.*s\"", static_cast<int>(part.size()), part.data());
  return {};
}

// Splits a decoded stored directory at backslashes (and slashes, which Windows also takes as
// separators) into the components below the target.
std::vector<std::string> SplitStoredPath(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\' || path[i] == '/') {
      // Empty components come from the root's leading backslash and from "\\" in network
      // paths; they name nothing below the target.
      if (i > start) parts.emplace_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

// Creates dir and its missing parents, remembering those it made (parents first).
void CreateDirectories(const fs::path& dir, std::vector<fs::path>& created) {
  std::error_code error;
  if (fs::is_directory(dir, error)) return;
  if (dir.has_parent_path() && dir.parent_path() != dir)
    CreateDirectories(dir.parent_path(), created);
  if (!fs::create_directory(dir, error) && !fs::is_directory(dir))
    throw EArchiveError(Format("Cannot create directory \"%s\". %s", Utf8FromFsPath(dir).c_str(),
                               error ? error.message().c_str() : "A file of that name exists"));
  created.push_back(dir);
}

// Undoes a partly done extraction unless Commit() is called. Each member written goes through
// the stages of one TPlacement, so rolling back is one pass over them in reverse.
class TExtraction {
 public:
  struct TPlacement {
    fs::path Temp;  // the member's bytes, until they are moved to Final
    fs::path Final;
    fs::path Backup;        // reserved for the file Final held, when there was one
    bool BackedUp = false;  // that file now stands at Backup
    bool Placed = false;    // Temp now stands at Final
  };

  ~TExtraction() {
    if (FCommitted) return;
    std::error_code ignored;
    for (auto it = FPlacements.rbegin(); it != FPlacements.rend(); ++it) {
      fs::remove(it->Placed ? it->Final : it->Temp, ignored);
      if (it->BackedUp)
        fs::rename(it->Backup, it->Final, ignored);
      else if (!it->Backup.empty())
        fs::remove(it->Backup, ignored);
    }
    for (auto it = FDirs.rbegin(); it != FDirs.rend(); ++it) fs::remove(*it, ignored);
  }

  std::vector<fs::path>& Dirs() { return FDirs; }
  TPlacement& Add(const fs::path& final) {
    FPlacements.emplace_back().Final = final;
    return FPlacements.back();
  }
  std::vector<TPlacement>& Placements() { return FPlacements; }
  void Commit() {
    FCommitted = true;
    std::error_code ignored;
    for (const TPlacement& placement : FPlacements)
      if (placement.BackedUp) fs::remove(placement.Backup, ignored);
  }

 private:
  bool FCommitted = false;
  std::vector<fs::path> FDirs;
  std::vector<TPlacement> FPlacements;
};

// Names for the files an extraction writes beside their final places: a random tag of its own
// and a running number. Each is created exclusively, so one create a member is enough and no
// file that was there already is ever written or removed.
class TTempNames {
 public:
  TTempNames() {
    std::random_device seed;
    FTag = Format("~vx%08x%08x-", seed(), seed());
  }
  fs::path Next(const fs::path& dir) {
    return dir / FsPathFromUtf8(FTag + std::to_string(FNext++));
  }

 private:
  std::string FTag;
  size_t FNext = 0;
};

}  // namespace

TArchiveReader::TArchiveReader(const std::string& archivePath, const TArchiveLimits& limits)
    : FFile(OpenArchiveFile(archivePath)) {
  uint64_t extracted = 0;
  TArchiveIndexReading reading;
  reading.MaxMembers = limits.MaxMembers;
  reading.OnTrailer = [this](const TArchiveTrailer& trailer) { FTrailer = trailer; };
  reading.OnRecord = [&](const TArchiveEntry& record) {
    extracted += static_cast<uint64_t>(record.FileSize);
    if (extracted > limits.MaxExtractedBytes)
      throw EArchiveLimit(Format("The archive's members come to more than the %" PRIu64
                                 " bytes allowed",
                                 limits.MaxExtractedBytes));
    FEntries.push_back({std::string(ShortText(record.FilePath)),
                        std::string(ShortText(record.FileName)), record.FileSize, record.StoredSize,
                        record.DataOffset, record.Crc, record.StoredRaw, record.Level});
  };
  ReadArchiveIndex(*FFile, reading);
}

TArchiveReader::~TArchiveReader() = default;

std::string TArchiveReader::StoredName(size_t i) const {
  const TArchiveMember& entry = FEntries.at(i);
  return Utf8FromAnsi(entry.FilePath) + Utf8FromAnsi(entry.FileName);
}

std::string TArchiveReader::RelativePath(size_t i) const {
  if (i >= FEntries.size()) throw EArchiveError(kArchiveIndexOutOfBounds);
  const TArchiveMember& entry = FEntries[i];
  const std::string name = Utf8FromAnsi(entry.FileName);
  const std::string shown = StoredName(i);
  const auto refuse = [&shown](const std::string& reason) {
    return EArchiveError(Format("Refusing to extract \"%s\": its stored path has %s", shown.c_str(),
                                reason.c_str()));
  };
  if (name.empty()) throw refuse("an empty file name");
  if (name.find_first_of("\\/") != std::string::npos) throw refuse("a separator in the file name");
  if (const std::string reason = UnsafeReason(name); !reason.empty()) throw refuse(reason);
  std::string result;
  for (const std::string& part : SplitStoredPath(Utf8FromAnsi(entry.FilePath))) {
    if (const std::string reason = UnsafeReason(part); !reason.empty()) throw refuse(reason);
    result += part;
    result += PathDelim;
  }
  return result + name;
}

void TArchiveReader::ExtractMember(size_t i, TStream& out) {
  if (i >= FEntries.size()) throw EArchiveError(kArchiveIndexOutOfBounds);
  const TArchiveMember& entry = FEntries[i];
  uint32_t crc = 0xFFFFFFFF;
  int64_t produced = 0;
  const TByteSink sink = [&](const uint8_t* bytes, size_t count) {
    UpdateCrc32(bytes, static_cast<uint32_t>(count), crc);
    out.WriteBuffer(bytes, static_cast<int64_t>(count));
    produced += static_cast<int64_t>(count);
  };
  const std::string name = StoredName(i);
  try {
    if (entry.StoredRaw == 1)
      CopyRange(*FFile, entry.DataOffset, entry.StoredSize, kChunk, sink);
    else
      InflateRange(*FFile, entry.DataOffset, entry.StoredSize, entry.FileSize, kChunk, sink);
  } catch (const EArchiveError& error) {
    throw EArchiveError(Format("Archive member %s is damaged: %s", name.c_str(), error.what()));
  }
  if (produced != entry.FileSize)
    throw EArchiveError(Format("Archive member %s is damaged: %" PRId64 " bytes instead of %d",
                               name.c_str(), produced, entry.FileSize));
  if (~crc != entry.Crc)
    throw EArchiveError(Format("Archive member %s is damaged: CRC-32 %08X instead of %08X",
                               name.c_str(), ~crc, entry.Crc));
}

void TArchiveReader::VerifyMember(size_t i) {
  TNullStream nowhere;
  ExtractMember(i, nowhere);
}

void TArchiveReader::Verify() {
  for (size_t i = 0; i < FEntries.size(); ++i) VerifyMember(i);
}

void TArchiveReader::ExtractAll(const std::string& targetDir) {
  // Every path is checked before anything is written.
  std::vector<std::string> paths(FEntries.size());
  for (size_t i = 0; i < FEntries.size(); ++i) paths[i] = RelativePath(i);
  // A later member of the same path replaces an earlier one, as unpacking in order would.
  std::unordered_map<std::string_view, size_t> last;
  for (size_t i = 0; i < paths.size(); ++i) last[paths[i]] = i;

  const fs::path target = FsPathFromUtf8(targetDir.empty() ? std::string(".") : targetDir);
  TExtraction extraction;
  TTempNames tempNames;
  CreateDirectories(target, extraction.Dirs());
  fs::path lastDir = target;
  for (size_t i = 0; i < FEntries.size(); ++i) {
    if (last[paths[i]] != i) {
      VerifyMember(i);
      continue;
    }
    const fs::path relative = FsPathFromUtf8(paths[i]);
    const fs::path final = target / relative;
    std::error_code error;
    // A link already inside the target could lead a member elsewhere.
    fs::path below = target;
    for (const fs::path& part : relative.parent_path()) {
      below /= part;
      if (fs::is_symlink(fs::symlink_status(below, error)))
        throw EArchiveError(Format("Refusing to extract %s: %s is a symbolic link",
                                   paths[i].c_str(), Utf8FromFsPath(below).c_str()));
    }
    // Members of one directory mostly follow each other; its check is made once for them.
    if (final.parent_path() != lastDir) {
      lastDir = final.parent_path();
      CreateDirectories(lastDir, extraction.Dirs());
    }
    if (fs::is_directory(final, error))
      throw EArchiveError(Format("Cannot extract %s: a directory of that name exists",
                                 Utf8FromFsPath(final).c_str()));
    // Written beside its final place, so that the rename below stays on one file system.
    const fs::path temp = tempNames.Next(final.parent_path());
    try {
      TFileStream out(Utf8FromFsPath(temp), TFileStream::fmCreateNew);
      extraction.Add(final).Temp = temp;
      ExtractMember(i, out);
    } catch (const EStreamError& streamError) {
      throw EArchiveError(
          Format("Cannot extract %s. %s", Utf8FromFsPath(final).c_str(), streamError.what()));
    }
    fs::permissions(temp,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                        fs::perms::others_read,
                    error);
  }
  // Only sound members reach their names; replaced files are kept until all are in place.
  for (TExtraction::TPlacement& placement : extraction.Placements()) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(placement.Final, error))) {
      placement.Backup =
          FsPathFromUtf8(CreateTempFile(Utf8FromFsPath(placement.Final.parent_path()), "~vb"));
      fs::rename(placement.Final, placement.Backup, error);
      if (error)
        throw EArchiveError(Format("Cannot replace %s. %s", Utf8FromFsPath(placement.Final).c_str(),
                                   error.message().c_str()));
      placement.BackedUp = true;
    }
    fs::rename(placement.Temp, placement.Final, error);
    if (error)
      throw EArchiveError(Format("Cannot create %s. %s", Utf8FromFsPath(placement.Final).c_str(),
                                 error.message().c_str()));
    placement.Placed = true;
  }
  extraction.Commit();
}

}  // namespace vorlen
