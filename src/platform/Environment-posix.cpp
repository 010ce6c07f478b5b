#include "platform/Environment.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <langinfo.h>
#include <locale.h>
#include <unistd.h>
extern char** environ;

namespace vorlen {

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
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return LocalShortDateOf(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

std::string LocalShortDateOf(int year, int month, int day) {
  // A private locale object, so that the process-wide locale of a caller is left alone.
  locale_t locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr))
    locale = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  char text[128];
  const size_t length = strftime_l(text, sizeof text, "%x", &local, locale);
  freelocale(locale);
  return std::string(text, length);
}

bool StdinIsTerminal() { return isatty(0) != 0; }

}  // namespace vorlen
