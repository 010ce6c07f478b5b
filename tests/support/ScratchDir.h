// A throw-away directory with the small file helpers the window and send tests use.
#pragma once

#include <filesystem>
#include <string>

#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "support/TempDir.h"

namespace vorlen::test {

// The file's bytes; empty when it cannot be read. Paths are UTF-8 (wide on Windows, where a
// narrow stream would take them as the ANSI code page).
inline std::string ReadFileBytes(const std::string& path) {
  try {
    TFileStream in(path, TFileStream::fmOpenRead);
    std::string bytes(static_cast<size_t>(in.Size()), '\0');
    if (!bytes.empty()) in.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return bytes;
  } catch (const EStreamError&) {
    return {};
  }
}

class TScratchDir {
 public:
  // The directory with a trailing separator, as the executable's directory is given.
  std::string Path() const { return (FDir.Path() / "").string(); }
  std::string File(const std::string& name) const { return FDir / name; }

  // Creates or replaces name with bytes; returns its full path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string path = File(name);
    TFileStream out(path, TFileStream::fmCreate);
    if (!bytes.empty()) out.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return path;
  }
  std::string Read(const std::string& name) const { return ReadFileBytes(File(name)); }
  bool Exists(const std::string& name) const {
    return std::filesystem::exists(FDir.Path() / std::u8string(name.begin(), name.end()));
  }

 private:
  TTempDir FDir;
};

}  // namespace vorlen::test
