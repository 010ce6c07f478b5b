// The archive's on-disk records: member data, then the registry of 532-byte entries (raw or one
// zlib stream), then a 36-byte trailer. Integers are little-endian.
#pragma once

#include <bit>
#include <cstdint>

namespace vorlen {

static_assert(std::endian::native == std::endian::little,
              "the archive records are read and written as little-endian memory images");

enum TFileCompressionLevel : uint8_t { fcNone = 0, fcFastest = 1, fcDefault = 2, fcMaximum = 3 };

// zlib level for each compression level.
constexpr int ZlibLevel(TFileCompressionLevel level) {
  switch (level) {
    case fcNone:
      return 0;
    case fcFastest:
      return 1;
    case fcMaximum:
      return 9;
    case fcDefault:
      break;
  }
  return -1;
}

#pragma pack(push, 1)
struct TArchiveTrailer {
  uint32_t ArchiveCrc;  // CRC-32 of every byte before the trailer
  int32_t EntryCount;
  int32_t Marker;          // always 1
  int32_t RegistrySize;    // bytes of the registry's zlib stream; 0 when raw
  int32_t RegistryOffset;  // = length of the member data area
  uint8_t RegistryCompressed;
  uint8_t Reserved[15];
};

// A length-prefixed 8-bit text of at most 255 bytes.
struct TShortString {
  uint8_t Length;
  char Text[255];
};

struct TArchiveEntry {
  TShortString FileName;  // name without directory
  TShortString FilePath;  // directory with trailing backslash; all zero without saved paths
  int32_t FileSize;
  int32_t StoredSize;
  int32_t DataOffset;
  uint32_t Crc;       // CRC-32 of the source bytes
  uint8_t StoredRaw;  // 1: bytes as they are; 0: one zlib stream
  uint8_t Level;      // TFileCompressionLevel ordinal; 0 when stored raw
  uint8_t Reserved[2];
};
#pragma pack(pop)

static_assert(sizeof(TArchiveTrailer) == 36);
static_assert(sizeof(TArchiveEntry) == 532);

constexpr int kTrailerSize = 36;
constexpr int kEntrySize = 532;
// Archives and members stay below 2 GiB: sizes and offsets are signed 32-bit.
constexpr int64_t kArchiveSizeLimit = int64_t{1} << 31;
// Deflate cannot compress better than 1032:1; a stored size that claims more is a lie.
constexpr int64_t kMaxInflateRatio = 1032;

}  // namespace vorlen
