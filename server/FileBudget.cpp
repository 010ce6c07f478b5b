#include "server/FileBudget.h"

#include <algorithm>

#include "runtime/Format.h"
#include "server/DiskBudget.h"

namespace vorlen {

TFileBudget::TFileBudget(int64_t maxFiles, int64_t estimated)
    : FMaxFiles(maxFiles), FCount(estimated) {}

void TFileBudget::Take(int64_t count) {
  if (count > 0) Change(count, true);
}

void TFileBudget::Give(int64_t count) { Change(-count, false); }

void TFileBudget::Count(int64_t count) {
  std::lock_guard<std::mutex> guard(FLock);
  FCount.Found(count);
}

void TFileBudget::DropEstimate() {
  std::lock_guard<std::mutex> guard(FLock);
  FCount.DropEstimate();
}

int64_t TFileBudget::Used() { return Change(0, false); }

int64_t TFileBudget::Change(int64_t count, bool check) {
  std::lock_guard<std::mutex> guard(FLock);
  if (check && FCount.Used + count > FMaxFiles) {
    throw EStorageLimit(Format("The service's quota of %lld files is used up",
                               static_cast<long long>(FMaxFiles)));
  }
  FCount.Used = std::max<int64_t>(FCount.Used + count, 0);
  return FCount.Used;
}

}  // namespace vorlen
