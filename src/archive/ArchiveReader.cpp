#include "archive/ArchiveReader.h"

#include <zlib.h>

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <system_error>

#include "checksum/Checksum.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "platform/TempFiles.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"

namespace vorlen {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCorrupted = "The archive file appears to be corrupted";
constexpr const char* kBadFileList = "Unable to read archive file list";
constexpr size_t kChunk = 65536;
// Deflate cannot compress better than about 1032:1; a registry that claims more is a lie.
constexpr int64_t kMaxInflateRatio = 1032;

using TSink = std::function<void(const uint8_t* bytes, size_t count)>;

std::string_view ShortText(const TShortString& text) { return {text.Text, text.Length}; }

// Swallows what is written; Verify inflates members into it.
class TNullStream : public TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override { return count > 0 ? count : 0; }
  int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
};

class TInflater {
 public:
  TInflater() {
    if (inflateInit(&FStream) != Z_OK) throw EArchiveError("zlib cannot start inflating");
  }
  ~TInflater() { inflateEnd(&FStream); }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;
  z_stream& Stream() { return FStream; }

 private:
  z_stream FStream{};
};

// Reads count bytes at offset of file and hands them to sink in chunks.
void CopyRange(TStream& file, int64_t offset, int64_t count, const TSink& sink) {
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, kChunk)));
  file.SetPosition(offset);
  while (count > 0) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(count, kChunk));
    file.ReadBuffer(buffer.data(), static_cast<int64_t>(n));
    sink(buffer.data(), n);
    count -= static_cast<int64_t>(n);
  }
}

// The storedSize bytes at offset must be exactly one zlib stream of exactly expectedSize bytes.
// Never hands sink more than expectedSize bytes, so a stream that inflates beyond what its record
// claims cannot flood memory or disk. Raises EArchiveError with the reason.
void InflateRange(TStream& file, int64_t offset, int64_t storedSize, int64_t expectedSize,
                  const TSink& sink) {
  TInflater inflater;
  z_stream& z = inflater.Stream();
  std::vector<uint8_t> input(static_cast<size_t>(std::min<int64_t>(storedSize, kChunk)));
  std::vector<uint8_t> output(kChunk);
  int64_t inputLeft = storedSize;
  int64_t produced = 0;
  file.SetPosition(offset);
  for (;;) {
    if (z.avail_in == 0 && inputLeft > 0) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(inputLeft, kChunk));
      file.ReadBuffer(input.data(), static_cast<int64_t>(n));
      inputLeft -= static_cast<int64_t>(n);
      z.next_in = input.data();
      z.avail_in = static_cast<uInt>(n);
    }
    // One byte of room beyond the expected size reveals a stream that is too long.
    const int64_t room = std::min<int64_t>(expectedSize - produced + 1, kChunk);
    z.next_out = output.data();
    z.avail_out = static_cast<uInt>(room);
    const int result = inflate(&z, Z_NO_FLUSH);
    const int64_t got = room - static_cast<int64_t>(z.avail_out);
    if (produced + got > expectedSize)
      throw EArchiveError(Format("the compressed data inflates to more than %" PRId64 " bytes",
                                 expectedSize));
    if (got > 0) sink(output.data(), static_cast<size_t>(got));
    produced += got;
    if (result == Z_STREAM_END) break;
    if (result == Z_NEED_DICT || result == Z_DATA_ERROR)
      throw EArchiveError(Format("the compressed data is damaged (%s)", z.msg ? z.msg : "zlib"));
    if (result == Z_MEM_ERROR) throw EArchiveError("zlib ran out of memory");
    if (result == Z_BUF_ERROR && z.avail_in == 0 && inputLeft == 0)
      throw EArchiveError("the compressed data ends early");
    if (result != Z_OK && result != Z_BUF_ERROR)
      throw EArchiveError(Format("zlib failed with code %d", result));
  }
  if (produced != expectedSize)
    throw EArchiveError(Format("the compressed data inflates to %" PRId64 " bytes, not %" PRId64,
                               produced, expectedSize));
  if (z.avail_in != 0 || inputLeft != 0)
    throw EArchiveError("bytes follow the end of the compressed data");
}

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
  if (IsDotsOnly(part)) return Format("the component \"%.*s\"", static_cast<int>(part.size()),
                                      part.data());
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
  if (dir.has_parent_path() && dir.parent_path() != dir) CreateDirectories(dir.parent_path(), created);
  if (!fs::create_directory(dir, error) && !fs::is_directory(dir))
    throw EArchiveError(Format("Cannot create directory \"%s\". %s", Utf8FromFsPath(dir).c_str(),
                               error ? error.message().c_str() : "A file of that name exists"));
  created.push_back(dir);
}

