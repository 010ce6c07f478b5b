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
  std::vector<TSourceFile> sources;
  std::optional<TFd> fd =
      TDirFd::OpenPath(received.parent_path()).OpenRead(Utf8FromFsPath(received.filename()));
  if (!fd) throw Exception(Format("Cannot read %s", Utf8FromFsPath(received).c_str()));
  sources.push_back(TSourceFile{std::move(*fd), Utf8FromFsPath(received)});
  TPendingFile copy(work, kPendingPrefix);
  AppendFiles(sources, copy.Fd(), copy.Name());
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

fs::path TSenderServer::SessionFolder(const std::string& sess) {
  return FStore.Find(sess)->Folder();
}

std::string TSenderServer::GetSession(const std::string& peer) { return FStore.Create(peer)->Id(); }

bool TSenderServer::UploadFilePart(const std::string& sess, const std::string& partName,
                                   const std::string& hash, const fs::path& received) {
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
    return StorePart(access, partName, received, size);
  }
  TAccess access = Enter(std::move(found));
  const TDirFd work = access.Folder.Sub("work", true);
  // The details file is part of the inbox: on disk before the answer.
  TBudgetCharge charge(FStore.Budget(), size - FileSize(access.Folder, kDetailsFileName));
  SyncFile(received);
  MoveInto(received, access.Folder, kDetailsFileName, work);
  FStore.SyncFolder(access.Folder);
  charge.Keep();
  return true;
}

bool TSenderServer::StorePart(TAccess& access, const std::string& partName,
                              const fs::path& received, int64_t size) {
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
    TBudgetCharge charge(FStore.Budget(), size - oldSize);
    MoveInto(received, parts, partName, work);
    charge.Keep();
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
  const TDirFd partsDir = access.Folder.Sub("parts", true);
  std::vector<TSourceFile> sources;
  int64_t total = 0;
  for (int32_t i = 0; i <= parts; ++i) {
    const std::string name = PartFileName(fileName, i);
    // Opened without following links: a part must be a plain file of this session.
    std::optional<TFd> part = partsDir.OpenRead(name);
    if (!part) return false;
    total += part->Size();
    if (total > FLimits.MaxDelivered) return false;
    sources.push_back(TSourceFile{std::move(*part), Utf8FromFsPath(partsDir.Path() / name)});
  }
  const TDirFd delivered = access.Folder.Sub("delivered", true);
  const std::optional<TDirEntry> existing = delivered.Stat(fileName);
  if (existing && existing->IsFolder) return false;
  if (DeliveredBytes(delivered, {fileName}) + total > FLimits.MaxDelivered) return false;

  const TDirFd work = access.Folder.Sub("work", true);
  TBudgetCharge charge(FStore.Budget(), total - (existing ? existing->Size : 0));
  TPendingFile merged(work, kPendingPrefix);
  AppendFiles(sources, merged.Fd(), Utf8FromFsPath(work.Path() / merged.Name()));
  merged.Commit(delivered, fileName);
  delivered.Sync();
  FStore.SyncFolder(access.Folder);
  charge.Keep();
  access.Session->MergedName = fileName;
  access.Session->Unpacked = false;
  FStore.Close(*access.Session);
  return true;
}

