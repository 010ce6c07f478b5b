// Reading an archive's index: the trailer, checked against the checksum over everything before
// it, and the registry, record by record. TZLBArchive and TArchiveReader both open archives
// through it, so they accept and refuse the same files with the same texts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/ArchiveFormat.h"
#include "runtime/Exception.h"

namespace vorlen {

class TStream;
class TFileStream;
struct TCrc32Tables;

// An archive that cannot be opened or read, or a member that cannot be extracted.
class EArchiveError : public Exception {
 public:
  using Exception::Exception;
};

// A sound archive that asks for more than the caller's limits allow.
class EArchiveLimit : public EArchiveError {
 public:
  using EArchiveError::EArchiveError;
};

inline constexpr const char* kArchiveNotFound = "Archive file not found";
inline constexpr const char* kArchiveCorrupted = "The archive file appears to be corrupted";
inline constexpr const char* kArchiveBadFileList = "Unable to read archive file list";
inline constexpr const char* kArchiveIndexOutOfBounds = "Index out of bounds";

// Opens an archive file for reading. Raises EArchiveError "Archive file not found" (also for an
// empty path) or "Unable to open file (%s)".
std::unique_ptr<TFileStream> OpenArchiveFile(const std::string& path);

// Finished CRC-32 of stream from offset 0 to Size - excludeTail, read through one 10,240-byte
// buffer; the position is kept.
uint32_t StreamCrc32(TStream& stream, int64_t excludeTail, const TCrc32Tables& tables);

// What reading an index may cost and whom it tells; unassigned handlers are skipped.
struct TArchiveIndexReading {
  // A file of this size or more cannot be an archive: the format's offsets are signed 32-bit.
  int64_t MaxArchiveSize = kArchiveSizeLimit;
  // More records than this are refused from the trailer, before the registry is read.
  uint64_t MaxMembers = UINT64_MAX;
  // The tables the checksum is computed with; shared ones when null.
  const TCrc32Tables* CrcTables = nullptr;
  // The trailer passed its checksum; the records follow.
  std::function<void(const TArchiveTrailer& trailer)> OnTrailer;
  // One record, already checked against the file, in registry order.
  std::function<void(const TArchiveEntry& record)> OnRecord;
  // Bytes of a compressed registry inflated so far, of total, after each 4,096 bytes.
  std::function<void(int64_t done, int64_t total)> OnProgress;
};

// Reads the index of the archive in file. The registry is read as it inflates and each record is
// checked as soon as it is complete, so an impossible one stops the reading at once. Raises
// EArchiveError "The archive file appears to be corrupted" when the file is too short or too
// large or fails its checksum, and "Unable to read archive file list" (with the reason after a
// colon where there is more to say) when the registry cannot be read or holds a record that
// cannot be. What a handler raises passes through unchanged.
void ReadArchiveIndex(TStream& file, const TArchiveIndexReading& reading);

}  // namespace vorlen
