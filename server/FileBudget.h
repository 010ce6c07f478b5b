// The files and folders the service may hold under its root: each takes an inode, and a file
// system runs out of inodes long before bytes when every file is empty. Operations take inodes
// before they make names and give them back when they remove them.
#pragma once

#include <cstdint>
#include <mutex>

#include "server/FoundCount.h"

namespace vorlen {

class TFileBudget {
 public:
  // estimated: the names earlier runs are believed to have left, counted until what is found
  // takes their place.
  TFileBudget(int64_t maxFiles, int64_t estimated);

  // Raises EStorageLimit (as the byte quota does) when count more would pass the quota. A file
  // system out of inodes before that is a full disk.
  void Take(int64_t count);
  void Give(int64_t count);
  // Names found on disk (a folder of an earlier run): counted without a check, in place of the
  // estimate as far as it goes.
  void Count(int64_t count);
  // Every folder has been looked at: what the estimate had beyond what was found goes.
  void DropEstimate();
  int64_t Used();

 private:
  // Adds count (checked against the quota when asked); the names counted after.
  int64_t Change(int64_t count, bool check);

  int64_t FMaxFiles;
  std::mutex FLock;
  TFoundCount FCount;  // guarded by FLock
};

// Names about to be made: taken at once and given back unless Keep() is called.
class TFileCharge {
 public:
  TFileCharge(TFileBudget& budget, int64_t count) : FBudget(budget), FCount(count) {
    FBudget.Take(FCount);
  }
  TFileCharge(const TFileCharge&) = delete;
  TFileCharge& operator=(const TFileCharge&) = delete;
  ~TFileCharge() {
    if (!FKept && FCount > 0) FBudget.Give(FCount);
  }
  void Keep() { FKept = true; }

 private:
  TFileBudget& FBudget;
  int64_t FCount;
  bool FKept = false;
};

}  // namespace vorlen
