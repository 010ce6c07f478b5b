#include <gtest/gtest.h>

#include "platform/CodePage.h"

using namespace vorlen;

TEST(CodePage, BulgarianTextRoundTripsThroughWindows1251) {
  const std::string utf8 = "Изпрати файл";
  const std::string ansi = "\xc8\xe7\xef\xf0\xe0\xf2\xe8\x20\xf4\xe0\xe9\xeb";
  EXPECT_EQ(AnsiFromUtf8(utf8), ansi);
  EXPECT_EQ(Utf8FromAnsi(ansi), utf8);
  EXPECT_EQ(AnsiFromUtf8("Не архивирай"), "\xcd\xe5\x20\xe0\xf0\xf5\xe8\xe2\xe8\xf0\xe0\xe9");
  EXPECT_EQ(AnsiFromUtf8("Ёё№€"), "\xa8\xb8\xb9\x88");
  EXPECT_EQ(Utf8FromAnsi("\xa8\xb8\xb9\x88"), "Ёё№€");
  EXPECT_EQ(AnsiFromUtf8("plain ASCII \\ / :"), "plain ASCII \\ / :");
  EXPECT_EQ(AnsiFromUtf8(""), "");
  EXPECT_EQ(Utf8FromAnsi(""), "");
  // Every byte but the one the code page leaves undefined survives the round trip.
  for (int b = 1; b < 256; ++b) {
    if (b == 0x98) continue;
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(AnsiFromUtf8(Utf8FromAnsi(one)), one) << b;
  }
}

TEST(CodePage, MissingCharactersAndBadInputBecomeQuestionMarks) {
  EXPECT_EQ(AnsiFromUtf8("a日本b"), "a??b");
  EXPECT_EQ(AnsiFromUtf8("x\xf0\x9f\x98\x80y"), "x?y");  // one character outside the BMP
  EXPECT_EQ(AnsiFromUtf8("x\xffy"), "x?y");              // not UTF-8 at all
  EXPECT_EQ(AnsiFromUtf8("x\xd0"), "x?");                // cut in the middle of a character
  EXPECT_EQ(AnsiFromUtf8("ä"), "?");
  EXPECT_EQ(Utf8FromAnsi("a\x98z"), "a?z");  // undefined in Windows-1251
  // Long texts go through in slices: a character across a slice's end stays whole, and many
  // missing characters each become one "?".
  EXPECT_EQ(AnsiFromUtf8(std::string(255, 'a') + "Я" + std::string(3000, 'b')),
            std::string(255, 'a') + "\xdf" + std::string(3000, 'b'));
  std::string missing;
  for (int i = 0; i < 5000; ++i) missing += "日";
  EXPECT_EQ(AnsiFromUtf8(missing + "x\xd0"), std::string(5000, '?') + "x?");
}
