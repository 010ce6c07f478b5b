// The small rules of a send: which files count as archives, where the temporary archive goes,
// how parts are named, checked and counted towards the progress bar.
#pragma once

#include <cstdint>
#include <string>

namespace vorlen {

constexpr int64_t kPartSize = 204800;  // bytes of every part but the last
constexpr int kMaxParallel = 16;       // the most parts a send may have in flight

// True for ".rar", ".zip", ".ace" and ".7z", in any letter case.
bool IsArchiveExtension(const std::string& ext);

// Directory of the temporary archive, ending in the platform's separator: the environment's
// "Tmp" (name matched without case), or the system's temporary directory when that is unset or
// empty, so the archive never lands at a drive's root.
std::string TempArchiveDir();

// Part index of a file name: "report.pdf", 0 gives "report._000"; the extension from the last "."
// is replaced, a name without "." gets the suffix appended; 1000 gives "._1000".
std::string PartName(const std::string& fileName, int32_t index);

// The finished CRC-32 of length bytes as eight upper-case hexadecimal digits.
std::string PartHash(const void* data, uint32_t length);

// Progress bar position after sent parts of lastPartIndex + 1: the share in per cent, rounded to
// nearest with halves to the even neighbour.
int PartProgress(int32_t lastPartIndex, int64_t sent);

// Parts in flight that the settings file's "parallel" value asks for: a whole number from 1 to
// kMaxParallel as it stands; anything else (absent, blank, out of range) is 1, one part at a time.
int ParallelSetting(const std::string& value);

}  // namespace vorlen
