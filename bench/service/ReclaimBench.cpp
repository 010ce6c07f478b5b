#include "ReclaimBench.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "server/SessionStore.h"

namespace fs = std::filesystem;

namespace vorlen::bench {

namespace {

using TClock = std::chrono::steady_clock;

double Millis(TClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// How long requests took, by the microsecond: counted into buckets made beforehand, so that
// recording a time never stops the requests.
struct TLatencies {
  std::vector<uint64_t> Buckets = std::vector<uint64_t>(100001);  // the last: 100 ms or more
  uint64_t Count = 0;
  double LongestMs = 0;

  void Add(TClock::duration took) {
    const double ms = Millis(took);
    ++Buckets[std::min<size_t>(static_cast<size_t>(ms * 1000), Buckets.size() - 1)];
    ++Count;
    LongestMs = std::max(LongestMs, ms);
  }
  // Milliseconds within which the share q of the requests ended.
  double WithinMs(double q) const {
    uint64_t seen = 0;
    for (size_t us = 0; us < Buckets.size(); ++us) {
      seen += Buckets[us];
      if (static_cast<double>(seen) >= q * static_cast<double>(Count)) return (us + 1) / 1000.0;
    }
    return LongestMs;
  }
};

// Requests for random sessions of the first hundred, one after another, while the store is
// busy elsewhere.
class TProber {
 public:
  TProber(TSessionStore& store, const std::vector<std::string>& ids)
      : FThread([this, &store, &ids] {
          std::mt19937 random(7);
          // A hundred sessions in use all along: never idle, so the removal leaves them.
          std::uniform_int_distribution<size_t> pick(0, std::min<size_t>(ids.size(), 100) - 1);
          while (!FStop.load()) {
            const auto start = TClock::now();
            try {
              (void)store.Find(ids[pick(random)]);
            } catch (const EUnknownSession&) {
              // Reclaimed already: the wait for the lock is what counts.
            }
            FTimes.Add(TClock::now() - start);
          }
        }) {}
  // Stops the requests; then the times they took.
  TLatencies Stop() {
    FStop = true;
    FThread.join();
    return std::move(FTimes);
  }

 private:
  std::atomic<bool> FStop{false};
  TLatencies FTimes;
  std::thread FThread;
};

}  // namespace

int RunReclaimBench(const fs::path& dir, int sessions) {
  TServiceLimits limits;
  limits.MaxSessions = sessions;
  limits.MaxRootFiles = int64_t{8} * sessions + 1000;
  limits.MaxRootBytes = int64_t{1} << 50;
  limits.MinFreeBytes = 0;
  std::atomic<int64_t> ahead{0};  // how far the store's clock is ahead of the real one
  TSessionStore store(dir / "root", limits);
  store.WaitForScan();
  store.SetClock([&ahead] { return TClock::now() + std::chrono::nanoseconds(ahead.load()); });

  const auto making = TClock::now();
  std::vector<std::string> ids;
  ids.reserve(sessions);
  for (int i = 0; i < sessions; ++i) ids.push_back(store.Create("")->Id());
  std::printf("reclaim with %d sessions in memory (made in %.1f s):", sessions,
              std::chrono::duration<double>(TClock::now() - making).count());
  std::fflush(stdout);

  // Without a reclaim, then while one walks every session finding none idle, then while one
  // removes them all with their folders.
  TLatencies times[3];
  double took[2] = {};
  int count[2] = {};
  for (int phase = 0; phase < 3; ++phase) {
    TProber prober(store, ids);
    const auto start = TClock::now();
    if (phase == 0) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
    } else {
      if (phase == 2) {
        ahead = std::chrono::duration_cast<std::chrono::nanoseconds>(limits.EmptySessionIdle +
                                                                     std::chrono::minutes(1))
                    .count();
      }
      // A look covers a share of the sessions: looks over all of them, and for a second at
      // least, so that the requests meet them. The service looks at most once a second; a
      // millisecond apart here, where looks back to back would keep the lock from the requests
      // as no service does.
      int looks = 0;
      do {
        if (looks > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto look = TClock::now();
        store.ReclaimIdle(true);
        took[phase - 1] += Millis(TClock::now() - look);
        ++looks;
      } while (looks <= sessions / 4096 + 1 ||
               (phase == 1 && TClock::now() - start < std::chrono::seconds(1)));
      count[phase - 1] = looks;
    }
    times[phase] = prober.Stop();
  }
  int left = 0;
  for (const auto& entry : fs::directory_iterator(dir / "root")) {
    left += entry.path().filename().string()[0] != '.';  // not .incoming or .usage
  }
  std::printf(
      " %d looks finding none idle took %.1f ms each; removing them all took %d looks, %.1f s "
      "(%d folders left)\n",
      count[0], took[0] / count[0], count[1], took[1] / 1000, left);
  const char* const names[3] = {"alone", "during the looks", "during the removal"};
  for (int phase = 0; phase < 3; ++phase) {
    const TLatencies& t = times[phase];
    if (t.Count == 0) continue;
    std::printf("  requests %s: %llu, 99.9%% within %.3f ms, longest %.2f ms\n", names[phase],
                static_cast<unsigned long long>(t.Count), t.WithinMs(0.999), t.LongestMs);
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace vorlen::bench
