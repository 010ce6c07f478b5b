// sendcfg.ini: lines of name=value, read in whatever encoding its byte-order mark names (ANSI
// without one), written back as "url=…" and "org=…" in the ANSI code page, followed by the lines
// of the program's other known settings that the file held or the program set.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "send/IOperatorView.h"

namespace vorlen {

extern const char* const SettingsFileName;  // "sendcfg.ini"

// The file's bytes as UTF-8 text: a UTF-8 or UTF-16 (LE/BE) byte-order mark selects that encoding,
// anything else is ANSI. The mark itself is dropped.
std::string DecodeSettingsText(std::string_view bytes);

// The value of the first line whose name (the text before its first "=") equals name without
// regard to letter case; empty when there is none. Lines end at CR LF, LF or CR. Nothing is
// trimmed.
std::string SettingValue(std::string_view text, std::string_view name);

// A setting besides url and org ("parallel=4"). Copies of the program that know only url and org
// skip such lines, so they still read the file.
struct TSettingEntry {
  std::string Name;
  std::string Value;
};
using TSettingEntries = std::vector<TSettingEntry>;

// The names besides url and org that a rewrite keeps, in the order it writes them. Lines with
// other names are dropped by a rewrite, as they always were.
extern const std::vector<std::string_view> KeptSettingNames;

// The kept settings that text holds (the first line of each name), in KeptSettingNames' order.
TSettingEntries KeptSettings(std::string_view text);

// The value of name among entries; empty when absent.
std::string EntryValue(const TSettingEntries& entries, std::string_view name);
// Sets name to value, adding the entry when absent; an empty value removes it.
void SetEntryValue(TSettingEntries& entries, std::string_view name, const std::string& value);

// The whole file: "url=<url>" CR LF "org=<org>" CR LF, then "name=value" CR LF for each entry of
// more, all in the ANSI code page.
std::string EncodeSettings(const std::string& url, const std::string& org,
                           const TSettingEntries& more = {});

// True when nothing but spaces and control characters is in value.
bool IsBlankSetting(std::string_view value);

// Reads the file's decoded text; raises EFOpenError / EStreamError when it cannot be read.
std::string ReadSettingsFile(const std::string& path);

// Creates or replaces the file with bytes; raises when it cannot be written.
void WriteSettingsFile(const std::string& path, const std::string& bytes);

struct TSenderSettings {
  std::string Url;
  std::string Org;
  TSettingEntries More;   // the kept settings the file held
  bool Changed = false;  // the operator confirmed an input box
  // What a save writes as url and org: the written file's own values with the prompted ones in
  // place, so that values from the other places are not frozen into one user's file.
  std::string OwnUrl;
  std::string OwnOrg;
  TSettingEntries OwnMore;  // the kept settings of the written file itself
};

// The places that settings come from, in order of precedence: each value (and each kept setting)
// is taken from the first file that holds it non-blank, then from the machine's values.
struct TSettingsSources {
  std::vector<std::string> Paths;  // sendcfg.ini files; missing ones are passed over
  std::string WritePath;           // the file a save writes (usually one of Paths)
  std::string MachineUrl;          // the machine's settings, after every file
  std::string MachineOrg;
};

// The two settings of a send. Values the caller already holds (vorlen-send's flags) are taken as
// they are, and the file at path is read only for what they leave open: a missing file gives
// empty values, one that exists but cannot be read raises. Each value still blank is then asked
// through view, the URL first. untilFilled (the window) asks again after a Cancel; otherwise a
// Cancel returns at once with that value blank.
TSenderSettings ReadSenderSettings(const std::string& path, IOperatorView& view, bool untilFilled,
                                   const std::optional<std::string>& url = std::nullopt,
                                   const std::optional<std::string>& org = std::nullopt);
// The same over several places.
TSenderSettings ReadSenderSettings(const TSettingsSources& sources, IOperatorView& view,
                                   bool untilFilled,
                                   const std::optional<std::string>& url = std::nullopt,
                                   const std::optional<std::string>& org = std::nullopt);

}  // namespace vorlen
