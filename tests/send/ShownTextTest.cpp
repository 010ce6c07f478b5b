// Texts of the peer made safe before either front end shows them.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "send/ShownText.h"

namespace vorlen {
namespace {

TEST(ShownText, ControlsBidiAndBrokenBytesAreReplaced) {
  // Plain text, Cyrillic included, passes unchanged.
  EXPECT_EQ(ShownText("Сесия 42 - Готово"), "Сесия 42 - Готово");
  // A retitling and clearing sequence (ESC, BEL), a tab, a line feed and DEL.
  EXPECT_EQ(ShownText("a\x1b]0;x\x07\x1b[2J\tb\nc\x7f"),
            "a\xEF\xBF\xBD]0;x\xEF\xBF\xBD\xEF\xBF\xBD[2J\xEF\xBF\xBD"
            "b\xEF\xBF\xBD"
            "c\xEF\xBF\xBD");
  // C1 (U+0085, U+009B), an override (U+202E) and an isolate (U+2067).
  EXPECT_EQ(ShownText("x\xC2\x85y\xC2\x9Bz\xE2\x80\xAEw\xE2\x81\xA7v"),
            "x\xEF\xBF\xBDy\xEF\xBF\xBDz\xEF\xBF\xBDw\xEF\xBF\xBDv");
  // A lone continuation byte, an overlong slash, a cut sequence at the end and a NUL.
  EXPECT_EQ(ShownText(std::string("\x80/\xC0\xAF|\0|\xE2\x82", 9)),
            "\xEF\xBF\xBD/\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(ShownText, LongTextsAreCutAtWholeCharactersWithAnEllipsis) {
  EXPECT_EQ(ShownText(std::string(4096, 'a')), std::string(4096, 'a'));
  EXPECT_EQ(ShownText(std::string(8 << 20, 'a')), std::string(4093, 'a') + "\xE2\x80\xA6");
  // Two-byte letters: 2046 of them and the ellipsis fit, the cut never splits one.
  std::string cyrillic;
  for (int i = 0; i < 3000; ++i) cyrillic += "\xD0\xB6";
  std::string expected;
  for (int i = 0; i < 2046; ++i) expected += "\xD0\xB6";
  EXPECT_EQ(ShownText(cyrillic), expected + "\xE2\x80\xA6");
  // Replacements count with their own length.
  EXPECT_EQ(ShownText(std::string(2000, '\x1b')).size(), 4095u);

  EXPECT_EQ(ShownErrorText(std::make_exception_ptr(std::runtime_error("bad\x1b[2J"))),
            "bad\xEF\xBF\xBD[2J");
  EXPECT_EQ(ShownErrorText(std::make_exception_ptr(42)), "Unknown exception");
}

}  // namespace
}  // namespace vorlen
