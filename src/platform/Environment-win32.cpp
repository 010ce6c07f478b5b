#include <windows.h>

#include "platform/Environment.h"
#include "runtime/WindowsText.h"

namespace vorlen {

std::string GetEnvironmentVariableIgnoreCase(const std::string& name) {
  // Windows itself matches environment names without regard to case.
  const std::wstring wideName = WideFromUtf8(name);
  const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
  value.resize(length < size ? length : 0);
  return Utf8FromWide(value);
}

std::string LocalShortDateOf(int year, int month, int day) {
  SYSTEMTIME date{};
  date.wYear = static_cast<WORD>(year);
  date.wMonth = static_cast<WORD>(month);
  date.wDay = static_cast<WORD>(day);
  wchar_t text[128];
  const int length =
      GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &date, nullptr, text, 128, nullptr);
  if (length <= 1) return {};
  // Locale data taken from CLDR (Wine's, for one) set "г." apart with a narrow no-break space,
  // which the ANSI code page of the details file lacks: an ordinary space, as Windows writes.
  std::wstring shortDate(text, static_cast<size_t>(length - 1));
  for (wchar_t& c : shortDate)
    if (c == 0x202F) c = L' ';
  return Utf8FromWide(shortDate);
}

std::string LocalShortDate() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return LocalShortDateOf(now.wYear, now.wMonth, now.wDay);
}

bool StdinIsTerminal() {
  // _isatty is true for NUL as well, which has nothing to type.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

}  // namespace vorlen
