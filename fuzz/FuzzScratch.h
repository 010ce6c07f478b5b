// Scratch folders for the fuzz targets. Targets that write files for every input are made to
// wait on the disk by a disk file system, so the folder is in memory where the machine has
// /dev/shm; it goes with everything in it when the fuzzer ends normally.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vorlen::fuzz {

class TScratchDir {
 public:
  explicit TScratchDir(const std::string& name) {
    std::string pattern = Base() + "/vorlen-fuzz-" + name + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    FPath = pattern;
  }
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;
  ~TScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  const std::filesystem::path& Path() const { return FPath; }

 private:
  static std::string Base() {
    struct stat info {};
    if (stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && access("/dev/shm", W_OK) == 0)
      return "/dev/shm";
    const char* tmp = getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  }

  std::filesystem::path FPath;
};

}  // namespace vorlen::fuzz
