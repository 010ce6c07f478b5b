// What a session has done, kept in its folder (".session") so that a service started again after
// a kill knows it: the files merged, whether the last one is being or was unpacked, whether the
// send ended. Written atomically: a crash leaves the old or the new state whole.
//
// An unpacking goes in steps that each survive a kill: the members are written and flushed in
// work/unzip/ under their own names; the state says Packed; the archive moves from delivered/ to
// work/archive/; each member is renamed into delivered/; the state says Unpacked. Until then
// the archive stays in the session, and CompleteUnpack finishes what a kill left off.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "server/Descriptors.h"

namespace vorlen {

extern const char* const kStateFileName;  // ".session"

// One MergeFile that answered true: how many parts (the last index), its bytes, its name.
struct TMergeRecord {
  int32_t Parts = 0;
  int64_t Bytes = 0;
  std::string Name;
};

struct TSessionState {
  std::string Merged;     // the last merged file; empty before a merge
  bool Packed = false;    // Merged is being unpacked or was: its archive is in work/archive/
  bool Unpacked = false;  // every member of Merged is in delivered/
  bool Ended = false;     // DelTempFiles answered: the session takes nothing more
  std::vector<TMergeRecord> Merges;

  const TMergeRecord* FindMerge(const std::string& name) const;
  // True when the session holds an acknowledged file (merged, or the members of one).
  bool HoldsDelivery() const { return !Merges.empty(); }

  // The state in a session's folder; the empty state when there is none yet.
  static TSessionState Read(const TDirFd& folder);
  void Write(const TDirFd& folder) const;
};

// Finishes an unpacking whose state says Packed: moves the archive out of delivered/ (a member
// may carry its name) unless it is gone already, then every staged member into delivered/,
// and records Unpacked. Each step may be repeated after a kill. point is called with the name
// of each step once it is done (for tests that stop the service there).
void CompleteUnpack(const TDirFd& folder, TSessionState& state,
                    const std::function<void(const char*)>& point = {});

}  // namespace vorlen