// Undoes a partly done extraction unless Commit() is called.
class TExtraction {
 public:
  ~TExtraction() {
    if (FCommitted) return;
    std::error_code ignored;
    for (auto it = FPlaced.rbegin(); it != FPlaced.rend(); ++it) {
      fs::remove(it->first, ignored);
      if (!it->second.empty()) fs::rename(it->second, it->first, ignored);
    }
    for (const fs::path& temp : FTemps) fs::remove(temp, ignored);
    for (auto it = FDirs.rbegin(); it != FDirs.rend(); ++it) fs::remove(*it, ignored);
  }

  std::vector<fs::path>& Dirs() { return FDirs; }
  void AddTemp(const fs::path& temp) { FTemps.push_back(temp); }
  // Final path and the backup of the file it replaced (empty when none was there).
  void AddPlaced(const fs::path& final, const fs::path& backup) { FPlaced.emplace_back(final, backup); }
  void ForgetTemp(const fs::path& temp) {
    FTemps.erase(std::remove(FTemps.begin(), FTemps.end(), temp), FTemps.end());
  }
  void Commit() {
    FCommitted = true;
    std::error_code ignored;
    for (const auto& placed : FPlaced)
      if (!placed.second.empty()) fs::remove(placed.second, ignored);
  }

 private:
  bool FCommitted = false;
  std::vector<fs::path> FDirs;
  std::vector<fs::path> FTemps;
  std::vector<std::pair<fs::path, fs::path>> FPlaced;
};

}  // namespace

TArchiveReader::TArchiveReader(const std::string& archivePath) : FArchivePath(archivePath) {
  std::error_code error;
  if (archivePath.empty() || !fs::exists(FsPathFromUtf8(archivePath), error))
    throw EArchiveError("Archive file not found");
  try {
    FFile = std::make_unique<TFileStream>(archivePath, TFileStream::fmOpenRead);
    FFileSize = FFile->Size();
  } catch (const EStreamError&) {
    throw EArchiveError(Format("Unable to open file (%s)", archivePath.c_str()));
  }
  ReadTrailer();
  ReadRegistry();
  ValidateEntries();
}

TArchiveReader::~TArchiveReader() = default;

void TArchiveReader::ReadTrailer() {
  if (FFileSize < kTrailerSize) throw EArchiveError(kCorrupted);
  try {
    uint32_t crc = 0xFFFFFFFF;
    CopyRange(*FFile, 0, FFileSize - kTrailerSize, [&crc](const uint8_t* bytes, size_t count) {
      UpdateCrc32(bytes, static_cast<uint32_t>(count), crc);
    });
    FFile->ReadBuffer(&FTrailer, kTrailerSize);
    if (FTrailer.ArchiveCrc != ~crc) throw EArchiveError(kCorrupted);
  } catch (const EStreamError&) {
    throw EArchiveError(kCorrupted);
  }
}

void TArchiveReader::ReadRegistry() {
  const int64_t registryEnd = FFileSize - kTrailerSize;
  const int64_t offset = FTrailer.RegistryOffset;
  const int64_t count = FTrailer.EntryCount;
  if (offset < 0 || offset > registryEnd || count < 0 ||
      count * kEntrySize > std::numeric_limits<int32_t>::max())
    throw EArchiveError(kBadFileList);
  const int64_t stored = registryEnd - offset;
  const int64_t expected = count * kEntrySize;
  std::vector<uint8_t> bytes;
  try {
    if (FTrailer.RegistryCompressed == 0) {
      if (stored != expected) throw EArchiveError(kBadFileList);
      bytes.resize(static_cast<size_t>(expected));
      FFile->SetPosition(offset);
      FFile->ReadBuffer(bytes.data(), expected);
    } else {
      if (expected > stored * kMaxInflateRatio + kEntrySize) throw EArchiveError(kBadFileList);
      bytes.reserve(static_cast<size_t>(std::min<int64_t>(expected, 1 << 20)));
      InflateRange(*FFile, offset, stored, expected, [&bytes](const uint8_t* data, size_t n) {
        bytes.insert(bytes.end(), data, data + n);
      });
    }
  } catch (const Exception&) {
    throw EArchiveError(kBadFileList);
  }
  FEntries.resize(static_cast<size_t>(count));
  if (count > 0) std::memcpy(FEntries.data(), bytes.data(), bytes.size());
}

void TArchiveReader::ValidateEntries() const {
  const int64_t dataEnd = FTrailer.RegistryOffset;
  for (size_t i = 0; i < FEntries.size(); ++i) {
    const TArchiveEntry& entry = FEntries[i];
    const char* fault = nullptr;
    if (entry.FileSize < 0 || entry.StoredSize < 0 || entry.DataOffset < 0)
      fault = "a negative size or offset";
    else if (int64_t{entry.DataOffset} + entry.StoredSize > dataEnd)
      fault = "data outside the member data area";
    else if (entry.StoredRaw > 1 || entry.Level > fcMaximum)
      fault = "an unknown storage method";
    else if (entry.StoredRaw == 1 && entry.StoredSize != entry.FileSize)
      fault = "a raw member whose stored size differs from its file size";
    if (fault != nullptr)
      throw EArchiveError(Format("%s: entry %zu has %s", kBadFileList, i + 1, fault));
  }
}

