// Bytes of a temporary file (a held request body, a received attachment) counted against the
// disk budget while the file exists: resized as it grows, given back when it is removed, or
// passed on to the file it becomes.
#pragma once

#include <cstdint>

#include "server/DiskBudget.h"

namespace vorlen {

class TBudgetHold {
 public:
  // budget may be null: then nothing is counted.
  explicit TBudgetHold(TDiskBudget* budget) : FBudget(budget) {}
  TBudgetHold(const TBudgetHold&) = delete;
  TBudgetHold& operator=(const TBudgetHold&) = delete;
  ~TBudgetHold() { Release(); }

  // Holds bytes from now on: growth is taken (EStorageLimit when it does not fit), the rest is
  // given back.
  void Resize(int64_t bytes);
  // bytes of the hold now belong to a file that stays: they remain taken, no longer held here.
  void Pass(int64_t bytes);
  // The files are gone: everything held is given back.
  void Release() { Resize(0); }
  int64_t Bytes() const { return FBytes; }

 private:
  TDiskBudget* FBudget;
  int64_t FBytes = 0;
};

}  // namespace vorlen
