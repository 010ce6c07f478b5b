// TZLBArchive writes archives of the system's own format (see ArchiveFormat.h): it starts a new
// archive or opens an existing one, adds files and directory trees, and reads the entry list back,
// checking the archive's checksum on the way. Failures raise EArchiveError (a vorlen::Exception)
// with fixed English texts; problems with single files during AddFiles go to OnErrorLogged
// instead.
//
// Typical use:
//   TZLBArchive archive;
//   archive.CreateArchive(path);
//   std::vector<std::string> files{source};
//   archive.AddFiles(files);   // writes, closes, re-opens and verifies the archive
//   archive.CloseArchive();
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "archive/ArchiveIndex.h"

namespace vorlen {

class TStream;
class TZLBArchive;
struct TCrc32Tables;

// What the current progress reports are about.
enum TProgressPhase : uint8_t { ppReadRegistry, ppCompressFile, ppWriteRegistry, ppIdle };

using TReplaceFileEvent = std::function<void(const std::string& Filename, bool& Replace)>;
using TFileExtractedEvent = std::function<void(const std::string& filename)>;
using TErrorLogEvent = std::function<void(const std::string& Msg)>;
using TProgressEvent = std::function<void(const std::string& Msg, int32_t Percentage)>;
using TArchiveNotifyEvent = std::function<void(TZLBArchive& Sender)>;

class TZLBArchive {
 public:
  TZLBArchive();
  TZLBArchive(const TZLBArchive&) = delete;
  TZLBArchive& operator=(const TZLBArchive&) = delete;
  // Closes the archive, if any; no progress is reported from here.
  virtual ~TZLBArchive();

  // Starts a new archive at FileName; nothing is written until AddFiles. An empty name leaves no
  // archive open; an existing file raises "File already exists".
  void CreateArchive(const std::string& FileName);
  // Opens an existing archive and reads its entry list. False for an empty name; raises
  // "Archive file not found", "Unable to open file (%s)",
  // "The archive file appears to be corrupted" or "Unable to read archive file list".
  bool OpenArchive(const std::string& FileName);
  // Forgets the current archive; harmless when none is open.
  void CloseArchive();
  // Adds files and directories (walked when RecursePaths is set) and rewrites the archive file.
  // Items are removed from Files as they are handled; on a normal end Files is empty. A file that
  // cannot be read, is 2 GiB or more, or changes size while it is read is skipped and reported
  // through OnErrorLogged. Raises "No archive is currently open" (Files untouched) and failures
  // to make the temporary output; later failures leave the archive file as it was and raise
  // nothing. The archive keeps the access rights of the file it replaces.
  void AddFiles(std::vector<std::string>& Files);
  // Index of the entry stored under Path's key (see AddFiles), comparing A-Z without case; -1
  // when there is none. Raises "No archive is currently open".
  int32_t IndexOfFile(const std::string& Path);

  // Current state.
  const std::string& ArchiveName() const { return FArchiveName; }
  bool IsNewArchive() const { return FNewArchive; }
  int32_t EntryCount() const { return static_cast<int32_t>(FEntries.size()); }
  const TArchiveTrailer& Trailer() const { return FTrailer; }

  // Properties.
  TFileCompressionLevel CompressionLevel = fcDefault;  // new members and the registry
  bool SavePaths = false;     // store each file's directory (drive removed)
  bool RecursePaths = false;  // walk directories named in the AddFiles list
  // Threads that compress members and the registry; 0: one per core. The archive's bytes do
  // not depend on it.
  int CompressionThreads = 0;

  // Events; an unassigned one is skipped.
  TArchiveNotifyEvent OnArchiveOpened;  // an archive was opened or a new one started
  TErrorLogEvent OnErrorLogged;         // a single file could not be added, or is a duplicate
  TProgressEvent OnProgress;            // progress of the current phase

  // Part of the component's published interface (the extraction side and entry copies);
  // nothing here reads, calls or raises them.
  bool ExtractWithPath = false;
  bool CheckCRC = false;
  TReplaceFileEvent OnReplaceFile;
  TFileExtractedEvent OnFileExtracted;
  TFileExtractedEvent OnStreamExtracted;
  // Copies entry Index; raises "Index out of bounds".
  void GetEntry(int32_t Index, TArchiveEntry& Entry) const;

 protected:
  // A new, empty temporary file (prefix "ZLB" in the system's temporary directory).
  virtual std::string GetTempArchiveName();
  // Appends the files below Dir to Files, those of each subdirectory before its parent's.
  virtual void AddDirectory(const std::string& Dir, std::vector<std::string>& Files);

  // Finished CRC-32 of Stream from offset 0 to Size - ExcludeTail; the position is kept.
  uint32_t StreamCrc(TStream& Stream, int32_t ExcludeTail);
  // Appends the registry and the trailer to Dest.
  void WriteRegistry(TStream& Dest);
  // One progress report for the current phase; Sender is the stream that notified.
  void ReportProgress(TStream* Sender);

  // Archives and members must stay below this size, since the format's sizes and offsets are
  // signed 32-bit. Tests lower it to check the rule with small files.
  int64_t FSizeLimit = kArchiveSizeLimit;

  // What the reports of the current phase carry (see ReportProgress).
  TProgressPhase FProgressPhase = ppIdle;
  std::string FProgressMsg;
  int32_t FProgressTotal = 0;
  int32_t FProgressDone = 0;

 private:
  void BuildCrcTable();
  // Adds Source to Output and appends its record; raises on any failure.
  void AddOneFile(const std::string& Source, TStream& Output);
  // Index of the entry whose stored path and name equal Key (stored form, A-Z without case).
  int32_t FindStoredKey(const std::string& Key) const;

  bool FNewArchive = false;
  std::string FArchiveName;
  TArchiveTrailer FTrailer{};
  std::vector<std::unique_ptr<TArchiveEntry>> FEntries;
  std::unique_ptr<TCrc32Tables> FCrcTable;  // the component's own copy of the CRC tables
  bool FDestroying = false;
};

}  // namespace vorlen
