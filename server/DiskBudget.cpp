#include "server/DiskBudget.h"

#include "runtime/Format.h"

namespace vorlen {

TDiskBudget::TDiskBudget(const TDirFd& root, int64_t maxBytes, int64_t minFree,
                         int64_t estimated)
    : FRoot(root), FMaxBytes(maxBytes), FMinFree(minFree), FCount(estimated) {}

void TDiskBudget::Take(int64_t bytes) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FCount.Used + bytes > FMaxBytes) {
    throw EStorageLimit(Format("The service's storage quota of %lld bytes is used up",
                               static_cast<long long>(FMaxBytes)));
  }
  const int64_t free = FRoot.FreeBytes();
  // Without room for the bytes at all the disk is full, whatever reserve was asked for.
  if (free < bytes) {
    throw EDiskFull(Format("%lld bytes more do not fit in the %lld free",
                           static_cast<long long>(bytes), static_cast<long long>(free)));
  }
  if (free - bytes < FMinFree) {
    throw EStorageLimit(Format("The disk is nearly full: the service keeps %lld bytes free",
                               static_cast<long long>(FMinFree)));
  }
  FCount.Used += bytes;
}

void TDiskBudget::Give(int64_t bytes) {
  std::lock_guard<std::mutex> guard(FLock);
  FCount.Used = FCount.Used > bytes ? FCount.Used - bytes : 0;
}

void TDiskBudget::Count(int64_t bytes) {
  std::lock_guard<std::mutex> guard(FLock);
  FCount.Found(bytes);
}

void TDiskBudget::DropEstimate() {
  std::lock_guard<std::mutex> guard(FLock);
  FCount.DropEstimate();
}

int64_t TDiskBudget::Used() {
  std::lock_guard<std::mutex> guard(FLock);
  return FCount.Used;
}

TBudgetCharge::TBudgetCharge(TDiskBudget& budget, int64_t bytes) : FBudget(budget), FBytes(bytes) {
  if (FBytes > 0) FBudget.Take(FBytes);
}

void TBudgetCharge::Keep() {
  if (!FKept && FBytes < 0) FBudget.Give(-FBytes);
  FKept = true;
}

TBudgetCharge::~TBudgetCharge() {
  if (!FKept && FBytes > 0) FBudget.Give(FBytes);
}

}  // namespace vorlen
