#include "archive/ZLBArchive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "archive/ArchiveIndex.h"
#include "archive/ParallelCompressionStream.h"
#include "checksum/Checksum.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "platform/TempFileGuard.h"
#include "platform/TempFiles.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"

namespace vorlen {

namespace {

// Files above this size are compressed into a temporary file instead of memory.
constexpr int64_t kMemoryCompressLimit = 20971520;
// What is read of a member at a time.
constexpr int64_t kReadChunk = 1048576;

namespace fs = std::filesystem;

void RemoveFile(const std::string& path) {
  std::error_code error;
  fs::remove(FsPathFromUtf8(path), error);
}

std::string Cut255(std::string text) {
  if (text.size() > 255) text.resize(255);
  return text;
}

void SetShortString(TShortString& field, const std::string& text) {
  const std::string cut = Cut255(text);
  field.Length = static_cast<uint8_t>(cut.size());
  std::memcpy(field.Text, cut.data(), cut.size());
}

std::string ShortStringText(const TShortString& field) {
  return std::string(field.Text, field.Length);
}

// Lower-cases the letters A to Z only, as the archive's key comparison does.
std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The stored form of a directory part: ANSI, cut to 255 bytes, then (when wanted) without its
// drive, with backslashes.
std::string StoredDir(const std::string& dir, bool removeDrive) {
  std::string text = Cut255(AnsiFromUtf8(dir));
  if (removeDrive) text = RemoveDrive(text);
  return StoredPathFromNative(text);
}

std::string StoredName(const std::string& name) { return Cut255(AnsiFromUtf8(name)); }

// The access rights the archive is to have. Temporary files are made for their owner alone, so
// the rights come from the file being replaced or, for a new archive, from an empty file created
// at its name (which the rename then replaces); created is set in that case.
fs::perms TargetPermissions(const std::string& to, bool& created) {
  std::error_code error;
  const fs::file_status status = fs::status(FsPathFromUtf8(to), error);
  if (!error && fs::exists(status)) return status.permissions();
  RemoveFile(to);  // a link that leads nowhere is replaced like a file
  { TFileStream probe(to, TFileStream::fmCreateNew); }
  created = true;
  return fs::status(FsPathFromUtf8(to)).permissions();
}

// Puts the file from in the place of to with one rename, so there is never a moment without the
// target. A temporary file on another file system is first copied next to the target.
void ReplaceFile(const std::string& from, const std::string& to) {
  bool created = false;
  const fs::perms permissions = TargetPermissions(to, created);
  try {
    std::error_code error;
    fs::permissions(FsPathFromUtf8(from), permissions, error);
    fs::rename(FsPathFromUtf8(from), FsPathFromUtf8(to), error);
    if (!error) return;
    const std::string dir = ExtractFileDir(to);
    TTempFileGuard near(
        FsPathFromUtf8(CreateTempFile(dir.empty() ? std::string(".") : dir, "ZLB")));
    fs::copy_file(FsPathFromUtf8(from), near.Path(), fs::copy_options::overwrite_existing);
    fs::permissions(near.Path(), permissions, error);
    fs::rename(near.Path(), FsPathFromUtf8(to));
    near.Keep();
    RemoveFile(from);
  } catch (...) {
    if (created) RemoveFile(to);
    throw;
  }
}

}  // namespace

TZLBArchive::TZLBArchive() { BuildCrcTable(); }

TZLBArchive::~TZLBArchive() {
  FDestroying = true;
  if (!FArchiveName.empty()) CloseArchive();
}

void TZLBArchive::BuildCrcTable() {
  FCrcTable = std::make_unique<TCrc32Tables>();
  BuildCrc32Tables(*FCrcTable);
}

void TZLBArchive::CreateArchive(const std::string& FileName) {
  CloseArchive();
  if (FileName.empty()) return;
  if (PathExists(FileName)) throw EArchiveError("File already exists");
  FArchiveName = FileName;
  FNewArchive = true;
  if (OnArchiveOpened) OnArchiveOpened(*this);
}

bool TZLBArchive::OpenArchive(const std::string& FileName) {
  CloseArchive();
  FArchiveName = FileName;
  if (FileName.empty()) return false;
  const std::unique_ptr<TFileStream> file = OpenArchiveFile(FileName);

  bool listing = false;  // the checksum passed; what fails from here is the entry list
  try {
    TArchiveIndexReading reading;
    reading.MaxArchiveSize = FSizeLimit;
    reading.CrcTables = FCrcTable.get();
    reading.OnTrailer = [&](const TArchiveTrailer& trailer) {
      FTrailer = trailer;
      listing = true;
    };
    reading.OnRecord = [this](const TArchiveEntry& record) {
      FEntries.push_back(std::make_unique<TArchiveEntry>(record));
    };
    reading.OnProgress = [this](int64_t done, int64_t total) {
      FProgressPhase = ppReadRegistry;
      FProgressTotal = static_cast<int32_t>(total);
      FProgressDone = static_cast<int32_t>(done);
      FProgressMsg = "Extracting archive registry";
      ReportProgress(nullptr);
    };
    ReadArchiveIndex(*file, reading);
    if (OnArchiveOpened) OnArchiveOpened(*this);
  } catch (...) {
    if (!listing) {
      FArchiveName.clear();
      FTrailer = TArchiveTrailer{};
      throw;
    }
    CloseArchive();
    throw EArchiveError(kArchiveBadFileList);
  }

  FProgressPhase = ppIdle;
  ReportProgress(nullptr);
  return true;
}

void TZLBArchive::CloseArchive() {
  while (!FEntries.empty()) FEntries.pop_back();
  FNewArchive = false;
  FTrailer = TArchiveTrailer{};
  FArchiveName.clear();
  FProgressPhase = ppIdle;
  ReportProgress(nullptr);
}

void TZLBArchive::AddFiles(std::vector<std::string>& Files) {
  if (FArchiveName.empty()) throw EArchiveError("No archive is currently open");

  // Directory pass: directories are replaced by their files (or dropped without RecursePaths).
  for (size_t i = 0; i < Files.size();) {
    if (DirectoryExists(Files[i])) {
      const std::string dir = Files[i];
      if (RecursePaths) AddDirectory(dir, Files);
      Files.erase(Files.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }

  const std::string outputName = GetTempArchiveName();
  TTempFileGuard outputGuard(FsPathFromUtf8(outputName));
  auto output = std::make_unique<TFileStream>(outputName, TFileStream::fmOpenReadWrite);

  // Records appended by this run; they leave FEntries again unless the new file replaces the old.
  const size_t oldCount = FEntries.size();
  bool reopening = false;
  std::string archiveName = FArchiveName;
  try {
    if (!FNewArchive) {
      std::unique_ptr<TFileStream> old;
      try {
        old = std::make_unique<TFileStream>(FArchiveName, TFileStream::fmOpenRead);
      } catch (const EStreamError&) {
        throw Exception(Format("Unable to open file (%s)", FArchiveName.c_str()));
      }
      if (FTrailer.RegistryOffset > 0) output->CopyFrom(*old, FTrailer.RegistryOffset);
    }

    while (!Files.empty()) {
      const std::string source = Files.front();
      const std::string dir = ExtractFileDir(source);
      const std::string key =
          (SavePaths ? StoredDir(dir, true) : std::string()) + StoredName(ExtractFileName(source));
      if (FindStoredKey(key) >= 0 && OnErrorLogged)
        OnErrorLogged(Format("%s already exists in the archive", source.c_str()));
      const int64_t start = output->Position();
      try {
        AddOneFile(source, *output);
      } catch (...) {
        // Cut off whatever part of the member reached the output, so no stray bytes remain.
        try {
          output->SetSize(start);
          output->SetPosition(start);
        } catch (...) {}
        if (OnErrorLogged) OnErrorLogged(Format("Unable to open file (%s)", source.c_str()));
      }
      Files.erase(Files.begin());
    }

    WriteRegistry(*output);
    output.reset();
    ReplaceFile(outputName, archiveName);
    outputGuard.Keep();

    reopening = true;
    CloseArchive();
    OpenArchive(archiveName);
  } catch (...) {
    output.reset();
    if (reopening) {
      // The new archive did not read back; it is not kept. Closing clears the state before it
      // reports, so a progress handler that fails again changes nothing and stays in here.
      RemoveFile(archiveName);
      try {
        CloseArchive();
      } catch (...) {}
    } else {
      while (FEntries.size() > oldCount) FEntries.pop_back();
    }
  }
}

void TZLBArchive::AddOneFile(const std::string& Source, TStream& Output) {
  std::error_code error;
  if (!fs::is_regular_file(FsPathFromUtf8(Source), error)) throw Exception("not a regular file");
  TFileStream source(Source, TFileStream::fmOpenRead);
  const int64_t size = source.Size();
  if (size >= FSizeLimit) throw Exception("file too large for the archive");

  TTempFileGuard bufferGuard;  // declared first: the file is deleted after its stream is closed
  std::unique_ptr<TStream> buffer;
  if (size > kMemoryCompressLimit) {
    const std::string bufferName = GetTempArchiveName();
    bufferGuard.Reset(FsPathFromUtf8(bufferName));
    buffer = std::make_unique<TFileStream>(bufferName, TFileStream::fmCreate);
  } else {
    buffer = std::make_unique<TMemoryStream>();
  }

  FProgressPhase = ppCompressFile;
  FProgressTotal = static_cast<int32_t>(size);
  FProgressDone = 0;
  FProgressMsg = Format("Updating %s", Source.c_str());
  uint32_t crc = 0xFFFFFFFF;
  {
    TParallelCompressionStream writer(*buffer, ZlibLevel(CompressionLevel), CompressionThreads);
    writer.OnProgress = [this](TStream& sender) { ReportProgress(&sender); };
    // Exactly the bytes that FileSize will claim, even if someone is appending to the file. The
    // CRC-32 is taken in the same pass, of the very bytes compressed, which spares reading a
    // large file twice.
    source.SetPosition(0);
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(size, kReadChunk)));
    for (int64_t left = size; left > 0;) {
      const int64_t n = std::min<int64_t>(left, kReadChunk);
      source.ReadBuffer(chunk.data(), n);
      UpdateCrc32(*FCrcTable, chunk.data(), static_cast<uint32_t>(n), crc);
      writer.WriteBuffer(chunk.data(), n);
      left -= n;
    }
    writer.Finish();
  }
  buffer->SetPosition(0);

  auto entry = std::make_unique<TArchiveEntry>();
  std::memset(entry.get(), 0, sizeof(TArchiveEntry));
  entry->Crc = ~crc;
  SetShortString(entry->FileName, StoredName(ExtractFileName(Source)));
  if (SavePaths) SetShortString(entry->FilePath, StoredDir(ExtractFileDir(Source), true));
  entry->FileSize = static_cast<int32_t>(size);
  const int64_t offset = Output.Position();
  entry->DataOffset = static_cast<int32_t>(offset);

  const int64_t compressedSize = buffer->Size();
  const bool compressed = compressedSize < size;
  const int64_t storedSize = compressed ? compressedSize : size;
  // The member, the registry grown by one record and the trailer must all stay within the format's
  // signed 32-bit offsets.
  const int64_t registryBound =
      static_cast<int64_t>(compressBound(static_cast<uLong>((FEntries.size() + 1) * kEntrySize)));
  if (offset + storedSize + registryBound + kTrailerSize >= FSizeLimit)
    throw Exception("archive would grow too large");

  if (compressed) {
    Output.CopyFrom(*buffer, compressedSize);
    entry->StoredSize = static_cast<int32_t>(compressedSize);
    entry->StoredRaw = 0;
    entry->Level = static_cast<uint8_t>(CompressionLevel);
  } else {
    source.SetPosition(0);
    if (size > 0) Output.CopyFrom(source, size);
    entry->StoredSize = static_cast<int32_t>(size);
    entry->StoredRaw = 1;
    entry->Level = 0;
  }
  buffer.reset();
  // Where other writers are not locked out, a file that changed while it was read would get a
  // record whose Crc does not match its stored bytes; such a file is refused instead.
  if (source.Size() != size) throw Exception("the file changed while it was added");
  FEntries.push_back(std::move(entry));
}

int32_t TZLBArchive::IndexOfFile(const std::string& Path) {
  if (FArchiveName.empty()) throw EArchiveError("No archive is currently open");
  return FindStoredKey(StoredDir(ExtractFileDir(Path), SavePaths) +
                       StoredName(ExtractFileName(Path)));
}

int32_t TZLBArchive::FindStoredKey(const std::string& Key) const {
  const std::string wanted = LowerAscii(Key);
  for (size_t i = 0; i < FEntries.size(); ++i) {
    const TArchiveEntry& entry = *FEntries[i];
    if (LowerAscii(ShortStringText(entry.FilePath) + ShortStringText(entry.FileName)) == wanted)
      return static_cast<int32_t>(i);
  }
  return -1;
}

void TZLBArchive::GetEntry(int32_t Index, TArchiveEntry& Entry) const {
  if (Index < 0 || static_cast<size_t>(Index) >= FEntries.size())
    throw EArchiveError(kArchiveIndexOutOfBounds);
  std::memcpy(&Entry, FEntries[static_cast<size_t>(Index)].get(), sizeof(TArchiveEntry));
}

std::string TZLBArchive::GetTempArchiveName() { return CreateTempFile(SystemTempDir(), "ZLB"); }

void TZLBArchive::AddDirectory(const std::string& Dir, std::vector<std::string>& Files) {
  std::string dir = Dir;
  if (!dir.empty() && (dir.back() == PathDelim || dir.back() == '/')) dir.pop_back();

  struct TItem {
    std::string Name;
    bool Directory;
  };
  std::vector<TItem> items;
  try {
    // With the separator put back, so that a drive's root "C:\" does not become "C:", which is
    // the drive's current directory on Windows.
    for (const auto& item : fs::directory_iterator(FsPathFromUtf8(dir + PathDelim))) {
      std::error_code error;
      // Linked directories are not walked: a link back up the tree would never end.
      if (item.is_symlink(error) && item.is_directory(error)) continue;
      items.push_back({Utf8FromFsPath(item.path().filename()), item.is_directory(error)});
    }
  } catch (const fs::filesystem_error&) {
    throw EArchiveError(Format("Unable to read directory (%s)", Dir.c_str()));
  }
  // The platform's enumeration order is arbitrary; name order keeps archives reproducible.
  std::sort(items.begin(), items.end(),
            [](const TItem& a, const TItem& b) { return a.Name < b.Name; });

  std::vector<std::string> found;
  for (const TItem& item : items) {
    const std::string path = dir + PathDelim + item.Name;
    // A subdirectory's files come from the recursive call alone; listing the subdirectory as well
    // would have the directory pass walk it a second time.
    if (item.Directory) {
      if (RecursePaths) AddDirectory(path, Files);
    } else {
      found.push_back(path);
    }
  }
  Files.insert(Files.end(), found.begin(), found.end());
}

uint32_t TZLBArchive::StreamCrc(TStream& Stream, int32_t ExcludeTail) {
  return StreamCrc32(Stream, ExcludeTail, *FCrcTable);
}

void TZLBArchive::WriteRegistry(TStream& Dest) {
  TArchiveTrailer trailer{};
  const int64_t registryOffset = Dest.Size();
  trailer.RegistryOffset = static_cast<int32_t>(registryOffset);
  Dest.SetPosition(registryOffset);

  TMemoryStream records;
  for (const auto& entry : FEntries) records.WriteBuffer(entry.get(), kEntrySize);

  try {
    TParallelCompressionStream writer(Dest, ZlibLevel(CompressionLevel), CompressionThreads);
    FProgressPhase = ppWriteRegistry;
    FProgressTotal = static_cast<int32_t>(records.Size());
    FProgressDone = 0;
    FProgressMsg = "Writing archive registry";
    writer.OnProgress = [this](TStream& sender) { ReportProgress(&sender); };
    if (records.Size() > 0) writer.WriteBuffer(records.Memory(), records.Size());
    writer.Finish();
    trailer.RegistrySize = static_cast<int32_t>(Dest.Size() - registryOffset);
    trailer.RegistryCompressed = 1;
  } catch (...) {
    // Drop any part of the compressed registry, so the raw records start at RegistryOffset.
    Dest.SetSize(registryOffset);
    Dest.SetPosition(registryOffset);
    if (records.Size() > 0) Dest.WriteBuffer(records.Memory(), records.Size());
    trailer.RegistrySize = 0;
    trailer.RegistryCompressed = 0;
  }

  trailer.EntryCount = static_cast<int32_t>(FEntries.size());
  trailer.Marker = 1;
  trailer.ArchiveCrc = StreamCrc(Dest, 0);
  Dest.Seek(0, TSeekOrigin::skEnd);
  Dest.WriteBuffer(&trailer, kTrailerSize);
}

void TZLBArchive::ReportProgress(TStream* Sender) {
  if (FDestroying || !OnProgress) return;
  // done / total * 100 rounded to nearest, halves to even. Worked out in integers: in doubles
  // 23 / 40 * 100 comes out just below 57.5 and would round down.
  auto percent = [this](int64_t done) {
    if (FProgressTotal <= 0) return int32_t{0};
    const int64_t total = FProgressTotal;
    const int64_t scaled = done * 100;
    int64_t quotient = scaled / total;
    const int64_t twiceRest = 2 * (scaled % total);
    if (twiceRest > total || (twiceRest == total && quotient % 2 != 0)) ++quotient;
    return static_cast<int32_t>(quotient);
  };
  switch (FProgressPhase) {
    case ppReadRegistry:
      OnProgress(FProgressMsg, percent(FProgressDone));
      break;
    case ppCompressFile:
    case ppWriteRegistry:
      // The sender is the compressing writer; its position counts the bytes it has consumed.
      OnProgress(FProgressMsg, percent(Sender != nullptr ? Sender->Position() : FProgressDone));
      break;
    case ppIdle:
      OnProgress(FArchiveName, 0);
      break;
  }
}

}  // namespace vorlen
