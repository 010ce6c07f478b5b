#include "server/BudgetHold.h"

#include <algorithm>

namespace vorlen {

void TBudgetHold::Resize(int64_t bytes) {
  bytes = std::max<int64_t>(bytes, 0);
  if (FBudget != nullptr) {
    if (bytes > FBytes) FBudget->Take(bytes - FBytes);
    if (bytes < FBytes) FBudget->Give(FBytes - bytes);
  }
  FBytes = bytes;
}

void TBudgetHold::Pass(int64_t bytes) { FBytes -= std::clamp<int64_t>(bytes, 0, FBytes); }

}  // namespace vorlen