std::string TArchiveReader::StoredName(size_t i) const {
  const TArchiveEntry& entry = FEntries.at(i);
  return Utf8FromAnsi(ShortText(entry.FilePath)) + Utf8FromAnsi(ShortText(entry.FileName));
}

std::string TArchiveReader::RelativePath(size_t i) const {
  if (i >= FEntries.size()) throw EArchiveError("Index out of bounds");
  const TArchiveEntry& entry = FEntries[i];
  const std::string name = Utf8FromAnsi(ShortText(entry.FileName));
  const std::string shown = StoredName(i);
  const auto refuse = [&shown](const std::string& reason) {
    return EArchiveError(Format("Refusing to extract \"%s\": its stored path has %s",
                                shown.c_str(), reason.c_str()));
  };
  if (name.empty()) throw refuse("an empty file name");
  if (name.find_first_of("\\/") != std::string::npos) throw refuse("a separator in the file name");
  if (const std::string reason = UnsafeReason(name); !reason.empty()) throw refuse(reason);
  std::string result;
  for (const std::string& part : SplitStoredPath(Utf8FromAnsi(ShortText(entry.FilePath)))) {
    if (const std::string reason = UnsafeReason(part); !reason.empty()) throw refuse(reason);
    result += part;
    result += PathDelim;
  }
  return result + name;
}

void TArchiveReader::ExtractMember(size_t i, TStream& out) {
  if (i >= FEntries.size()) throw EArchiveError("Index out of bounds");
  const TArchiveEntry& entry = FEntries[i];
  uint32_t crc = 0xFFFFFFFF;
  int64_t produced = 0;
  const TSink sink = [&](const uint8_t* bytes, size_t count) {
    UpdateCrc32(bytes, static_cast<uint32_t>(count), crc);
    out.WriteBuffer(bytes, static_cast<int64_t>(count));
    produced += static_cast<int64_t>(count);
  };
  const std::string name = StoredName(i);
  try {
    if (entry.StoredRaw == 1)
      CopyRange(*FFile, entry.DataOffset, entry.StoredSize, sink);
    else
      InflateRange(*FFile, entry.DataOffset, entry.StoredSize, entry.FileSize, sink);
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
  std::map<std::string, size_t> last;
  for (size_t i = 0; i < paths.size(); ++i) last[paths[i]] = i;

  const fs::path target = FsPathFromUtf8(targetDir.empty() ? std::string(".") : targetDir);
  TExtraction extraction;
  CreateDirectories(target, extraction.Dirs());
  std::vector<std::pair<fs::path, fs::path>> written;  // temporary file, final path
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
    CreateDirectories(final.parent_path(), extraction.Dirs());
    if (fs::is_directory(final, error))
      throw EArchiveError(Format("Cannot extract %s: a directory of that name exists",
                                 Utf8FromFsPath(final).c_str()));
    // Written beside its final place, so that the rename below stays on one file system.
    const fs::path temp = FsPathFromUtf8(CreateTempFile(Utf8FromFsPath(final.parent_path()), "~vx"));
    extraction.AddTemp(temp);
    try {
      TFileStream out(Utf8FromFsPath(temp), TFileStream::fmOpenWrite);
      ExtractMember(i, out);
    } catch (const EStreamError& streamError) {
      throw EArchiveError(Format("Cannot extract %s. %s", Utf8FromFsPath(final).c_str(),
                                 streamError.what()));
    }
    fs::permissions(temp,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                        fs::perms::others_read,
                    error);
    written.emplace_back(temp, final);
  }
  // Only sound members reach their names; replaced files are kept until all are in place.
  for (const auto& [temp, final] : written) {
    std::error_code error;
    fs::path backup;
    if (fs::exists(fs::symlink_status(final, error))) {
      backup = FsPathFromUtf8(CreateTempFile(Utf8FromFsPath(final.parent_path()), "~vb"));
      extraction.AddTemp(backup);
      fs::rename(final, backup, error);
      if (error)
        throw EArchiveError(Format("Cannot replace %s. %s", Utf8FromFsPath(final).c_str(),
                                   error.message().c_str()));
      extraction.ForgetTemp(backup);
    }
    fs::rename(temp, final, error);
    if (error) {
      const std::string reason = error.message();
      if (!backup.empty()) fs::rename(backup, final, error);
      throw EArchiveError(Format("Cannot create %s. %s", Utf8FromFsPath(final).c_str(),
                                 reason.c_str()));
    }
    extraction.ForgetTemp(temp);
    extraction.AddPlaced(final, backup);
  }
  extraction.Commit();
}

}  // namespace vorlen
