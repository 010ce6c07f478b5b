// Joins files into one, for MergeFile: a merge copies every byte of an upload once more, so on
// Linux the copy stays in the kernel (copy_file_range) instead of passing through a buffer.
// Sources are taken one at a time, so a merge of any number of parts holds two descriptors.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "server/Descriptors.h"

namespace vorlen {

class TFileConcat {
 public:
  // Writes to out from its current offset; outName names it in messages.
  TFileConcat(const TFd& out, std::string outName);

  // Appends the whole of source. Raises Exception naming the file that could not be read or
  // written (EDiskFull when the disk is full).
  void Append(const TFd& source, const std::string& sourceName);

 private:
  const TFd& FOut;
  std::string FOutName;
  bool FKernelCopy = true;
  std::vector<uint8_t> FBlock;
};

// The same for files given by path: target is created or truncated; on failure it is
// incomplete, and the caller removes it.
void ConcatenateFiles(const std::vector<std::filesystem::path>& sources,
                      const std::filesystem::path& target);

}  // namespace vorlen
