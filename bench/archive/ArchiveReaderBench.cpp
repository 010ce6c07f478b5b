// Writes two hostile-shaped archives and times the reader on them:
//   many.rar   20,000 empty members (extraction must stay linear in the member count)
//   claim.rar  a registry of 4,000,000 zero records deflated to about 2 MiB
// Usage: bench_archive [DIR]   (DIR keeps the archives, for timing vorlen-archive on them;
// extracting into a tmpfs shows the reader's own cost rather than the disk's)
#include <sys/resource.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "archive/ArchiveReader.h"

namespace fs = std::filesystem;
using namespace vorlen;

namespace {

constexpr int kManyMembers = 20000;
constexpr int32_t kClaimedRecords = 4000000;

// Deflates count bytes of what fill produces, a block at a time, into out.
template <typename TFill>
std::string DeflateBlocks(int64_t count, TFill fill) {
  z_stream z{};
  deflateInit(&z, 9);
  std::string out;
  std::vector<uint8_t> block(1 << 20), buffer(1 << 16);
  for (int64_t done = 0;;) {
    const int64_t n = std::min<int64_t>(count - done, static_cast<int64_t>(block.size()));
    fill(block.data(), done, n);
    done += n;
    z.next_in = block.data();
    z.avail_in = static_cast<uInt>(n);
    const int flush = done == count ? Z_FINISH : Z_NO_FLUSH;
    int rc;
    do {
      z.next_out = buffer.data();
      z.avail_out = static_cast<uInt>(buffer.size());
      rc = deflate(&z, flush);
      out.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - z.avail_out);
    } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    if (flush == Z_FINISH) break;
  }
  deflateEnd(&z);
  return out;
}

void WriteArchive(const fs::path& path, const std::string& registry, int32_t count) {
  TArchiveTrailer trailer{};
  trailer.ArchiveCrc = static_cast<uint32_t>(crc32(
      0, reinterpret_cast<const Bytef*>(registry.data()), static_cast<uInt>(registry.size())));
  trailer.EntryCount = count;
  trailer.Marker = 1;
  trailer.RegistrySize = static_cast<int32_t>(registry.size());
  trailer.RegistryOffset = 0;
  trailer.RegistryCompressed = 1;
  std::ofstream out(path, std::ios::binary);
  out.write(registry.data(), static_cast<std::streamsize>(registry.size()));
  out.write(reinterpret_cast<const char*>(&trailer), sizeof trailer);
}

void WriteMany(const fs::path& path) {
  std::vector<TArchiveEntry> records(kManyMembers);
  for (int i = 0; i < kManyMembers; ++i) {
    TArchiveEntry& entry = records[static_cast<size_t>(i)];
    std::memset(&entry, 0, sizeof entry);
    char name[32];
    entry.FileName.Length = static_cast<uint8_t>(std::snprintf(name, sizeof name, "m%05d.txt", i));
    std::memcpy(entry.FileName.Text, name, entry.FileName.Length);
    entry.StoredRaw = 1;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(records.data());
  WriteArchive(path,
               DeflateBlocks(int64_t{kManyMembers} * kEntrySize,
                             [bytes](uint8_t* block, int64_t at, int64_t n) {
                               std::memcpy(block, bytes + at, static_cast<size_t>(n));
                             }),
               kManyMembers);
}

void WriteClaim(const fs::path& path) {
  WriteArchive(path,
               DeflateBlocks(int64_t{kClaimedRecords} * kEntrySize,
                             [](uint8_t* block, int64_t, int64_t n) {
                               std::memset(block, 0, static_cast<size_t>(n));
                             }),
               kClaimedRecords);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const bool keep = argc > 1;
  const fs::path dir = keep ? fs::path(argv[1]) : fs::temp_directory_path() / "vorlen-bench-reader";
  fs::create_directories(dir);
  const fs::path many = dir / "many.rar", claim = dir / "claim.rar";
  WriteMany(many);
  WriteClaim(claim);
  std::printf("many.rar %ju bytes, claim.rar %ju bytes\n",
              static_cast<uintmax_t>(fs::file_size(many)),
              static_cast<uintmax_t>(fs::file_size(claim)));

  // With the default bound, then with one that lets all 4,000,000 zero records in.
  auto start = std::chrono::steady_clock::now();
  for (const uint64_t maxMembers : {TArchiveLimits{}.MaxMembers, uint64_t{5000000}}) {
    const long before = PeakKiB();
    start = std::chrono::steady_clock::now();
    try {
      TArchiveReader reader(claim.string(), {.MaxMembers = maxMembers});
      std::printf("claim.rar opened with %zu records\n", reader.Entries().size());
    } catch (const std::exception& error) {
      std::printf("claim.rar refused: %s\n", error.what());
    }
    std::printf("claim.rar, at most %ju members: %.3f s, peak memory %ld KiB (%ld KiB before)\n",
                static_cast<uintmax_t>(maxMembers), Seconds(start), PeakKiB(), before);
  }

  start = std::chrono::steady_clock::now();
  {
    TArchiveReader reader(many.string());
    reader.ExtractAll((dir / "out").string());
  }
  std::printf("many.rar: %d members extracted in %.3f s\n", kManyMembers, Seconds(start));
  fs::remove_all(dir / "out");
  if (!keep) fs::remove_all(dir);
  return 0;
}
