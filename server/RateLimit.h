// How often each peer may ask for something: a token bucket per peer, refilled steadily up to
// one minute's worth. The caller serialises the calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

namespace vorlen {

class TRateLimit {
 public:
  using TTime = std::chrono::steady_clock::time_point;

  explicit TRateLimit(int64_t perMinute);

  // Takes one of peer's tokens at now; false when none is left.
  bool Take(const std::string& peer, TTime now);
  // Forgets the peers whose buckets are full again, so that the map holds only recent askers.
  void Prune(TTime now);

 private:
  struct TBucket {
    double Tokens;
    TTime Last;
  };
  double Refilled(const TBucket& bucket, TTime now) const;

  double FBurst;
  double FPerSecond;
  std::map<std::string, TBucket> FBuckets;
};

}  // namespace vorlen
