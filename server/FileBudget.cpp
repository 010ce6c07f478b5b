#include "server/FileBudget.h"

#include <algorithm>

#include "runtime/Format.h"
#include "server/DiskBudget.h"

namespace vorlen {

TFileBudget::TFileBudget(int64_t maxFiles) : FMaxFiles(maxFiles) {}

void TFileBudget::Take(int64_t count) {
  if (count > 0) Change(count, true);
}

void TFileBudget::Give(int64_t count) { Change(-count, false); }

void TFileBudget::Count(int64_t count) {
  std::lock_guard<std::mutex> guard(FLock);
  const int64_t estimated = std::min(FEstimate, count);
  FEstimate -= estimated;
  FUsed += count - estimated;
}

void TFileBudget::Estimate(int64_t count) {
  std::lock_guard<std::mutex> guard(FLock);
  FEstimate += count;
  FUsed += count;
}

void TFileBudget::DropEstimate() {
  std::lock_guard<std::mutex> guard(FLock);
  FUsed -= FEstimate;
  FEstimate = 0;
}

int64_t TFileBudget::Used() { return Change(0, false); }

int64_t TFileBudget::Change(int64_t count, bool check) {
  std::lock_guard<std::mutex> guard(FLock);
  if (check && FUsed + count > FMaxFiles) {
    throw EStorageLimit(Format("The service's quota of %lld files is used up",
                               static_cast<long long>(FMaxFiles)));
  }
  FUsed = std::max<int64_t>(FUsed + count, 0);
  return FUsed;
}

}  // namespace vorlen
