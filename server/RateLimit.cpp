#include "server/RateLimit.h"

#include <algorithm>

namespace vorlen {

TRateLimit::TRateLimit(int64_t perMinute)
    : FBurst(static_cast<double>(perMinute)), FPerSecond(static_cast<double>(perMinute) / 60) {}

double TRateLimit::Refilled(const TBucket& bucket, TTime now) const {
  const double seconds = std::chrono::duration<double>(now - bucket.Last).count();
  return std::min(FBurst, bucket.Tokens + seconds * FPerSecond);
}

bool TRateLimit::Take(const std::string& peer, TTime now) {
  const auto [it, added] = FBuckets.try_emplace(peer, TBucket{FBurst, now});
  TBucket& bucket = it->second;
  bucket.Tokens = Refilled(bucket, now);
  bucket.Last = now;
  if (bucket.Tokens < 1) return false;
  bucket.Tokens -= 1;
  return true;
}

void TRateLimit::Prune(TTime now) {
  std::erase_if(FBuckets, [&](const auto& item) { return Refilled(item.second, now) >= FBurst; });
}

}  // namespace vorlen
