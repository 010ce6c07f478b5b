#include "send/UploadRules.h"

#include <cctype>
#include <cmath>

#include "checksum/Checksum.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "platform/TempFiles.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace vorlen {

bool IsArchiveExtension(const std::string& ext) {
  std::string lower;
  for (char c : ext) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == ".rar" || lower == ".zip" || lower == ".ace" || lower == ".7z";
}

std::string TempArchiveDir() {
  std::string dir = GetEnvironmentVariableIgnoreCase("Tmp");
  if (dir.empty()) dir = SystemTempDir();
  if (dir.empty()) throw Exception("The temporary directory is not known");
  if (!IsPathDelimiter(dir.back())) dir += PathDelim;
  return dir;
}

std::string PartName(const std::string& fileName, int32_t index) {
  const size_t dot = fileName.rfind('.');
  const std::string stem = dot == std::string::npos ? fileName : fileName.substr(0, dot);
  return stem + Format("._%.3d", static_cast<int>(index));
}

std::string PartHash(const void* data, uint32_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  UpdateCrc32(data, length, crc);
  return Format("%.8X", static_cast<unsigned>(~crc));
}

int PartProgress(int32_t lastPartIndex, int64_t sent) {
  const double share = 100.0 / (static_cast<double>(lastPartIndex) + 1.0);
  // nearbyint in the default rounding mode rounds halves to even (12.5 -> 12, 37.5 -> 38).
  return static_cast<int>(std::nearbyint(share * static_cast<double>(sent)));
}

int ParallelSetting(const std::string& value) {
  if (value.empty() || value.size() > 2 ||
      value.find_first_not_of("0123456789") != std::string::npos)
    return 1;
  const int n = std::stoi(value);
  return n >= 1 && n <= kMaxParallel ? n : 1;
}

}  // namespace vorlen
