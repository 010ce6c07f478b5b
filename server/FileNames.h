// Names that come from requests (part names, file names, names inside archives) and the part
// names that a merge looks for.
#pragma once

#include <string>
#include <string_view>

namespace vorlen {

// Why name cannot be used as one file inside a session folder on any platform, or empty when it
// can: it must be UTF-8, not empty, at most 255 bytes, without separator, drive or stream colon,
// control, format (bidirectional, zero-width) or separator character, not "." or "..", without
// the characters Windows refuses, without trailing dot or blank (Windows drops them, which would
// alias another name), and not a name Windows opens as a device (NUL, COM1, COM¹, CONIN$, also
// with an extension or trailing blanks).
std::string FileNameFault(std::string_view name);
inline bool IsBareFileName(std::string_view name) { return FileNameFault(name).empty(); }

// The form under which names are one file, or look like one, where the folder is shared to
// Windows or macOS: compatibility-normalised and case-folded (NFKC_Casefold: NFC/NFD pairs,
// Cyrillic and other case pairs, a no-break space for a space) with trailing blanks and dots
// dropped. Two names with the same key must not be delivered side by side.
std::string FileNameKey(std::string_view name);

// The name of part index of fileName: the extension (from the last ".") replaced by "._" and the
// index with at least three digits; a name without "." gets the suffix appended.
std::string PartFileName(std::string_view fileName, int index);

}  // namespace vorlen
