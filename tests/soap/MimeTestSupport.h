// Helpers shared by the attachment and MIME tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "runtime/Stream.h"

namespace vorlen::testing {

// Everything readable from the stream's current position.
inline std::string ReadRest(TStream& stream, int64_t chunk = 4096) {
  std::string result;
  std::string buffer(static_cast<size_t>(chunk), '\0');
  for (;;) {
    const int64_t n = stream.Read(buffer.data(), chunk);
    if (n <= 0) return result;
    result.append(buffer.data(), static_cast<size_t>(n));
  }
}

// A memory stream that reports its destruction.
class TTrackedStream : public TMemoryStream {
 public:
  TTrackedStream(std::string_view bytes, int& deletions)
      : TMemoryStream(bytes), FDeletions(deletions) {}
  ~TTrackedStream() override { ++FDeletions; }

 private:
  int& FDeletions;
};

// A fresh directory below the system's temporary directory, removed with the object.
class TScratchDir {
 public:
  TScratchDir() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    FPath = std::filesystem::temp_directory_path() /
            ("vorlen-c2-" + std::string(info != nullptr ? info->name() : "test") + "-" +
             std::to_string(std::random_device{}()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(FPath);
    std::filesystem::create_directories(FPath);
  }
  ~TScratchDir() {
    std::error_code error;
    std::filesystem::remove_all(FPath, error);
  }
  std::string Path() const { return FPath.string(); }
  std::string File(const std::string& name) const { return (FPath / name).string(); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(FPath / name); }
  void Write(const std::string& name, const std::string& bytes) const {
    TMemoryStream stream(bytes);
    stream.SaveToFile(File(name));
  }
  std::string Read(const std::string& name) const {
    TMemoryStream stream;
    stream.LoadFromFile(File(name));
    return stream.ToString();
  }
  // Names of the entries, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(FPath))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path FPath;
};

}  // namespace vorlen::testing
