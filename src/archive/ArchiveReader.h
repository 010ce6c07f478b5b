// Reads an archive's members back: lists, verifies and extracts them. It trusts nothing in the
// file: every record is checked against the file before use, and extraction never writes outside
// its target directory nor leaves a half-written file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "archive/ArchiveIndex.h"

namespace vorlen {

class TStream;
class TFileStream;

// Bounds on what an archive may make the reader do; the defaults suit a local archive.
struct TArchiveLimits {
  uint64_t MaxMembers = 1000000;
  uint64_t MaxExtractedBytes = UINT64_MAX;  // sum of the members' original sizes
};

// What the reader keeps of a registry record.
struct TArchiveMember {
  std::string FilePath;  // the stored 8-bit texts
  std::string FileName;
  int32_t FileSize = 0;
  int32_t StoredSize = 0;
  int32_t DataOffset = 0;
  uint32_t Crc = 0;
  uint8_t StoredRaw = 0;
  uint8_t Level = 0;
};

class TArchiveReader {
 public:
  // Opens the archive, checks its trailer checksum and reads and validates its entry list,
  // holding no more than the members need. Raises EArchiveError when the file is missing,
  // unreadable or unsound, or when it goes beyond limits.
  explicit TArchiveReader(const std::string& archivePath, const TArchiveLimits& limits = {});
  ~TArchiveReader();
  TArchiveReader(const TArchiveReader&) = delete;
  TArchiveReader& operator=(const TArchiveReader&) = delete;

  const std::vector<TArchiveMember>& Entries() const { return FEntries; }
  const TArchiveTrailer& Trailer() const { return FTrailer; }

  // The stored path and name as they are, decoded to UTF-8 (backslashes kept): for listings.
  std::string StoredName(size_t i) const;
  // The member's path relative to an extraction target, in UTF-8 with the platform's
  // separators. Raises EArchiveError when the stored path or name would leave the target.
  std::string RelativePath(size_t i) const;

  // Writes member i's original bytes to out, checking its size and CRC. On failure out may
  // hold part of the member; ExtractAll is the call that cleans up after itself.
  void ExtractMember(size_t i, TStream& out);
  // Extracts every member below targetDir (created when missing). All or nothing: on any
  // failure every file and directory this call created is removed and every file it replaced is
  // restored.
  void ExtractAll(const std::string& targetDir);
  // Inflates member i, or every member, without storing it, checking sizes and CRCs.
  void VerifyMember(size_t i);
  void Verify();

 private:
  std::unique_ptr<TFileStream> FFile;
  TArchiveTrailer FTrailer{};
  std::vector<TArchiveMember> FEntries;
};

}  // namespace vorlen
