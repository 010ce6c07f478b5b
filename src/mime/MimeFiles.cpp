#include "mime/MimeFiles.h"

#include <system_error>

#include "platform/Paths.h"
#include "platform/TempFiles.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace vorlen {

namespace {
// Enough for any real use; stops a directory full of our names from looping for ages.
constexpr int kMaxNumberedFiles = 100000;
}  // namespace

std::filesystem::path MimeTempDirectory(const std::string& tempDir) {
  if (!tempDir.empty()) return FsPathFromUtf8(tempDir);
  std::string directory;
  try {
    directory = SystemTempDir();
  } catch (const Exception&) {
    // Reported in the packaging's own words below.
  }
  if (directory.empty()) throw Exception("Unable to generate temporary path");
  return FsPathFromUtf8(directory);
}

std::unique_ptr<TFileStream> CreateNumberedFile(const std::filesystem::path& directory,
                                                const std::string& prefix, int firstNumber,
                                                std::string& path, int& number) {
  int vanished = 0;
  for (int n = firstNumber; n < kMaxNumberedFiles; ++n) {
    const std::filesystem::path candidate =
        directory / FsPathFromUtf8(Format("%s%d", prefix.c_str(), n));
    std::error_code error;
    if (std::filesystem::exists(candidate, error)) continue;
    const std::string utf8 = Utf8FromFsPath(candidate);
    try {
      auto file = std::make_unique<TFileStream>(utf8, TFileStream::fmCreateNew);
      path = utf8;
      number = n;
      return file;
    } catch (const EFCreateError&) {
      // Someone else took the name between the test and the creation, and may even have
      // removed it again since: try the next one. Repeated failures on names that do not
      // exist mean the directory itself refuses new files.
      if (std::filesystem::exists(candidate, error) || ++vanished <= 16) continue;
      throw Exception("No access to temporary file");
    }
  }
  throw Exception("No access to temporary file");
}

}  // namespace vorlen
