// Conversion between the program's UTF-8 strings and the system's 8-bit ANSI code page, in which
// archive names, the settings file and the details file are written.
#pragma once

#include <string>
#include <string_view>

namespace vorlen {

// UTF-8 to the ANSI code page (the real one on Windows, Windows-1251 elsewhere). Characters the
// code page lacks, and malformed UTF-8, come out as "?".
std::string AnsiFromUtf8(std::string_view utf8);

// The ANSI code page to UTF-8. Bytes the code page does not define come out as "?".
std::string Utf8FromAnsi(std::string_view ansi);

}  // namespace vorlen
