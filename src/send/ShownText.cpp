#include "send/ShownText.h"

#include <cstdint>

namespace vorlen {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";     // U+2026

// Length of the valid UTF-8 sequence at text[at] and its code point; 0 when it is not valid
// (overlong forms, surrogates and values past U+10FFFF included).
size_t DecodeUtf8(std::string_view text, size_t at, uint32_t& code) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  size_t length;
  uint32_t minimum;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool IsHidden(uint32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) ||  // C0, DEL, C1
         (code >= 0x202A && code <= 0x202E) ||             // embeddings and overrides
         (code >= 0x2066 && code <= 0x2069);               // isolates
}

}  // namespace

std::string ShownText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size() < kShownTextLimit ? text.size() : kShownTextLimit);
  size_t fits = 0;  // length of the prefix that still leaves room for the ellipsis
  for (size_t at = 0; at < text.size();) {
    uint32_t code = 0;
    const size_t length = DecodeUtf8(text, at, code);
    const std::string_view piece =
        length == 0 || IsHidden(code) ? kReplacement : text.substr(at, length);
    at += length == 0 ? 1 : length;
    if (shown.size() + piece.size() > kShownTextLimit) {
      shown.resize(fits);
      shown += kEllipsis;
      return shown;
    }
    shown += piece;
    if (shown.size() + kEllipsis.size() <= kShownTextLimit) fits = shown.size();
  }
  return shown;
}

std::string ShownErrorText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return ShownText(e.what());
  } catch (...) {
    return "Unknown exception";
  }
}

}  // namespace vorlen
