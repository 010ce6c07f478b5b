#include <windows.h>

#include "platform/CodePage.h"
#include "runtime/WindowsText.h"

namespace vorlen {

namespace {

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string AnsiFromUtf8(std::string_view utf8) {
  std::wstring wide = WideFromUtf8(utf8);
  // One character outside the BMP is one "?", not one for each half of its surrogate pair.
  std::wstring text;
  text.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    const bool pair =
        IsHighSurrogate(wide[i]) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1]);
    text.push_back(pair ? L'?' : wide[i]);
    if (pair) ++i;
  }
  // A system whose ANSI code page is UTF-8 takes no substitute character.
  const char* substitute = GetACP() == CP_UTF8 ? nullptr : "?";
  return CodePageFromWide(CP_ACP, text, substitute);
}

std::string Utf8FromAnsi(std::string_view ansi) {
  std::wstring wide = WideFromCodePage(CP_ACP, ansi);
  // Windows passes the bytes a code page leaves undefined through as C1 control characters
  // (0x98 of Windows-1251 as U+0098); no ANSI text means those.
  for (wchar_t& c : wide)
    if (c >= 0x80 && c <= 0x9F) c = L'?';
  return Utf8FromWide(wide);
}

}  // namespace vorlen
