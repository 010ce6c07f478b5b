#include "archive/ArchiveIndex.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <exception>

#include "archive/StoredRange.h"
#include "checksum/Checksum.h"
#include "platform/Paths.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"

namespace vorlen {

namespace {

constexpr int64_t kCrcBufferSize = 10240;
constexpr size_t kRegistryChunk = 4096;

const TCrc32Tables& SharedCrcTables() {
  static const TCrc32Tables tables = [] {
    TCrc32Tables built{};
    BuildCrc32Tables(built);
    return built;
  }();
  return tables;
}

// Why a record cannot describe a member of an archive whose data area ends at dataEnd; null
// when it can.
const char* RecordFault(const TArchiveEntry& entry, int64_t dataEnd) {
  if (entry.FileSize < 0 || entry.StoredSize < 0 || entry.DataOffset < 0)
    return "a negative size or offset";
  if (int64_t{entry.DataOffset} + entry.StoredSize > dataEnd)
    return "data outside the member data area";
  if (entry.StoredRaw > 1 || entry.Level > fcMaximum) return "an unknown storage method";
  if (entry.StoredRaw == 1 && entry.StoredSize != entry.FileSize)
    return "a raw member whose stored size differs from its file size";
  if (entry.StoredRaw == 0 && entry.FileSize > int64_t{entry.StoredSize} * kMaxInflateRatio)
    return "more bytes than its stored size can inflate to";
  return nullptr;
}

// Cuts the registry's bytes into records as they arrive and checks each one at once.
class TRecordCutter {
 public:
  TRecordCutter(const TArchiveIndexReading& reading, int64_t dataEnd)
      : FReading(reading), FDataEnd(dataEnd) {}

  void Add(const uint8_t* bytes, size_t count) {
    auto* record = reinterpret_cast<uint8_t*>(&FRecord);
    while (count > 0) {
      const size_t n = std::min(count, kEntrySize - FFilled);
      std::memcpy(record + FFilled, bytes, n);
      FFilled += n;
      bytes += n;
      count -= n;
      if (FFilled < kEntrySize) break;
      FFilled = 0;
      ++FNumber;
      if (const char* fault = RecordFault(FRecord, FDataEnd))
        throw EArchiveError(Format("%s: entry %zu has %s", kArchiveBadFileList, FNumber, fault));
      if (FReading.OnRecord) FReading.OnRecord(FRecord);
    }
  }

 private:
  static constexpr size_t kEntrySize = sizeof(TArchiveEntry);
  const TArchiveIndexReading& FReading;
  const int64_t FDataEnd;
  TArchiveEntry FRecord{};
  size_t FFilled = 0;
  size_t FNumber = 0;
};

}  // namespace

std::unique_ptr<TFileStream> OpenArchiveFile(const std::string& path) {
  if (path.empty() || !PathExists(path)) throw EArchiveError(kArchiveNotFound);
  try {
    return std::make_unique<TFileStream>(path, TFileStream::fmOpenRead);
  } catch (const EStreamError&) {
    throw EArchiveError(Format("Unable to open file (%s)", path.c_str()));
  }
}

uint32_t StreamCrc32(TStream& stream, int64_t excludeTail, const TCrc32Tables& tables) {
  const int64_t position = stream.Position();
  stream.SetPosition(0);
  int64_t remaining = stream.Size() - excludeTail;
  uint32_t crc = 0xFFFFFFFFu;
  uint8_t buffer[kCrcBufferSize];
  while (remaining > 0) {
    const int64_t got = stream.Read(buffer, std::min(remaining, kCrcBufferSize));
    if (got <= 0) break;  // the stream ended early; nothing more to add
    UpdateCrc32(tables, buffer, static_cast<uint32_t>(got), crc);
    remaining -= got;
  }
  stream.SetPosition(position);
  return ~crc;
}

void ReadArchiveIndex(TStream& file, const TArchiveIndexReading& reading) {
  TArchiveTrailer trailer{};
  int64_t size = 0;
  try {
    size = file.Size();
    if (size < kTrailerSize || size >= reading.MaxArchiveSize)
      throw EArchiveError(kArchiveCorrupted);
    const uint32_t crc =
        StreamCrc32(file, kTrailerSize, reading.CrcTables ? *reading.CrcTables : SharedCrcTables());
    file.SetPosition(size - kTrailerSize);
    file.ReadBuffer(&trailer, kTrailerSize);
    if (trailer.ArchiveCrc != crc) throw EArchiveError(kArchiveCorrupted);
  } catch (const EStreamError&) {
    throw EArchiveError(kArchiveCorrupted);
  }
  if (reading.OnTrailer) reading.OnTrailer(trailer);

  // A sound checksum does not make the numbers sensible; refuse what cannot be an entry list.
  const int64_t registryEnd = size - kTrailerSize;
  const int64_t offset = trailer.RegistryOffset;
  const int64_t count = trailer.EntryCount;
  const int64_t registryBytes = count * kEntrySize;
  if (count < 0 || offset < 0 || offset > registryEnd || registryBytes >= reading.MaxArchiveSize)
    throw EArchiveError(kArchiveBadFileList);
  if (static_cast<uint64_t>(count) > reading.MaxMembers)
    throw EArchiveLimit(Format("%s: it claims %" PRId64 " members, more than the %" PRIu64
                               " allowed",
                               kArchiveBadFileList, count, reading.MaxMembers));
  // The registry fills the space up to the trailer exactly, raw or as one zlib stream.
  const int64_t stored = registryEnd - offset;
  const bool compressed = trailer.RegistryCompressed != 0;
  if (compressed ? registryBytes > stored * kMaxInflateRatio : stored != registryBytes)
    throw EArchiveError(kArchiveBadFileList);

  TRecordCutter cutter(reading, offset);
  int64_t done = 0;
  // Faults of the records and of the handlers keep their own texts; the rest is a registry that
  // cannot be read.
  std::exception_ptr ownFailure;
  const TByteSink take = [&](const uint8_t* bytes, size_t count) {
    try {
      cutter.Add(bytes, count);
      done += static_cast<int64_t>(count);
      if (compressed && reading.OnProgress) reading.OnProgress(done, registryBytes);
    } catch (...) {
      ownFailure = std::current_exception();
      throw;
    }
  };
  try {
    if (compressed)
      InflateRange(file, offset, stored, registryBytes, kRegistryChunk, take);
    else
      CopyRange(file, offset, registryBytes, kRegistryChunk, take);
  } catch (...) {
    if (ownFailure) std::rethrow_exception(ownFailure);
    throw EArchiveError(kArchiveBadFileList);
  }
}

}  // namespace vorlen
