// Joins files into one, for MergeFile: a merge copies every byte of an upload once more, so on
// Linux the copy stays in the kernel (copy_file_range) instead of passing through a buffer.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "server/Descriptors.h"

namespace vorlen {

struct TSourceFile {
  TFd Fd;
  std::string Name;  // for messages
};

// Writes the sources one after another to out from its current offset. Raises Exception naming
// the file that could not be read or written.
void AppendFiles(const std::vector<TSourceFile>& sources, const TFd& out,
                 const std::string& outName);

// The same for files given by path: target is created or truncated; on failure it is
// incomplete, and the caller removes it.
void ConcatenateFiles(const std::vector<std::filesystem::path>& sources,
                      const std::filesystem::path& target);

}  // namespace vorlen
