// Any bytes as an archive: the index is read, every member's path checked and every member
// inflated and verified, or an EArchiveError says why not. When the first byte is odd the
// trailer's checksum is set right first, so that the fuzzer gets past it to the registry.
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "archive/ArchiveReader.h"

namespace {

// The input is written again for every run. On a disk file system each rewrite of a truncated
// file is flushed, which left the target waiting on the disk most of the time: memory first.
std::string ScratchFolder() {
  struct stat info {};
  if (stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && access("/dev/shm", W_OK) == 0)
    return "/dev/shm";
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// Removed when the fuzzer ends normally, so that runs do not pile up files in memory.
struct TScratchFile {
  std::string Path = ScratchFolder() + "/vorlen-fuzz-archive-XXXXXX";
  TScratchFile() {
    const int fd = mkstemp(Path.data());
    if (fd < 0) std::abort();
    close(fd);
  }
  ~TScratchFile() { unlink(Path.c_str()); }
};

const std::string& ArchivePath() {
  static const TScratchFile file;
  return file.Path;
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
