#include "server/DescriptorLimit.h"

#include <sys/resource.h>

namespace vorlen {

namespace {

constexpr int64_t kPerWorker = 12;
constexpr int64_t kProcessOwn = 32;

}  // namespace

int64_t DescriptorsNeeded(const TServiceOptions& options) {
  return int64_t{AcceptedConnections(options)} + kPerWorker * options.Threads + kProcessOwn;
}

int64_t RaiseDescriptorLimit(int64_t needed) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return needed;
  const auto wanted = static_cast<rlim_t>(needed);
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? needed : static_cast<int64_t>(limit.rlim_cur);
}

}  // namespace vorlen
