// What lies under the root, part of it only estimated at start-up (from the last record) until the
// look at earlier runs' folders finds it: what is found takes the place of the estimate as far as
// it goes. Not locked: the budget that holds it guards it.
#pragma once

#include <algorithm>
#include <cstdint>

namespace vorlen {

struct TFoundCount {
  explicit TFoundCount(int64_t estimated) : Used(estimated), Estimated(estimated) {}

  // Found on disk: counted, less what the estimate counted for it already.
  void Found(int64_t n) {
    const int64_t covered = std::min(Estimated, n);
    Estimated -= covered;
    Used += n - covered;
  }
  // Everything has been looked at: what the estimate had beyond what was found goes.
  void DropEstimate() {
    Used -= Estimated;
    Estimated = 0;
  }

  int64_t Used;
  int64_t Estimated;  // the part of Used not yet found
};

}  // namespace vorlen
