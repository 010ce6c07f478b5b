// Any bytes as an archive: the index is read, every member's path checked and every member
// inflated and verified, or an EArchiveError says why not. When the first byte is odd the
// trailer's checksum is set right first, so that the fuzzer gets past it to the registry.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "FuzzScratch.h"
#include "archive/ArchiveReader.h"

namespace {

using namespace vorlen;

const std::string& ArchivePath() {
  static const fuzz::TScratchDir dir("archive");
  static const std::string path = (dir.Path() / "input.zlb").string();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlen;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!bytes.empty() && (data[0] & 1) != 0 && bytes.size() >= kTrailerSize) {
    const size_t before = bytes.size() - kTrailerSize;
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(before)));
    for (int i = 0; i < 4; ++i) bytes[before + i] = static_cast<char>((crc >> (8 * i)) & 0xFF);
  }
  {
    std::ofstream out(ArchivePath(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  try {
    TArchiveLimits limits;
    limits.MaxMembers = 64;
    limits.MaxExtractedBytes = 16 << 20;
    TArchiveReader reader(ArchivePath(), limits);
    for (size_t i = 0; i < reader.Entries().size(); ++i) {
      (void)reader.StoredName(i);
      try {
        (void)reader.RelativePath(i);
      } catch (const EArchiveError&) {
      }
      try {
        reader.VerifyMember(i);
      } catch (const EArchiveError&) {
      }
    }
  } catch (const EArchiveError&) {
  }
  return 0;
}
