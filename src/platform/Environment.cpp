#include "platform/Environment.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#include <langinfo.h>
#include <locale.h>
extern char** environ;
#endif

namespace vorlen {

#ifdef _WIN32

std::string GetEnvironmentVariableIgnoreCase(const std::string& name) {
  // Windows itself ignores the case of environment names; the wide call keeps non-ANSI paths.
  const int nameLength = MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, nullptr, 0);
  std::wstring wideName(static_cast<size_t>(nameLength > 0 ? nameLength : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wideName.data(), nameLength);
  const DWORD length = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (length == 0) return {};
  std::wstring value(length, L'\0');
  const DWORD written = GetEnvironmentVariableW(wideName.c_str(), value.data(), length);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(written),
                                        nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(written), result.data(), bytes,
                      nullptr, nullptr);
  return result;
}

std::string LocalShortDate() {
  wchar_t wide[128];
  const int length = GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr,
                                     wide, 128, nullptr);
  if (length <= 1) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, length - 1, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, length - 1, result.data(), bytes, nullptr, nullptr);
  return result;
}

#else

namespace {

bool SameIgnoringCase(const char* a, size_t aLength, const std::string& b) {
  if (aLength != b.size()) return false;
  for (size_t i = 0; i < aLength; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

std::string GetEnvironmentVariableIgnoreCase(const std::string& name) {
  if (const char* exact = std::getenv(name.c_str())) return exact;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals == nullptr) continue;
    if (SameIgnoringCase(*entry, static_cast<size_t>(equals - *entry), name)) return equals + 1;
  }
  return {};
}

std::string LocalShortDate() {
  // A private locale object, so that the process-wide locale of a caller is left alone.
  locale_t locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr))
    locale = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[128];
  const size_t length = strftime_l(text, sizeof text, "%x", &local, locale);
  freelocale(locale);
  return std::string(text, length);
}

#endif

#ifdef _WIN32
bool StdinIsTerminal() { return _isatty(0) != 0; }
bool StderrIsTerminal() { return _isatty(2) != 0; }
#else
bool StdinIsTerminal() { return isatty(0) != 0; }
bool StderrIsTerminal() { return isatty(2) != 0; }
#endif

}  // namespace vorlen
