// Support for the archive tests: hand-made archives (records filled in field by field, members
// deflated with zlib's compress2, checksums from zlib's crc32), so that expected bytes never come
// from the code under test.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "support/Files.h"
#include "support/Pattern.h"
#include "support/ScratchDir.h"

#include "platform/Paths.h"

namespace vorlen::test {

inline uint32_t ZlibCrc(const std::string& bytes) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

inline std::string Deflate(const std::string& bytes, int level) {
  uLongf size = compressBound(static_cast<uLong>(bytes.size()));
  std::string out(size, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                      reinterpret_cast<const Bytef*>(bytes.data()),
                      static_cast<uLong>(bytes.size()), level),
            Z_OK);
  out.resize(size);
  return out;
}

inline void SetShort(TShortString& field, const std::string& text) {
  field.Length = static_cast<uint8_t>(std::min<size_t>(text.size(), 255));
  std::memcpy(field.Text, text.data(), field.Length);
}

// Builds an archive member by member; names and paths are given as stored (8-bit) bytes.
class TArchiveBuilder {
 public:
  // Returns the record so that a test can spoil it before Build().
  TArchiveEntry& AddRaw(const std::string& name, const std::string& path,
                        const std::string& bytes) {
    TArchiveEntry& entry = NewEntry(name, path, bytes);
    entry.StoredSize = static_cast<int32_t>(bytes.size());
    entry.StoredRaw = 1;
    FData += bytes;
    return entry;
  }

  TArchiveEntry& AddCompressed(const std::string& name, const std::string& path,
                               const std::string& bytes, TFileCompressionLevel level = fcMaximum) {
    return AddStream(name, path, bytes, Deflate(bytes, ZlibLevel(level)), level);
  }

  // A member whose stored bytes are given as they are.
  TArchiveEntry& AddStream(const std::string& name, const std::string& path,
                           const std::string& bytes, const std::string& stored,
                           TFileCompressionLevel level = fcMaximum) {
    TArchiveEntry& entry = NewEntry(name, path, bytes);
    entry.StoredSize = static_cast<int32_t>(stored.size());
    entry.StoredRaw = 0;
    entry.Level = level;
    FData += stored;
    return entry;
  }

  std::vector<TArchiveEntry>& Entries() { return FEntries; }

  // Data area, registry (a zlib stream or raw records) and a trailer with a matching checksum.
  // entryCount < 0 writes the true count.
  std::string Build(bool compressRegistry = true, int32_t entryCount = -1) const {
    std::string records(FEntries.size() * sizeof(TArchiveEntry), '\0');
    if (!FEntries.empty()) std::memcpy(records.data(), FEntries.data(), records.size());
    std::string registry = compressRegistry ? Deflate(records, Z_DEFAULT_COMPRESSION) : records;
    return WithTrailer(FData, registry, compressRegistry,
                       entryCount < 0 ? static_cast<int32_t>(FEntries.size()) : entryCount);
  }

  // Appends a trailer whose checksum matches, whatever the registry holds.
  static std::string WithTrailer(const std::string& data, const std::string& registry,
                                 bool compressed, int32_t entryCount) {
    std::string body = data + registry;
    TArchiveTrailer trailer{};
    trailer.ArchiveCrc = ZlibCrc(body);
    trailer.EntryCount = entryCount;
    trailer.Marker = 1;
    trailer.RegistrySize = compressed ? static_cast<int32_t>(registry.size()) : 0;
    trailer.RegistryOffset = static_cast<int32_t>(data.size());
    trailer.RegistryCompressed = compressed ? 1 : 0;
    return body + std::string(reinterpret_cast<const char*>(&trailer), sizeof trailer);
  }

 private:
  TArchiveEntry& NewEntry(const std::string& name, const std::string& path,
                          const std::string& bytes) {
    TArchiveEntry& entry = FEntries.emplace_back();
    std::memset(&entry, 0, sizeof entry);
    SetShort(entry.FileName, name);
    SetShort(entry.FilePath, path);
    entry.FileSize = static_cast<int32_t>(bytes.size());
    entry.DataOffset = static_cast<int32_t>(FData.size());
    entry.Crc = ZlibCrc(bytes);
    return entry;
  }

  std::string FData;
  std::vector<TArchiveEntry> FEntries;
};

// Inflates one zlib stream with zlib itself; expectedSize is the exact inflated size.
inline std::string Inflate(const std::string& stream, size_t expectedSize) {
  std::string out(expectedSize, '\0');
  uLongf outSize = static_cast<uLongf>(expectedSize);
  const int rc =
      uncompress(reinterpret_cast<Bytef*>(out.data()), &outSize,
                 reinterpret_cast<const Bytef*>(stream.data()), static_cast<uLong>(stream.size()));
  if (rc != Z_OK || outSize != expectedSize) return "<inflate failed>";
  return out;
}

// Mixed, partly compressible bytes from a fixed seed.
inline std::string MixedBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes;
  bytes.reserve(size);
  while (bytes.size() < size) {
    if (random() % 2 == 0) {
      bytes.append(std::min<size_t>(size - bytes.size(), 1 + random() % 300),
                   static_cast<char>('a' + random() % 4));
    } else {
      for (size_t n = 1 + random() % 300; n > 0 && bytes.size() < size; --n)
        bytes.push_back(static_cast<char>(random()));
    }
  }
  return bytes;
}

// The program's UTF-8 text as a path; a narrow literal would be read in the ANSI code page on
// Windows.
inline std::filesystem::path U(std::string_view utf8) { return FsPathFromUtf8(utf8); }

}  // namespace vorlen::test
