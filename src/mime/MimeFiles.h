// File-system helpers of the attachment packaging: paths, the temporary directory, cache files.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "runtime/Stream.h"

namespace vorlen {

// tempDir itself when non-empty, else the system's temporary directory; raises
// "Unable to generate temporary path" when there is none.
std::filesystem::path MimeTempDirectory(const std::string& tempDir);

// Creates, for exclusive read-write use, the first file named prefix + n (n = firstNumber,
// firstNumber + 1, ...) that does not exist yet in directory. Stores its path in path and
// its number in number. Raises "No access to temporary file" when it cannot be created.
std::unique_ptr<TFileStream> CreateNumberedFile(const std::filesystem::path& directory,
                                                const std::string& prefix, int firstNumber,
                                                std::string& path, int& number);

}  // namespace vorlen
