// Joins files into one, for MergeFile: a merge copies every byte of an upload once more, so on
// Linux the copy stays in the kernel (copy_file_range) instead of passing through a buffer.
#pragma once

#include <filesystem>
#include <vector>

namespace vorlen {

// Writes the sources one after another into target (created or truncated). Raises Exception
// naming the file that could not be read or written; target is then incomplete, and the caller
// removes it.
void ConcatenateFiles(const std::vector<std::filesystem::path>& sources,
                      const std::filesystem::path& target);

}  // namespace vorlen
