#include "platform/CodePage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

#include "runtime/Exception.h"

namespace vorlen {

namespace {

// The ANSI code page of a Bulgarian Windows system, which wrote and reads these texts.
constexpr const char* kAnsiCodePage = "WINDOWS-1251";

class TConverter {
 public:
  TConverter(const char* to, const char* from) : FHandle(iconv_open(to, from)) {
    if (FHandle == reinterpret_cast<iconv_t>(-1))
      throw Exception(std::string("Code page conversion is not available: ") + from + " to " + to);
  }
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;
  ~TConverter() { iconv_close(FHandle); }

  // Converts text; a character that cannot be converted becomes "?" and conversion goes on
  // after it (skipChar tells how many input bytes it spans).
  template <typename SkipChar>
  std::string Convert(std::string_view text, SkipChar skipChar) {
    // glibc converts ahead through an intermediate step and, at a character it cannot convert,
    // converts what it read again up to that point: given all the text at once, each such
    // character costs the rest of the text. A slice at a time keeps that cost bounded.
    constexpr size_t kSlice = 256;
    std::string result;
    result.reserve(text.size() * 2);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char buffer[1024];
    while (inLeft > 0) {
      char* out = buffer;
      size_t outLeft = sizeof buffer;
      const size_t slice = std::min(inLeft, kSlice);
      size_t sliceLeft = slice;
      const size_t rc = iconv(FHandle, &in, &sliceLeft, &out, &outLeft);
      inLeft -= slice - sliceLeft;
      result.append(buffer, static_cast<size_t>(out - buffer));
      if (rc != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // A character cut by the slice's end: the next slice starts with it whole.
      if (errno == EINVAL && sliceLeft < inLeft) continue;
      // EILSEQ or EINVAL (a truncated sequence at the end): substitute and step over it.
      result.push_back('?');
      const size_t skip = std::min(inLeft, skipChar(std::string_view(in, inLeft)));
      in += skip;
      inLeft -= skip;
      iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
    }
    return result;
  }

 private:
  iconv_t FHandle;
};

// Length of the (possibly malformed) UTF-8 sequence at the start of text; at least 1.
size_t Utf8SequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  size_t length = 1;
  if (lead >= 0xF0 && lead <= 0xF4)
    length = 4;
  else if (lead >= 0xE0)
    length = 3;
  else if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  if (lead >= 0xF5 || (lead >= 0x80 && lead < 0xC2)) return 1;
  size_t i = 1;
  while (i < length && i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  return i;
}

}  // namespace

std::string AnsiFromUtf8(std::string_view utf8) {
  TConverter converter(kAnsiCodePage, "UTF-8");
  return converter.Convert(utf8, Utf8SequenceLength);
}

std::string Utf8FromAnsi(std::string_view ansi) {
  TConverter converter("UTF-8", kAnsiCodePage);
  return converter.Convert(ansi, [](std::string_view) { return size_t{1}; });
}

}  // namespace vorlen