bool TSenderServer::UnZip(const std::string& sess) {
  TAccess access = Enter(FStore.Find(sess));
  TSession& session = *access.Session;
  if (session.MergedName.empty()) {
    Refuse(sess, "UnZip", "Nothing merged to unpack");
    return false;
  }
  const TDirFd delivered = access.Folder.Sub("delivered", true);
  const TDirFd work = access.Folder.Sub("work", true);
  std::optional<TDirFd> archiveDir = work.TrySub("archive");
  std::optional<TFd> archive;
  if (!session.Unpacked)
    archive = delivered.OpenRead(session.MergedName);
  else if (archiveDir)
    archive = archiveDir->OpenRead(session.MergedName);
  if (!archive) {
    Refuse(sess, "UnZip", Format("%s is gone", session.MergedName.c_str()));
    return false;
  }

  std::vector<std::string> names;
  std::vector<std::unique_ptr<TPendingFile>> extracted;
  std::optional<TBudgetCharge> charge;
  try {
    const std::unique_ptr<TArchiveReader> opened =
        OpenWithinLimits(archive->ProcPath(), archive->Size(), FLimits);
    TArchiveReader& reader = *opened;
    std::map<std::string, size_t> seen;
    int64_t total = 0;
    for (size_t i = 0; i < reader.Entries().size(); ++i) {
      std::string name = reader.RelativePath(i);
      if (const std::string fault = FileNameFault(name); !fault.empty()) {
        throw EArchiveError(Format("Member %s %s", name.c_str(), fault.c_str()));
      }
      // Where the inbox is shared to Windows or macOS, names that fold to one are one file.
      if (const auto [other, fresh] = seen.emplace(FileNameKey(name), i); !fresh) {
        throw EArchiveError(Format("Members %s and %s would be one file on Windows or macOS",
                                   reader.RelativePath(other->second).c_str(), name.c_str()));
      }
      total += reader.Entries()[i].FileSize;
      names.push_back(std::move(name));
    }
    // The members replace the archive (which moves away) and earlier files of their names.
    std::set<std::string> leaving(names.begin(), names.end());
    int64_t replaced = 0;
    for (const std::string& name : names) {
      if (session.Unpacked || name != session.MergedName) replaced += FileSize(delivered, name);
    }
    if (!session.Unpacked) {
      leaving.insert(session.MergedName);
      if (archiveDir) replaced += FileSize(*archiveDir, session.MergedName);
    }
    if (total > FLimits.MaxDelivered ||
        DeliveredBytes(delivered, leaving) + total > FLimits.MaxDelivered) {
      throw EArchiveError(Format("The members' %lld bytes do not fit in the session's %lld",
                                 static_cast<long long>(total),
                                 static_cast<long long>(FLimits.MaxDelivered)));
    }
    charge.emplace(FStore.Budget(), total - replaced);
    for (size_t i = 0; i < names.size(); ++i) {
      extracted.push_back(std::make_unique<TPendingFile>(work, kPendingPrefix));
      TFdWriteStream out(extracted.back()->Fd());
      reader.ExtractMember(i, out);
    }
  } catch (const EServiceLimit&) {
    throw;
  } catch (const std::exception& e) {
    Refuse(sess, "UnZip", e.what());
    return false;
  }

  // Everything is verified and written: move the archive out of the way (a member may carry
  // its name), then deliver the members.
  if (!session.Unpacked) {
    if (!archiveDir) archiveDir = work.Sub("archive", true);
    delivered.Rename(session.MergedName, *archiveDir, session.MergedName);
    session.Unpacked = true;
  }
  for (size_t i = 0; i < names.size(); ++i) extracted[i]->Commit(delivered, names[i]);
  delivered.Sync();
  FStore.SyncFolder(access.Folder);
  charge->Keep();
  return true;
}

bool TSenderServer::DelTempFiles(const std::string& sess) {
  TAccess access = Enter(FStore.Find(sess));
  TSession& session = *access.Session;
  // The folder stays: a stopped client still sends its details file. Without a delivery it goes
  // once idle.
  // work/ holds only temporary files and the archive of a successful UnZip.
  for (const char* sub : {"parts", "work"}) {
    if (const std::optional<TDirFd> dir = access.Folder.TrySub(sub)) {
      const int64_t bytes = dir->TreeBytes();
      access.Folder.RemoveTree(sub);
      FStore.Budget().Give(bytes);
    }
    access.Folder.Sub(sub, true);
  }
  session.PartCount = 0;
  session.PartBytes = 0;
  if (session.Unpacked) {
    session.MergedName.clear();
    session.Unpacked = false;
  }
  FStore.Close(session);
  return true;
}

}  // namespace vorlen
