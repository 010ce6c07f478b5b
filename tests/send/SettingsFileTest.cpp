#include <gtest/gtest.h>

#include "send/CertificateTrust.h"
#include "send/SettingsFile.h"

using namespace vorlen;

TEST(SettingsFile, DecodesByteOrderMarksAndAnsi) {
  // UTF-8 with its mark.
  EXPECT_EQ(DecodeSettingsText("\xEF\xBB\xBForg=\xD0\xA4\xD0\xB8\xD1\x80\xD0\xBC\xD0\xB0"),
            "org=Фирма");
  // UTF-16 little-endian, "org=Фи" with a surrogate pair (U+1F600) after it.
  EXPECT_EQ(
      DecodeSettingsText(std::string("\xFF\xFEo\0r\0g\0=\0\x24\x04\x38\x04\x3D\xD8\x00\xDE", 18)),
      "org=Фи\xF0\x9F\x98\x80");
  // UTF-16 big-endian.
  EXPECT_EQ(DecodeSettingsText(std::string("\xFE\xFF\0u\0r\0l\0=\0h", 12)), "url=h");
  // No mark: the ANSI code page (Windows-1251).
  EXPECT_EQ(DecodeSettingsText("org=\xD4\xE8\xF0\xEC\xE0"), "org=Фирма");
  // A dangling byte and a lone surrogate are kept visible rather than dropped.
  EXPECT_EQ(DecodeSettingsText(std::string("\xFF\xFE\x00\xD8"
                                           "a\0"
                                           "b",
                                           7)),
            "\xEF\xBF\xBD"
            "a\xEF\xBF\xBD");
  EXPECT_EQ(DecodeSettingsText(""), "");
}

TEST(SettingsFile, FindsFirstCaseInsensitiveNameWithoutTrimming) {
  const std::string text =
      "; a comment\r\n"
      "no equals sign\n"
      " url=leading space is another name\r"
      "uRl= http://host/x \r\n"
      "URL=second one loses\n"
      "org=a=b\r\n";
  EXPECT_EQ(SettingValue(text, "url"), " http://host/x ");
  EXPECT_EQ(SettingValue(text, "org"), "a=b");
  EXPECT_EQ(SettingValue(text, "missing"), "");
  // CR alone, LF alone, and a last line without an end.
  EXPECT_EQ(SettingValue("a=1\rorg=2\nurl=3", "url"), "3");
  EXPECT_EQ(SettingValue("a=1\rorg=2\nurl=3", "org"), "2");
  EXPECT_EQ(SettingValue("url=\r\n", "url"), "");
}

TEST(SettingsFile, EncodesTwoLinesInAnsi) {
  EXPECT_EQ(EncodeSettings("http://127.0.0.1:8080/s", "Фирма ООД"),
            "url=http://127.0.0.1:8080/s\r\norg=\xD4\xE8\xF0\xEC\xE0 \xCE\xCE\xC4\r\n");
  // Surrounding spaces stay; a character the code page lacks becomes its substitute.
  EXPECT_EQ(EncodeSettings(" u ", "a\xE2\x9C\x93"), "url= u \r\norg=a?\r\n");
}

TEST(SettingsFile, KeepsKnownLinesAfterTheTwoAndDropsOthers) {
  const std::string text = "; note\r\nPARALLEL=4\r\nurl=u\r\nother=x\r\nparallel=9\r\norg=o\r\n";
  TSettingEntries more = KeptSettings(text);
  ASSERT_EQ(more.size(), 1u);
  EXPECT_EQ(EntryValue(more, "parallel"), "4");  // the first line of a name wins, as for url
  EXPECT_EQ(EncodeSettings("u", "o", more), "url=u\r\norg=o\r\nparallel=4\r\n");
  SetEntryValue(more, "Parallel", "8");
  EXPECT_EQ(EncodeSettings("u", "o", more), "url=u\r\norg=o\r\nparallel=8\r\n");
  SetEntryValue(more, "parallel", "");
  EXPECT_TRUE(more.empty());
  EXPECT_TRUE(KeptSettings("url=u\r\norg=o\r\n").empty());
}

// The trusted certificate's line belongs to one address; a rewrite keeps it after the two.
TEST(SettingsFile, RemembersOneCertificateForOneAddress) {
  const std::string hex = "ab12cd34ef56ab12cd34ef56ab12cd34ef56ab12cd34ef56ab12cd34ef56ab12";
  const std::string fingerprint =
      "AB:12:CD:34:EF:56:AB:12:CD:34:EF:56:AB:12:CD:34:EF:56:AB:12:CD:34:EF:56:AB:12:CD:34:EF:56:"
      "AB:12";
  EXPECT_EQ(NormalFingerprint(hex), fingerprint);
  EXPECT_EQ(NormalFingerprint(fingerprint), fingerprint);
  for (const std::string& bad : {hex.substr(2), hex + "00", fingerprint + ":", "zz" + hex.substr(2),
                                std::string()})
    EXPECT_EQ(NormalFingerprint(bad), "") << bad;

  TSettingEntries more = KeptSettings("url=u\r\norg=o\r\ncert=[::1]:8443 " + hex + "\r\n");
  EXPECT_EQ(RememberedCertificate(more, "::1", 8443), fingerprint);
  EXPECT_EQ(RememberedCertificate(more, "::1", 443), "");
  EXPECT_EQ(RememberedCertificate(more, "127.0.0.1", 8443), "");
  RememberCertificate(more, "srv.example", 443, fingerprint);
  EXPECT_EQ(EncodeSettings("u", "o", more), "url=u\r\norg=o\r\ncert=srv.example:443 " +
                                                fingerprint + "\r\n");
}

TEST(SettingsFile, BlankMeansOnlySpacesAndControls) {
  EXPECT_TRUE(IsBlankSetting(""));
  EXPECT_TRUE(IsBlankSetting(" \t\r\x01 "));
  EXPECT_FALSE(IsBlankSetting("  x "));
  EXPECT_FALSE(IsBlankSetting("\xC2\xA0"));  // a no-break space is text
}
