// UpdateCrc32, its folding routines (the widest the CPU has, and 16-byte registers only), the table
// routine and zlib's crc32() over the same 64 MiB buffer and over one 204,800-byte part (the size
// of an uploaded part, which sits in cache when its CRC runs); prints each rate and its ratio to
// zlib.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "checksum/Checksum.h"
#include "checksum/Crc32Variants.h"

namespace {

constexpr size_t kSize = size_t{64} << 20;
constexpr size_t kPart = 204800;

const std::vector<uint8_t>& Data() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> bytes(kSize);
    std::mt19937_64 random(12345);
    for (size_t i = 0; i < bytes.size(); i += 8) {
      const uint64_t value = random();
      for (size_t k = 0; k < 8; ++k) bytes[i + k] = static_cast<uint8_t>(value >> (8 * k));
    }
    return bytes;
  }();
  return data;
}

using TRoutine = void (*)(const void*, uint32_t, uint32_t&);

template <TRoutine Routine>
uint32_t Finished(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  Routine(data, static_cast<uint32_t>(size), crc);
  return ~crc;
}

uint32_t Zlib(const uint8_t* data, size_t size) {
  return static_cast<uint32_t>(crc32(0L, data, static_cast<uInt>(size)));
}

struct TCandidate {
  const char* Name;
  uint32_t (*Run)(const uint8_t*, size_t);
};

const TCandidate kCandidates[] = {
    {"UpdateCrc32", Finished<vorlen::UpdateCrc32>},
    {"clmul", Finished<vorlen::UpdateCrc32Clmul>},
    {"clmul16", Finished<vorlen::UpdateCrc32Clmul16>},
    {"table", Finished<vorlen::UpdateCrc32Table>},
    {"zlib", Zlib},
};

std::string SizeName(size_t size) { return size == kSize ? "64MiB" : std::to_string(size); }

// Collects the mean CPU time of each run, by routine and size, for the ratios at the end. CPU time,
// not wall time: the machine may be shared, and each routine runs on one thread.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) FSeconds[run.run_name.function_name] = run.GetAdjustedCPUTime();
  }
  std::map<std::string, double> FSeconds;
};

}  // namespace

int main(int argc, char** argv) {
  const auto& data = Data();
  const uint32_t expected = Zlib(data.data(), data.size());
  for (const auto& candidate : kCandidates)
    if (candidate.Run(data.data(), data.size()) != expected) {
      std::fprintf(stderr, "%s and zlib crc32() disagree\n", candidate.Name);
      return 1;
    }
  for (size_t size : {kSize, kPart})
    for (const auto& candidate : kCandidates)
      benchmark::RegisterBenchmark(
          (std::string(candidate.Name) + "/" + SizeName(size)).c_str(),
          [run = candidate.Run, size, &data](benchmark::State& state) {
            for (auto _ : state) benchmark::DoNotOptimize(run(data.data(), size));
            state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
          })
          ->Unit(benchmark::kMicrosecond)
          ->MinTime(1.0);
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto presence = [](bool present) { return present ? "present" : "absent"; };
  std::printf("PCLMULQDQ %s, VPCLMULQDQ with AVX-512 %s\n", presence(vorlen::Crc32ClmulAvailable()),
              presence(vorlen::Crc32WideClmulAvailable()));
  for (size_t size : {kSize, kPart}) {
    const auto zlib = reporter.FSeconds.find("zlib/" + SizeName(size));
    if (zlib == reporter.FSeconds.end()) continue;
    for (const auto& candidate : kCandidates) {
      const auto found = reporter.FSeconds.find(std::string(candidate.Name) + "/" + SizeName(size));
      if (found == reporter.FSeconds.end() || found->second <= 0) continue;
      std::printf("%-6s %-12s %9.1f us CPU  %6.2f GB/s  speed vs zlib %.2fx\n",
                  SizeName(size).c_str(), candidate.Name, found->second,
                  static_cast<double>(size) / found->second / 1e3, zlib->second / found->second);
    }
  }
  return 0;
}
