// Reads an archive's members back: lists, verifies and extracts them. It trusts nothing in the
// file: every record is checked against the file before use, and extraction never writes outside
// its target directory nor leaves a half-written file behind.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "runtime/Exception.h"

namespace vorlen {

class TStream;
class TFileStream;

class EArchiveError : public Exception {
 public:
  using Exception::Exception;
};

class TArchiveReader {
 public:
  // Opens the archive, checks its trailer checksum and reads and validates its entry list.
  // Raises EArchiveError when the file is missing, unreadable or unsound.
  explicit TArchiveReader(const std::string& archivePath);
  ~TArchiveReader();
  TArchiveReader(const TArchiveReader&) = delete;
  TArchiveReader& operator=(const TArchiveReader&) = delete;

  const std::vector<TArchiveEntry>& Entries() const { return FEntries; }
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
  void ReadTrailer();
  void ReadRegistry();
  void ValidateEntries() const;

  std::string FArchivePath;
  std::unique_ptr<TFileStream> FFile;
  int64_t FFileSize = 0;
  TArchiveTrailer FTrailer{};
  std::vector<TArchiveEntry> FEntries;
};

}  // namespace vorlen
