#include "server/FileNames.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <array>
#include <cctype>
#include <cstdint>

#include "runtime/Format.h"
#include "server/InvisibleCharacter.h"

namespace vorlen {

namespace {

// The stem Windows looks at for devices: up to the first dot, without trailing blanks and dots
// ("CON .txt" and "con.." open the console), upper-cased in ASCII.
std::string DeviceStem(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.')) stem.remove_suffix(1);
  std::string upper;
  for (char c : stem) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

bool IsDeviceName(std::string_view name) {
  const std::string stem = DeviceStem(name);
  static constexpr std::array<std::string_view, 6> kPlain = {"CON", "PRN",    "AUX",
                                                             "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view device : kPlain) {
    if (stem == device) return true;
  }
  if (!stem.starts_with("COM") && !stem.starts_with("LPT")) return false;
  const std::string_view digit = std::string_view(stem).substr(3);
  // Windows takes the superscript digits one, two and three as port numbers too.
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" ||
         digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

}  // namespace

std::string FileNameFault(std::string_view name) {
  if (name.empty()) return "is empty";
  if (name == "." || name == "..") return "is a folder reference";
  if (name.size() > 255) return "is longer than 255 bytes";
  const auto* bytes = reinterpret_cast<const uint8_t*>(name.data());
  const auto length = static_cast<int32_t>(name.size());
  for (int32_t at = 0; at < length;) {
    UChar32 c;
    U8_NEXT(bytes, at, length, c);
    if (c < 0) return "is not UTF-8";
    if (IsInvisibleCharacter(static_cast<char32_t>(c))) return Format("holds the control or format character U+%04X", c);
    switch (c) {
      case '/':
      case '\\':
      case ':':
      case '*':
      case '?':
      case '"':
      case '<':
      case '>':
      case '|':
        return Format("holds the character '%c'", static_cast<char>(c));
      default:
        break;
    }
  }
  if (name.back() == '.' || name.back() == ' ') return "ends in a dot or blank";
  if (IsDeviceName(name)) return "is a Windows device name";
  return {};
}

std::string FileNameKey(std::string_view name) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* fold = icu::Normalizer2::getNFKCCasefoldInstance(status);
  const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(name.data(), static_cast<int32_t>(name.size())));
  std::string key;
  if (U_SUCCESS(status)) {
    const icu::UnicodeString folded = fold->normalize(text, status);
    if (U_SUCCESS(status)) folded.toUTF8String(key);
  }
  if (!U_SUCCESS(status)) key = name;  // ICU without its data: exact names at least
  while (!key.empty() && (key.back() == ' ' || key.back() == '.')) key.pop_back();
  return key;
}

std::string PartFileName(std::string_view fileName, int index) {
  const size_t dot = fileName.rfind('.');
  const std::string_view stem = dot == std::string_view::npos ? fileName : fileName.substr(0, dot);
  return std::string(stem) + Format("._%.3d", index);
}

}  // namespace vorlen
