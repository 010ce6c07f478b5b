// Text at the Windows API (the Windows build only): the program's UTF-8 against the UTF-16 of
// the wide calls, so that no path or name ever passes through the ANSI code page.
#pragma once

#include <string>
#include <string_view>

namespace vorlen {

// Malformed UTF-8 comes out with U+FFFD in place of the bad bytes.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

// The same between UTF-16 and any code page (CP_ACP for the ANSI one); substitute (or nullptr
// for the system's own) stands for characters the code page lacks.
std::wstring WideFromCodePage(unsigned codePage, std::string_view text);
std::string CodePageFromWide(unsigned codePage, std::wstring_view wide, const char* substitute);

// A UTF-8 path for CreateFileW and its kin. One of MAX_PATH characters or more is made absolute
// and given the "\\?\" prefix, which lifts the limit, instead of being cut or refused.
std::wstring WidePath(std::string_view utf8);

// The system's text for GetLastError(), without its line end and full stop, as UTF-8.
std::string LastErrorText();

}  // namespace vorlen
