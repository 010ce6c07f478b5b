// Scratch directories, files and archive inspection for the archive component's tests.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "archive/ZLIBArchive.h"
#include "platform/TempFiles.h"
#include "runtime/Stream.h"

namespace vorlen::testing {

namespace fs = std::filesystem;

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
  TScratch() {
    const char* old = std::getenv("TMPDIR");
    FOldTmp = old != nullptr ? old : "";
    FRoot = CreateTempFile(SystemTempDir(), "vorlen-archive-test-");
    fs::remove(FRoot);
    fs::create_directories(FRoot + "/tmp");
    SetEnv("TMPDIR", FRoot + "/tmp");
  }
  ~TScratch() {
    SetEnv("TMPDIR", FOldTmp);
    std::error_code error;
    fs::remove_all(FRoot, error);
  }
  const std::string& Root() const { return FRoot; }
  std::string Path(const std::string& name) const { return FRoot + "/" + name; }
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string path = Path(name);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  // Names left in the component's temporary directory.
  std::vector<std::string> TempFiles() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(FRoot + "/tmp")) names.push_back(item.path().filename().string());
    return names;
  }

 private:
  std::string FOldTmp;
  std::string FRoot;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline uint32_t ZlibCrc(const std::string& bytes) {
  return static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// Inflates one zlib stream with zlib itself; expectedSize is the exact inflated size.
inline std::string Inflate(const std::string& stream, size_t expectedSize) {
  std::string out(expectedSize, '\0');
  uLongf outSize = static_cast<uLongf>(expectedSize);
  const int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &outSize,
                            reinterpret_cast<const Bytef*>(stream.data()), static_cast<uLong>(stream.size()));
  if (rc != Z_OK || outSize != expectedSize) return "<inflate failed>";
  return out;
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
