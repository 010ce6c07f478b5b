// Helpers shared by the SOAP message tests: the registered contract, fixed content ids, stream
// reading and scratch directories.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "soap/ContentId.h"
#include "soap/InvRegistry.h"
#include "soap/SenderServiceIntf.h"

namespace vorlen::testing {

// What every envelope written here starts with: the declaration, its line end and the Envelope
// start tag with the four declarations in order.
inline constexpr char kEnvelopeOpen[] =
    "<?xml version=\"1.0\"?>\n"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">";

// The metadata of ISenderService, registered on first use.
inline const TIntfMetaData& SenderIntf() {
  RegisterSenderService();
  const TIntfMetaData* intf = InvRegistry().GetInterfaceInfo(IID_ISenderService);
  if (!intf) throw Exception("ISenderService is not registered");
  return *intf;
}

// Content ids taken in order from ids while the object lives; the random source comes back
// when it goes, also when the test fails half-way.
class TFixedContentIds {
 public:
  explicit TFixedContentIds(std::vector<std::string> ids) {
    auto next = std::make_shared<size_t>(0);
    SetContentIdSource([ids = std::move(ids), next] { return ids.at((*next)++); });
  }
  TFixedContentIds(const TFixedContentIds&) = delete;
  TFixedContentIds& operator=(const TFixedContentIds&) = delete;
  ~TFixedContentIds() { SetContentIdSource(nullptr); }
};

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

inline std::string ReadFile(const std::string& path) {
  TMemoryStream stream;
  stream.LoadFromFile(path);
  return stream.ToString();
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
            ("vorlen-soap-" + std::string(info != nullptr ? info->name() : "test") + "-" +
             std::to_string(std::random_device{}()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(FPath);
    std::filesystem::create_directories(FPath);
  }
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;
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
  std::string Read(const std::string& name) const { return ReadFile(File(name)); }
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
