// Scratch space with its own temporary directory, and archive inspection for the archive
// component's tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "archive/ArchiveTestSupport.h"
#include "archive/ZLBArchive.h"
#include "platform/Paths.h"
#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "support/ScopedEnv.h"
#include "support/ScratchDir.h"

namespace vorlen::test {

namespace fs = std::filesystem;

// The variable that names the temporary directory (TMP is the first that GetTempPathW reads).
#ifdef _WIN32
inline constexpr const char* kTempVariable = "TMP";
#else
inline constexpr const char* kTempVariable = "TMPDIR";
#endif

// A scratch directory whose "tmp" subdirectory is the temporary directory while it lives, so
// that the component's temporary files can be counted there.
class TScratch : public TScratchDir {
 public:
  TScratch() : FTmp(kTempVariable, MakeTmp(Path())) {}
  // Names left in the component's temporary directory.
  std::vector<std::string> TempFiles() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(Path() / "tmp"))
      names.push_back(Utf8FromFsPath(item.path().filename()));
    return names;
  }

 private:
  // Made before TMPDIR names it.
  static std::string MakeTmp(const fs::path& root) {
    fs::create_directories(root / "tmp");
    return Utf8FromFsPath(root / "tmp");
  }
  TScopedEnv FTmp;  // restored before the directory goes
};

// Runs f and returns the message of the vorlen::Exception it raised ("" when none).
template <typename F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

inline std::string Repeat(const std::string& text, size_t times) {
  std::string result;
  for (size_t i = 0; i < times; ++i) result += text;
  return result;
}

// Packs files into a new archive at path.
inline void Pack(TZLBArchive& archive, const std::string& path, std::vector<std::string> files) {
  archive.CreateArchive(path);
  archive.AddFiles(files);
}

inline TArchiveTrailer TrailerOf(const std::string& archive) {
  TArchiveTrailer trailer{};
  std::memcpy(&trailer, archive.data() + archive.size() - kTrailerSize, kTrailerSize);
  return trailer;
}

inline std::string RecordBytes(const TArchiveEntry& entry) {
  return std::string(reinterpret_cast<const char*>(&entry), kEntrySize);
}

inline std::string Text(const TShortString& field) { return std::string(field.Text, field.Length); }

// Exposes the internal steps and the size limit.
class TTestArchive : public TZLBArchive {
 public:
  using TZLBArchive::FProgressDone;
  using TZLBArchive::FProgressMsg;
  using TZLBArchive::FProgressPhase;
  using TZLBArchive::FProgressTotal;
  using TZLBArchive::ReportProgress;
  using TZLBArchive::StreamCrc;
  using TZLBArchive::WriteRegistry;
  void SetSizeLimit(int64_t limit) { FSizeLimit = limit; }

  // Every temporary name handed out, to check that none is left behind.
  std::vector<std::string> TempNames;

 protected:
  std::string GetTempArchiveName() override {
    TempNames.push_back(TZLBArchive::GetTempArchiveName());
    return TempNames.back();
  }
};

}  // namespace vorlen::test
