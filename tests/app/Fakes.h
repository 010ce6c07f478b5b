// Test doubles for the window's surroundings: an in-memory registry, a recording service and a
// throw-away directory that plays the executable's directory.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "runtime/Exception.h"
#include "soap/SenderService.h"

namespace vorlen::test {

// Keys and value names compare without regard to letter case, as in the Windows registry.
class TMemoryRegistry : public IRegistryStore {
 public:
  using TValues = std::map<std::string, std::string>;
  std::map<std::string, TValues> Keys;  // lower-case key path -> lower-case name -> data
  bool FailOpen = false;
  bool FailRead = false;
  bool FailWrite = false;
  int Writes = 0;

  static std::string Lower(std::string text) {
    for (char& c : text) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
  }

  std::unique_ptr<IRegistryKey> OpenKey(const std::string& path) override {
    if (FailOpen) throw ERegistryException("access denied");
    return std::make_unique<TKey>(*this, Keys[Lower(path)]);
  }

 private:
  class TKey : public IRegistryKey {
   public:
    TKey(TMemoryRegistry& owner, TValues& values) : FOwner(owner), FValues(values) {}
    std::string ReadString(const std::string& name) override {
      if (FOwner.FailRead) throw ERegistryException("read denied");
      auto found = FValues.find(Lower(name));
      return found == FValues.end() ? std::string() : found->second;
    }
    void WriteString(const std::string& name, const std::string& value) override {
      if (FOwner.FailWrite) throw ERegistryException("write denied");
      ++FOwner.Writes;
      FValues[Lower(name)] = value;
    }

   private:
    TMemoryRegistry& FOwner;
    TValues& FValues;
  };
};

// Records every call; DelTempFiles can be told to fail.
class TRecordingService : public ISenderService {
 public:
  std::vector<std::string> Calls;
  bool FailDelTempFiles = false;

  std::string GetSession() override {
    Calls.push_back("GetSession");
    return "S-1";
  }
  bool UploadFilePart(const std::string& Sess, const std::string& PartName, const std::string&,
                      TSOAPAttachment*) override {
    Calls.push_back("UploadFilePart:" + Sess + ":" + PartName);
    return true;
  }
  bool MergeFile(int32_t Parts, const std::string& FileName, const std::string& Sess) override {
    Calls.push_back("MergeFile:" + std::to_string(Parts) + ":" + FileName + ":" + Sess);
    return true;
  }
  bool UnZip(const std::string& Sess) override {
    Calls.push_back("UnZip:" + Sess);
    return true;
  }
  bool DelTempFiles(const std::string& Sess) override {
    Calls.push_back("DelTempFiles:" + Sess);
    if (FailDelTempFiles) throw Exception("Service unavailable");
    return true;
  }
};

// A fresh directory, removed with everything in it.
class TTempDir {
 public:
  TTempDir() {
    std::random_device random;
    FPath = std::filesystem::temp_directory_path() /
            ("vorlen-app-" + std::to_string(random()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(FPath);
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  // The directory with a trailing separator, as the executable's directory is given.
  std::string Dir() const { return (FPath / "").string(); }
  std::string File(const std::string& name) const { return (FPath / name).string(); }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(FPath / name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(FPath / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(FPath / name); }

 private:
  std::filesystem::path FPath;
};

}  // namespace vorlen::test
