// UpdateCrc32 against zlib's crc32() over the same 64 MiB buffer; prints both rates and the ratio.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "checksum/Checksum.h"

namespace {

constexpr size_t kSize = size_t{64} << 20;

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

uint32_t Vorlen(const std::vector<uint8_t>& data) {
  uint32_t crc = 0xFFFFFFFFu;
  vorlen::UpdateCrc32(data.data(), static_cast<uint32_t>(data.size()), crc);
  return ~crc;
}

uint32_t Zlib(const std::vector<uint8_t>& data) {
  return static_cast<uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size())));
}

void BM_UpdateCrc32(benchmark::State& state) {
  const auto& data = Data();
  for (auto _ : state) benchmark::DoNotOptimize(Vorlen(data));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void BM_ZlibCrc32(benchmark::State& state) {
  const auto& data = Data();
  for (auto _ : state) benchmark::DoNotOptimize(Zlib(data));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

BENCHMARK(BM_UpdateCrc32)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ZlibCrc32)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Collects the mean time of each benchmark to print the ratio at the end.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      const double seconds = run.GetAdjustedRealTime();
      if (run.benchmark_name().find("UpdateCrc32") != std::string::npos) FOurs = seconds;
      if (run.benchmark_name().find("Zlib") != std::string::npos) FZlib = seconds;
    }
  }
  double FOurs = 0;
  double FZlib = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (Vorlen(Data()) != Zlib(Data())) {
    std::fprintf(stderr, "UpdateCrc32 and zlib crc32() disagree\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (reporter.FOurs > 0 && reporter.FZlib > 0)
    std::printf("64 MiB: UpdateCrc32 %.2f ms, zlib crc32 %.2f ms, speed ratio (zlib time / ours) %.3f\n",
                reporter.FOurs, reporter.FZlib, reporter.FZlib / reporter.FOurs);
  return 0;
}
