#include "server/SenderServer.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

#include "archive/ArchiveReader.h"
#include "checksum/Checksum.h"
#include "platform/Paths.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"
#include "server/FileConcat.h"
#include "server/FileNames.h"

namespace fs = std::filesystem;

namespace vorlen {

namespace {

// A whole part in one read.
constexpr int64_t kCrcBlock = 256 * 1024;
// What any archive may unpack to, whatever its size: the unpack ratio matters for large ones.
constexpr int64_t kUnzipAllowance = int64_t{1} << 20;
// What the smallest file takes on disk.
constexpr int64_t kMemberBlock = 4096;

uint32_t FileCrc(const fs::path& path) {
  TFileStream file(Utf8FromFsPath(path), TFileStream::fmOpenRead);
  // Not zero-filled: it is overwritten before every use.
  const auto block = std::make_unique_for_overwrite<uint8_t[]>(kCrcBlock);
  uint32_t crc = 0xFFFFFFFF;
  for (;;) {
    const int64_t n = file.Read(block.get(), kCrcBlock);
    if (n <= 0) break;
    UpdateCrc32(block.get(), static_cast<uint32_t>(n), crc);
  }
  return ~crc;
}

// Eight hexadecimal digits in either case; anything else matches no checksum.
bool ParseHash(const std::string& text, uint32_t& value) {
  if (text.size() != 8) return false;
  value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return true;
}

// Moves a complete received file into target as name, replacing an older one. Falls back to a
// copy through work when the file lies on another file system.
void MoveInto(const fs::path& received, const TDirFd& target, const std::string& name,
              const TDirFd& work) {
  if (target.RenameFrom(received, name)) return;
  std::optional<TFd> fd =
      TDirFd::OpenPath(received.parent_path()).OpenRead(Utf8FromFsPath(received.filename()));
  if (!fd) throw Exception(Format("Cannot read %s", Utf8FromFsPath(received).c_str()));
  TPendingFile copy(work, kPendingPrefix);
  TFileConcat(copy.Fd(), copy.Name()).Append(*fd, Utf8FromFsPath(received));
  copy.Commit(target, name);
  std::error_code ignored;
  fs::remove(received, ignored);
}

// The size of the plain file name in folder; 0 when there is none.
int64_t FileSize(const TDirFd& folder, const std::string& name) {
  const std::optional<TDirEntry> entry = folder.Stat(name);
  return entry && entry->IsFile ? entry->Size : 0;
}

// Bytes in a delivery folder, leaving out the files that are about to be replaced or moved.
int64_t DeliveredBytes(const TDirFd& delivered, const std::set<std::string>& leaving) {
  int64_t total = 0;
  for (const TDirEntry& entry : delivered.List()) {
    if (entry.IsFile && leaving.count(entry.Name) == 0) total += entry.Size;
  }
  return total;
}

// The bounds of one unpacking, checked on the archive's entry list before anything is written:
// how many files it makes, and how far it expands.
// The reader refuses, before it writes or holds anything, an archive with more members or more
// unpacked bytes than the service allows; that is the service's limit, not a damaged archive.
std::unique_ptr<TArchiveReader> OpenWithinLimits(const std::string& path, int64_t archiveBytes,
                                                 const TServiceLimits& limits) {
  TArchiveLimits bounds;
  bounds.MaxMembers = static_cast<uint64_t>(std::max<int64_t>(limits.MaxUnzipFiles, 0));
  bounds.MaxExtractedBytes =
      static_cast<uint64_t>(std::max(kUnzipAllowance, archiveBytes * limits.MaxUnzipRatio));
  try {
    return std::make_unique<TArchiveReader>(path, bounds);
  } catch (const EArchiveLimit& e) {
    throw EStorageLimit(e.Message());
  }
}

}  // namespace

TSenderServer::TSenderServer(const fs::path& root, TServiceLimits limits)
    : FStore(root, limits), FLimits(limits) {}

TSenderServer::TAccess TSenderServer::Enter(std::shared_ptr<TSession> session, bool shared) {
  std::unique_lock<std::shared_mutex> alone(session->Lock, std::defer_lock);
  std::shared_lock<std::shared_mutex> together(session->Lock, std::defer_lock);
  if (shared)
    together.lock();
  else
    alone.lock();
  if (session->Gone) throw EUnknownSession(Format("Unknown session '%s'", session->Id().c_str()));
  TDirFd folder = FStore.OpenFolder(*session);
  return TAccess{std::move(session), std::move(alone), std::move(together), std::move(folder)};
}

void TSenderServer::Refuse(const std::string& sess, const char* operation,
                           const std::string& reason) {
  if (OnRefusal) OnRefusal(sess, operation, reason);
}

void TSenderServer::Point(const char* name) const {
  if (OnPoint) OnPoint(name);
}

bool TSenderServer::Sealed(const TSession& session, const char* operation) {
  if (!session.State.Ended) return false;
  Refuse(session.Id(), operation, "The send of this session has ended");
  return true;
}

fs::path TSenderServer::SessionFolder(const std::string& sess) {
  return FStore.Find(sess)->Folder();
}

std::string TSenderServer::GetSession(const std::string& peer) { return FStore.Create(peer)->Id(); }

void TSenderServer::Place(const fs::path& received, int64_t size, TBudgetHold* counted,
                          const TDirFd& target, const std::string& name, const TDirFd& work) {
  // A received file counted already becomes the stored one as it is renamed: no byte more.
  if (counted != nullptr && target.RenameFrom(received, name)) {
    counted->Pass(size);
    return;
  }
  TBudgetCharge charge(FStore.Budget(), size);
  MoveInto(received, target, name, work);
  charge.Keep();
  // A copy was made and the received file removed.
  if (counted != nullptr) counted->Resize(counted->Bytes() - size);
}

bool TSenderServer::UploadFilePart(const std::string& sess, const std::string& partName,
                                   const std::string& hash, const fs::path& received,
                                   TBudgetHold* counted) {
  auto found = FStore.Find(sess);
  if (!IsBareFileName(partName)) return false;
  const bool details = partName == kDetailsFileName;
  // A part without its checksum could be anything; the client sends none only for the details.
  if (hash.empty() && !details) return false;
  if (!hash.empty()) {
    uint32_t expected;
    if (!ParseHash(hash, expected) || FileCrc(received) != expected) return false;
  }
  const auto size = static_cast<int64_t>(fs::file_size(received));

  if (!details) {
    TAccess access = Enter(std::move(found), true);
    if (Sealed(*access.Session, "UploadFilePart")) return false;
    return StorePart(access, partName, received, size, counted);
  }
  TAccess access = Enter(std::move(found));
  if (Sealed(*access.Session, "UploadFilePart")) return false;
  // Who sent a delivered file must not change once it is acknowledged.
  if (access.Session->State.HoldsDelivery()) {
    Refuse(sess, "UploadFilePart", "sendDetails.txt is not replaced once a file was delivered");
    return false;
  }
  const TDirFd work = access.Folder.Sub("work", true);
  // The details file is part of the inbox: on disk before the answer. The new one counts in
  // full until the old one is gone.
  const int64_t oldSize = FileSize(access.Folder, kDetailsFileName);
  TFileCharge file(FStore.Files(), access.Folder.Stat(kDetailsFileName) ? 0 : 1);
  SyncFile(received);
  Place(received, size, counted, access.Folder, kDetailsFileName, work);
  FStore.SyncFolder(access.Folder);
  file.Keep();
  FStore.Budget().Give(oldSize);
  return true;
}

bool TSenderServer::StorePart(TAccess& access, const std::string& partName,
                              const fs::path& received, int64_t size, TBudgetHold* counted) {
  TSession& session = *access.Session;
  const TDirFd work = access.Folder.Sub("work", true);
  const TDirFd parts = access.Folder.Sub("parts", true);
  // One request at a time for a name: a second would count and replace the same file. The
  // client's next attempt comes once this one has answered.
  {
    std::lock_guard<std::mutex> guard(session.PartLock);
    if (!session.Storing.insert(partName).second) return false;
  }
  struct TStoring {
    TSession& Session;
    const std::string& Name;
    ~TStoring() {
      std::lock_guard<std::mutex> guard(Session.PartLock);
      Session.Storing.erase(Name);
    }
  } storing{session, partName};

  // While the name is held no one else changes this file, so its size holds until the move.
  const std::optional<TDirEntry> existing = parts.Stat(partName);
  if (existing && existing->IsFolder) return false;
  const int64_t oldSize = existing ? existing->Size : 0;
  const int64_t countChange = existing ? 0 : 1;
  {
    // The bounds count this part from here, so parts stored side by side cannot pass them.
    std::lock_guard<std::mutex> guard(session.PartLock);
    const int64_t count = session.PartCount + countChange;
    const int64_t bytes = session.PartBytes - oldSize + size;
    if (count > FLimits.MaxParts || bytes > FLimits.MaxDelivered) return false;
    session.PartCount = count;
    session.PartBytes = bytes;
  }
  try {
    if (OnPartStoring) OnPartStoring(partName);
    // Both files are on disk until the move replaces the old one.
    TFileCharge file(FStore.Files(), countChange);
    Place(received, size, counted, parts, partName, work);
    file.Keep();
    FStore.Budget().Give(oldSize);
  } catch (...) {
    std::lock_guard<std::mutex> guard(session.PartLock);
    session.PartCount -= countChange;
    session.PartBytes -= size - oldSize;
    throw;
  }
  return true;
}

bool TSenderServer::MergeFile(int32_t parts, const std::string& fileName, const std::string& sess) {
  auto found = FStore.Find(sess);
  if (parts < 0 || static_cast<int64_t>(parts) + 1 > FLimits.MaxParts) return false;
  if (!IsBareFileName(fileName)) return false;

  TAccess access = Enter(std::move(found));
  TSession& session = *access.Session;
  if (Sealed(session, "MergeFile")) return false;
  const TDirFd delivered = access.Folder.Sub("delivered", true);
  const std::optional<TDirEntry> existing = delivered.Stat(fileName);
  if (const TMergeRecord* merge = session.State.FindMerge(fileName)) {
    // Asked again (the answer may have been lost): what is delivered is the answer.
    // Recorded but not yet renamed into place when the service stopped: merged again below.
    const bool interrupted = !existing && session.State.Merged == fileName && !session.State.Packed;
    if (merge->Parts != parts) {
      Refuse(sess, "MergeFile", Format("%s is delivered already", fileName.c_str()));
      return false;
    }
    if (!interrupted) return true;
  } else if (existing) {
    Refuse(sess, "MergeFile", Format("%s is delivered already", fileName.c_str()));
    return false;
  }

  // Every part is looked at before anything is written; they are opened one at a time while
  // copying, so a merge holds two descriptors whatever its part count.
  const TDirFd partsDir = access.Folder.Sub("parts", true);
  std::vector<std::string> names;
  int64_t total = 0;
  for (int32_t i = 0; i <= parts; ++i) {
    names.push_back(PartFileName(fileName, i));
    const std::optional<TDirEntry> part = partsDir.Stat(names.back());
    if (!part || !part->IsFile) return false;
    total += part->Size;
    if (total > FLimits.MaxDelivered) return false;
  }
  if (DeliveredBytes(delivered, {fileName}) + total > FLimits.MaxDelivered) return false;

  const TDirFd work = access.Folder.Sub("work", true);
  TBudgetCharge charge(FStore.Budget(), total);
  TFileCharge file(FStore.Files(), existing ? 0 : 1);
  TPendingFile merged(work, kPendingPrefix);
  const std::string mergedName = Utf8FromFsPath(work.Path() / merged.Name());
  TFileConcat concat(merged.Fd(), mergedName);
  for (const std::string& name : names) {
    // Opened without following links: a part must be a plain file of this session. Parts are
    // stored only while the session is shared, so none changed since it was looked at.
    const std::optional<TFd> part = partsDir.OpenRead(name);
    if (!part) return false;
    concat.Append(*part, Utf8FromFsPath(partsDir.Path() / name));
  }
  if (merged.Fd().Size() != total) {
    throw Exception(Format("%s is not the size of its parts", mergedName.c_str()));
  }
  Point("merge-written");
  // Recorded before the rename: a kill in between leaves a record whose file a repeated merge
  // writes again, never a delivered file the session does not know.
  TSessionState state = session.State;
  state.Merged = fileName;
  state.Packed = false;
  state.Unpacked = false;
  if (!state.FindMerge(fileName)) state.Merges.push_back(TMergeRecord{parts, total, fileName});
  FStore.SetState(session, access.Folder, state);
  Point("merge-recorded");
  merged.Commit(delivered, fileName);
  delivered.Sync();
  FStore.SyncFolder(access.Folder);
  charge.Keep();
  file.Keep();
  Point("merge-committed");
  return true;
}

bool TSenderServer::UnZip(const std::string& sess) {
  TAccess access = Enter(FStore.Find(sess));
  TSession& session = *access.Session;
  if (Sealed(session, "UnZip")) return false;
  if (session.State.Merged.empty()) {
    Refuse(sess, "UnZip", "Nothing merged to unpack");
    return false;
  }
  // Done already, or begun before a crash: the members are delivered without another look.
  if (session.State.Packed) {
    if (!session.State.Unpacked) {
      TSessionState state = session.State;
      CompleteUnpack(access.Folder, state, OnPoint);
      session.State = state;
    }
    return true;
  }
  const std::string& archiveName = session.State.Merged;
  const TDirFd delivered = access.Folder.Sub("delivered", true);
  const TDirFd work = access.Folder.Sub("work", true);
  const std::optional<TFd> archive = delivered.OpenRead(archiveName);
  if (!archive) {
    Refuse(sess, "UnZip", Format("%s is gone", archiveName.c_str()));
    return false;
  }

  // What a failed attempt staged goes with it.
  work.RemoveTree("unzip");
  struct TStaging {
    const TDirFd& Work;
    bool Kept = false;
    ~TStaging() {
      if (Kept) return;
      try {
        Work.RemoveTree("unzip");
      } catch (const std::exception&) {
        // Removed at the next start.
      }
    }
  } staging{work};
  std::optional<TBudgetCharge> charge;
  std::optional<TFileCharge> files;
  try {
    const std::unique_ptr<TArchiveReader> opened =
        OpenWithinLimits(archive->ProcPath(), archive->Size(), FLimits);
    TArchiveReader& reader = *opened;
    // A delivered file is never replaced; the archive itself is, as it moves away.
    std::set<std::string> taken;
    for (const TDirEntry& entry : delivered.List()) {
      if (entry.Name != archiveName) taken.insert(FileNameKey(entry.Name));
    }
    std::map<std::string, size_t> seen;
    std::vector<std::string> names;
    int64_t total = 0;
    int64_t blocks = 0;
    for (size_t i = 0; i < reader.Entries().size(); ++i) {
      std::string name = reader.RelativePath(i);
      if (const std::string fault = FileNameFault(name); !fault.empty()) {
        throw EArchiveError(Format("Member %s %s", name.c_str(), fault.c_str()));
      }
      // Where the inbox is shared to Windows or macOS, names that fold to one are one file.
      const std::string folded = FileNameKey(name);
      if (const auto [other, fresh] = seen.emplace(folded, i); !fresh) {
        throw EArchiveError(Format("Members %s and %s would be one file on Windows or macOS",
                                   reader.RelativePath(other->second).c_str(), name.c_str()));
      }
      if (taken.count(folded) != 0) {
        throw EArchiveError(Format("Member %s would replace a delivered file", name.c_str()));
      }
      total += reader.Entries()[i].FileSize;
      // Each member takes a block and an inode however small it is: empty members are no
      // cheaper for the disk.
      blocks += std::max<int64_t>(reader.Entries()[i].FileSize, kMemberBlock);
      names.push_back(std::move(name));
    }
    if (total > FLimits.MaxDelivered ||
        DeliveredBytes(delivered, {archiveName}) + total > FLimits.MaxDelivered) {
      throw EArchiveError(Format("The members' %lld bytes do not fit in the session's %lld",
                                 static_cast<long long>(total),
                                 static_cast<long long>(FLimits.MaxDelivered)));
    }
    // The archive stays on disk beside its members.
    charge.emplace(FStore.Budget(), blocks);
    // The members, and the folder the archive moves to.
    files.emplace(FStore.Files(), static_cast<int64_t>(names.size()) + 1);
    // Each member is written, flushed and closed before the next: one descriptor at a time.
    const TDirFd staged = work.Sub("unzip", true);
    for (size_t i = 0; i < names.size(); ++i) {
      TPendingFile member(staged, kPendingPrefix);
      TFdWriteStream out(member.Fd());
      reader.ExtractMember(i, out);
      member.Commit(staged, names[i]);
    }
    staged.Sync();
    work.Sync();
  } catch (const EServiceLimit&) {
    throw;
  } catch (const std::exception& e) {
    Refuse(sess, "UnZip", e.what());
    return false;
  }
  Point("unzip-staged");

  // Everything is verified and written. From here on the unpacking is finished, by this call or
  // after a crash by the next start.
  TSessionState state = session.State;
  state.Packed = true;
  FStore.SetState(session, access.Folder, state);
  staging.Kept = true;
  charge->Keep();
  files->Keep();
  Point("unzip-packed");
  CompleteUnpack(access.Folder, state, OnPoint);
  session.State = state;
  FStore.SyncFolder(access.Folder);
  return true;
}

bool TSenderServer::DelTempFiles(const std::string& sess) {
  TAccess access = Enter(FStore.Find(sess));
  TSession& session = *access.Session;
  // The folder stays; without a delivery or a details file it goes once idle.
  if (session.State.Ended) {
    if (session.State.HoldsDelivery()) FStore.Release(access.Session);
    return true;
  }
  TSessionState state = session.State;
  FStore.RemoveTemporary(access.Folder, state);
  session.PartCount = 0;
  session.PartBytes = 0;
  state.Ended = true;
  if (state.HoldsDelivery()) {
    // Done: its end is kept on disk, and its place is free at once.
    FStore.SetState(session, access.Folder, state);
    FStore.Release(access.Session);
  } else {
    // Nothing to protect: the end stays in memory, and the session counts until it is reclaimed
    // (ending sends must not make sessions free); a restart before then finds an idle folder.
    // Written, the end would cost a synced write per session to whoever opens and ends sessions
    // in a loop.
    session.State = state;
  }
  return true;
}

}  // namespace vorlen
