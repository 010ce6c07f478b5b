// Process environment and locale look-ups that the send needs.
#pragma once

#include <string>

namespace vorlen {

// The value of the environment variable name, matching its name without regard to letter case
// as Windows does ("Tmp" finds TMP). An exact match wins over others. Empty when unset.
std::string GetEnvironmentVariableIgnoreCase(const std::string& name);

// Today's date, without the time of day, in the short date pattern of the user's locale
// (LC_TIME / LANG on POSIX, the user's regional settings on Windows), as UTF-8.
std::string LocalShortDate();
// The same for a given day (month 1 to 12).
std::string LocalShortDateOf(int year, int month, int day);

// Whether standard input is an interactive terminal (on Windows a console, not the NUL device).
bool StdinIsTerminal();

}  // namespace vorlen
