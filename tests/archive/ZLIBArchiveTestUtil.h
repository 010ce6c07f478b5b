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
#include "archive/ZLIBArchive.h"
#include "runtime/Exception.h"
#include "runtime/Stream.h"

namespace vorlen::testing {

namespace fs = std::filesystem;

// The variable that names the temporary directory (TMP is the first that GetTempPathW reads).
#ifdef _WIN32
constexpr const char* kTempVariable = "TMP";
#else
constexpr const char* kTempVariable = "TMPDIR";
#endif

inline void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  if (value.empty()) ::unsetenv(name);
  else ::setenv(name, value.c_str(), 1);
#endif
}

// A fresh directory for one test, removed with everything in it afterwards. TMPDIR points into
// its "tmp" subdirectory, so the component's temporary files can be counted there.
class TScratch {
 public:
  TScratch() : FRoot(FDir.Path().string()) {
    const char* old = std::getenv(kTempVariable);
    FOldTmp = old != nullptr ? old : "";
    fs::create_directories(FRoot + "/tmp");
    SetEnv(kTempVariable, FRoot + "/tmp");
  }
  ~TScratch() { SetEnv(kTempVariable, FOldTmp); }
  const std::string& Root() const { return FRoot; }
  std::string Path(const std::string& name) const { return FRoot + "/" + name; }
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string path = Path(name);
    fs::create_directories(U(path).parent_path());
    std::ofstream(U(path), std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  // Names left in the component's temporary directory.
  std::vector<std::string> TempFiles() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(FRoot + "/tmp")) names.push_back(item.path().filename().string());
    return names;
  }

 private:
  TTempDir FDir;  // made before TMPDIR moves into it, removed after it is restored
  std::string FRoot;
  std::string FOldTmp;
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
  using TZLBArchive::ReportProgress;
  using TZLBArchive::StreamCrc;
  using TZLBArchive::WriteRegistry;
  using TZLBArchive::FProgressDone;
  using TZLBArchive::FProgressMsg;
  using TZLBArchive::FProgressPhase;
  using TZLBArchive::FProgressTotal;
  void SetSizeLimit(int64_t limit) { FSizeLimit = limit; }

  // Every temporary name handed out, to check that none is left behind.
  std::vector<std::string> TempNames;

 protected:
  std::string GetTempArchiveName() override {
    TempNames.push_back(TZLBArchive::GetTempArchiveName());
    return TempNames.back();
  }
};

}  // namespace vorlen::testing
