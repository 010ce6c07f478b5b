// The bytes the service may hold under its root: a quota over every session, and a reserve of
// free disk space that it never writes into. Operations take bytes before they write and give
// them back when they remove.
#pragma once

#include <cstdint>
#include <mutex>

#include "runtime/Exception.h"
#include "server/Descriptors.h"
#include "server/FoundCount.h"

namespace vorlen {

class EStorageLimit : public EServiceLimit {
 public:
  using EServiceLimit::EServiceLimit;
};

class TDiskBudget {
 public:
  // root is where free space is measured; estimated is what earlier runs are believed to have
  // left there, counted until what is found takes its place.
  TDiskBudget(const TDirFd& root, int64_t maxBytes, int64_t minFree, int64_t estimated);

  // Raises EStorageLimit when bytes more would pass the quota or eat into the reserve, EDiskFull
  // when they do not fit on the disk at all.
  void Take(int64_t bytes);
  void Give(int64_t bytes);
  // Bytes found on disk (a folder of an earlier run): counted without a check, in place of the
  // estimate as far as it goes.
  void Count(int64_t bytes);
  // Every folder has been looked at: what the estimate had beyond what was found goes.
  void DropEstimate();
  int64_t Used();

 private:
  const TDirFd& FRoot;
  int64_t FMaxBytes;
  int64_t FMinFree;
  std::mutex FLock;
  TFoundCount FCount;  // guarded by FLock
};

// The change in bytes of one write: growth is taken at once and given back unless Keep() is
// called; shrinking is given back only by Keep(), once the write has happened.
class TBudgetCharge {
 public:
  TBudgetCharge(TDiskBudget& budget, int64_t bytes);
  TBudgetCharge(const TBudgetCharge&) = delete;
  TBudgetCharge& operator=(const TBudgetCharge&) = delete;
  ~TBudgetCharge();
  void Keep();

 private:
  TDiskBudget& FBudget;
  int64_t FBytes;
  bool FKept = false;
};

}  // namespace vorlen
