// Names that come from requests (part names, file names, names inside archives) and the part
// names that a merge looks for.
#pragma once

#include <string>
#include <string_view>

namespace vorlen {

// True when name can be used as one file inside a session folder on any platform: not empty,
// at most 255 bytes, no separator, no drive or stream colon, no control character, not "." or
// "..", no characters Windows refuses, no trailing dot or blank (Windows drops them, which would
// alias another name), and not a Windows device name such as NUL or COM1.
bool IsBareFileName(std::string_view name);

// The name of part index of fileName: the extension (from the last ".") replaced by "._" and the
// index with at least three digits; a name without "." gets the suffix appended.
std::string PartFileName(std::string_view fileName, int index);

}  // namespace vorlen
