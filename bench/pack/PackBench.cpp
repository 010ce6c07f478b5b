// Packing cost: TZLBArchive against a bare zlib deflate of the same bytes, and the peak resident
// memory of packing a large file (measured in a child process so that the parent's own buffers
// do not count).
//
//   bench_pack [SPEED_MIB [MEMORY_MIB]]     defaults 256 and 1024; 0 skips a measurement
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/ZLIBArchive.h"
#include "platform/TempFiles.h"
#include "runtime/Stream.h"
#include "support/Process.h"

namespace {

using vorlen::TFileStream;
using vorlen::TZLBArchive;
using Clock = std::chrono::steady_clock;

constexpr int64_t kMiB = 1 << 20;

// A temporary file that is deleted with the object.
class TScratchFile {
 public:
  explicit TScratchFile(const char* prefix)
      : FPath(vorlen::CreateTempFile(vorlen::SystemTempDir(), prefix)) {}
  ~TScratchFile() { std::remove(FPath.c_str()); }
  TScratchFile(const TScratchFile&) = delete;
  TScratchFile& operator=(const TScratchFile&) = delete;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// Mixed data from a fixed seed: stretches of noise, of repeated short patterns and of
// word-like text, so that deflate has both easy and hopeless input.
void Generate(const std::string& path, int64_t size) {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  const auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  static const char* const kWords[] = {"archive ", "part ",   "upload ",   "session ", "Vorlen ",
                                       "merge ",   "record ", "checksum ", "sender ",  "service "};
  TFileStream out(path, TFileStream::fmCreate);
  std::vector<uint8_t> block(static_cast<size_t>(kMiB));
  for (int64_t done = 0; done < size;) {
    size_t filled = 0;
    while (filled < block.size()) {
      const size_t run = std::min<size_t>(block.size() - filled, 512 + next() % 8192);
      switch (next() % 3) {
        case 0:  // noise
          for (size_t i = 0; i < run; i += 8) {
            const uint64_t value = next();
            std::memcpy(&block[filled + i], &value, std::min<size_t>(8, run - i));
          }
          break;
        case 1: {  // a short pattern repeated
          const uint64_t pattern = next();
          const size_t period = 1 + next() % 8;
          for (size_t i = 0; i < run; ++i)
            block[filled + i] = static_cast<uint8_t>(pattern >> (8 * (i % period)));
          break;
        }
        default:  // words
          for (size_t i = 0; i < run;) {
            const char* word = kWords[next() % 10];
            for (; *word != '\0' && i < run; ++word, ++i)
              block[filled + i] = static_cast<uint8_t>(*word);
          }
          break;
      }
      filled += run;
    }
    const int64_t n = std::min<int64_t>(size - done, kMiB);
    out.WriteBuffer(block.data(), n);
    done += n;
  }
}

// zlib level -1 of the file's bytes into output, streamed in 64 KiB blocks.
int64_t DeflateFile(const std::string& source, const std::string& output) {
  TFileStream in(source, TFileStream::fmOpenRead);
  TFileStream out(output, TFileStream::fmCreate);
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::vector<uint8_t> input(65536), buffer(65536);
  int flush = Z_NO_FLUSH;
  int64_t written = 0;
  do {
    const int64_t n = in.Read(input.data(), static_cast<int64_t>(input.size()));
    flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = input.data();
    z.avail_in = static_cast<uInt>(n);
    do {
      z.next_out = buffer.data();
      z.avail_out = static_cast<uInt>(buffer.size());
      deflate(&z, flush);
      const int64_t produced = static_cast<int64_t>(buffer.size() - z.avail_out);
      out.WriteBuffer(buffer.data(), produced);
      written += produced;
    } while (z.avail_out == 0);
  } while (flush != Z_FINISH);
  deflateEnd(&z);
  return written;
}

// Packs source into a new archive at archivePath; returns the archive's size.
int64_t PackFile(const std::string& source, const std::string& archivePath) {
  std::remove(archivePath.c_str());
  TZLBArchive archive;
  bool failed = false;
  archive.OnErrorLogged = [&failed](const std::string& message) {
    std::fprintf(stderr, "packing: %s\n", message.c_str());
    failed = true;
  };
  archive.CreateArchive(archivePath);
  std::vector<std::string> files{source};
  archive.AddFiles(files);
  if (failed || archive.EntryCount() != 1) throw std::runtime_error("the archive was not written");
  archive.CloseArchive();
  return TFileStream(archivePath, TFileStream::fmOpenRead).Size();
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

long PeakKiBFromStatus() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

void MeasureSpeed(int64_t size) {
  TScratchFile source("bpS"), deflated("bpD"), archive("bpA");
  std::printf("speed: generating %lld MiB of mixed data\n", static_cast<long long>(size / kMiB));
  Generate(source.Path(), size);
  // Each side runs twice; the faster run counts, which damps noise from other processes.
  double deflateTime = 1e300, archiveTime = 1e300;
  int64_t deflateSize = 0, archiveSize = 0;
  for (int round = 0; round < 2; ++round) {
    auto start = Clock::now();
    deflateSize = DeflateFile(source.Path(), deflated.Path());
    deflateTime = std::min(deflateTime, Seconds(Clock::now() - start));
    start = Clock::now();
    archiveSize = PackFile(source.Path(), archive.Path());
    archiveTime = std::min(archiveTime, Seconds(Clock::now() - start));
  }
  const double ratio = archiveTime / deflateTime;
  std::printf("speed: input %lld bytes\n", static_cast<long long>(size));
  std::printf("speed: zlib deflate -1   %8.3f s  %7.1f MiB/s  output %lld bytes\n", deflateTime,
              static_cast<double>(size) / kMiB / deflateTime, static_cast<long long>(deflateSize));
  std::printf("speed: TZLBArchive       %8.3f s  %7.1f MiB/s  archive %lld bytes\n", archiveTime,
              static_cast<double>(size) / kMiB / archiveTime, static_cast<long long>(archiveSize));
  std::printf(
      "speed: archive/deflate time ratio %.3f (extra work %+.1f %%; goal at most +25 %%: %s)\n",
      ratio, (ratio - 1) * 100, ratio <= 1.25 ? "met" : "MISSED");
}

void MeasureMemory(int64_t size, const char* self) {
  TScratchFile source("bpM"), archive("bpN");
  std::printf("memory: generating %lld MiB of mixed data\n", static_cast<long long>(size / kMiB));
  Generate(source.Path(), size);
  std::fflush(stdout);
  // A fresh image, so that nothing of the parent counts towards the peak; it prints its own line.
  vorlen::test::TProcess child({self, "--pack-child", source.Path(), archive.Path()},
                               {.Out = vorlen::test::stInherit, .Err = vorlen::test::stInherit});
  if (child.Wait() != 0) throw std::runtime_error("the packing child failed");
  const double peakMiB = static_cast<double>(child.PeakResidentKiB()) / 1024;
  std::printf(
      "memory: packing %lld MiB: peak resident %.1f MiB (ru_maxrss; goal under 64 MiB: %s)\n",
      static_cast<long long>(size / kMiB), peakMiB, peakMiB < 64 ? "met" : "MISSED");
}

int PackChild(const std::string& source, const std::string& archivePath) {
  const auto start = Clock::now();
  const int64_t archiveSize = PackFile(source, archivePath);
  std::printf("memory: child packed into %lld bytes in %.3f s, VmHWM %ld KiB\n",
              static_cast<long long>(archiveSize), Seconds(Clock::now() - start),
              PeakKiBFromStatus());
  return 0;
}

int64_t MiBArgument(const char* text) {
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > 2000)
    throw std::runtime_error(std::string("not a size in MiB below 2000: ") + text);
  return value * kMiB;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::strcmp(argv[1], "--pack-child") == 0) return PackChild(argv[2], argv[3]);
    if (argc > 3 || (argc > 1 && argv[1][0] == '-')) {
      std::fprintf(stderr, "usage: %s [SPEED_MIB [MEMORY_MIB]]   (defaults 256 1024; 0 skips)\n",
                   argv[0]);
      return 2;
    }
    const int64_t speedSize = argc > 1 ? MiBArgument(argv[1]) : 256 * kMiB;
    const int64_t memorySize = argc > 2 ? MiBArgument(argv[2]) : 1024 * kMiB;
    if (speedSize > 0) MeasureSpeed(speedSize);
    std::fflush(stdout);
    if (memorySize > 0) MeasureMemory(memorySize, "/proc/self/exe");
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_pack: %s\n", error.what());
    return 1;
  }
}
