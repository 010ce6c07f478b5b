// sendcfg.ini: lines of name=value, read in whatever encoding its byte-order mark names (ANSI
// without one), written back as exactly "url=…" and "org=…" in the ANSI code page.
#pragma once

#include <string>
#include <string_view>

namespace vorlen {

extern const char* const SettingsFileName;  // "sendcfg.ini"

// The file's bytes as UTF-8 text: a UTF-8 or UTF-16 (LE/BE) byte-order mark selects that encoding,
// anything else is ANSI. The mark itself is dropped.
std::string DecodeSettingsText(std::string_view bytes);

// The value of the first line whose name (the text before its first "=") equals name without
// regard to letter case; empty when there is none. Lines end at CR LF, LF or CR. Nothing is
// trimmed.
std::string SettingValue(std::string_view text, std::string_view name);

// The whole file for the two settings: "url=<url>" CR LF "org=<org>" CR LF in the ANSI code page.
std::string EncodeSettings(const std::string& url, const std::string& org);

// True when nothing but spaces and control characters is in value.
bool IsBlankSetting(std::string_view value);

// Reads the file's decoded text; raises EFOpenError / EStreamError when it cannot be read.
std::string ReadSettingsFile(const std::string& path);

// Creates or replaces the file with bytes; raises when it cannot be written.
void WriteSettingsFile(const std::string& path, const std::string& bytes);

}  // namespace vorlen
