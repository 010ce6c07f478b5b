#include "server/SessionState.h"

#include <cstdlib>
#include <optional>
#include <sstream>

#include "runtime/Format.h"

namespace vorlen {

const char* const kStateFileName = ".session";

namespace {

bool Flag(const std::string& value) { return value == "1"; }

}  // namespace

const TMergeRecord* TSessionState::FindMerge(const std::string& name) const {
  for (const TMergeRecord& merge : Merges) {
    if (merge.Name == name) return &merge;
  }
  return nullptr;
}

TSessionState TSessionState::Read(const TDirFd& folder) {
  TSessionState state;
  const std::optional<std::string> text = folder.ReadSmall(kStateFileName);
  if (!text) return state;
  std::istringstream lines(*text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "merged") {
      state.Merged = value;
    } else if (key == "packed") {
      state.Packed = Flag(value);
    } else if (key == "unpacked") {
      state.Unpacked = Flag(value);
    } else if (key == "ended") {
      state.Ended = Flag(value);
    } else if (key == "merge") {
      // "PARTS BYTES NAME": names hold no line ends, and may hold spaces.
      std::istringstream fields(value);
      TMergeRecord merge;
      if (!(fields >> merge.Parts >> merge.Bytes)) continue;
      fields.get();
      std::getline(fields, merge.Name);
      if (!merge.Name.empty()) state.Merges.push_back(std::move(merge));
    }
  }
  return state;
}

void TSessionState::Write(const TDirFd& folder) const {
  std::string text = "merged=" + Merged + "\npacked=" + (Packed ? "1" : "0") +
                     "\nunpacked=" + (Unpacked ? "1" : "0") + "\nended=" + (Ended ? "1" : "0") +
                     "\n";
  for (const TMergeRecord& merge : Merges) {
    text += Format("merge=%d %lld ", merge.Parts, static_cast<long long>(merge.Bytes)) +
            merge.Name + "\n";
  }
  folder.ReplaceAtomically(kStateFileName, text);
}

void CompleteUnpack(const TDirFd& folder, TSessionState& state,
                    const std::function<void(const char*)>& point) {
  const TDirFd delivered = folder.Sub("delivered", true);
  const TDirFd work = folder.Sub("work", true);
  const TDirFd archives = work.Sub("archive", true);
  // The archive moves before any member does, so while it is not in work/archive/ the file of
  // its name in delivered/ is the archive.
  if (!archives.Stat(state.Merged) && delivered.Stat(state.Merged)) {
    delivered.Rename(state.Merged, archives, state.Merged);
    archives.Sync();
    delivered.Sync();
  }
  if (point) point("unzip-archived");
  if (const std::optional<TDirFd> staged = work.TrySub("unzip")) {
    const std::vector<TDirEntry> members = staged->List();
    for (size_t i = 0; i < members.size(); ++i) {
      if (!members[i].IsFile) continue;
      staged->Rename(members[i].Name, delivered, members[i].Name);
      if (point && i == members.size() / 2) point("unzip-half");
    }
    delivered.Sync();
    work.RemoveTree("unzip");
  }
  state.Unpacked = true;
  state.Write(folder);
}

}  // namespace vorlen
