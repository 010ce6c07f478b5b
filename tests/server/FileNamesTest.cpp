#include "server/FileNames.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "server/SessionId.h"

namespace vorlen {
namespace {

TEST(ServerFileNames, AcceptsPlainNames) {
  for (const char* name : {"report.pdf", "vorarch._000", "sendDetails.txt", "a..b", ".profile",
                           "\xD0\x9E\xD1\x82\xD1\x87\xD0\xB5\xD1\x82.txt", "README"}) {
    EXPECT_TRUE(IsBareFileName(name)) << name;
  }
  EXPECT_TRUE(IsBareFileName(std::string(255, 'a')));
}

TEST(ServerFileNames, RefusesNamesThatLeaveTheFolderOrAliasAnother) {
  for (const char* name :
       {"",    ".",    "..",  "../x",    "..\\x", "/etc/x", "\\x",      "C:x", "C:\\x",
        "a/b", "x\\",  "a:b", "name.",   "name ", "a*b",    "a?b",      "a|b", "a<b",
        "a>b", "a\"b", "NUL", "nul.txt", "CON",   "com1",   "LPT9.doc", "aux"}) {
    EXPECT_FALSE(IsBareFileName(name)) << name;
  }
  EXPECT_FALSE(IsBareFileName(std::string("a\0b", 3)));
  EXPECT_FALSE(
      IsBareFileName("a\x01"
                     "b"));
  EXPECT_FALSE(IsBareFileName("tab\there"));
  EXPECT_FALSE(IsBareFileName("del\x7f"));
  EXPECT_FALSE(IsBareFileName(std::string(256, 'a')));
  // Devices as Windows finds them: trailing blanks and dots, superscript port numbers, consoles.
  for (const char* name : {"CON .txt", "con..txt", "COM\xC2\xB9.txt", "lpt\xC2\xB3", "CONIN$",
                           "conout$.log", "AUX  .x"}) {
    EXPECT_EQ(FileNameFault(name), "is a Windows device name") << name;
  }
  // Invisible characters, each named: bidirectional override and isolate, zero width, NEL,
  // line separator, byte order mark; and bytes that are not UTF-8.
  EXPECT_EQ(FileNameFault("invoice\xE2\x80\xAEtxt.exe"),
            "holds the control or format character U+202E");
  EXPECT_EQ(FileNameFault("a\xE2\x81\xA6" "b"), "holds the control or format character U+2066");
  EXPECT_EQ(FileNameFault("a\xE2\x80\x8B"), "holds the control or format character U+200B");
  EXPECT_EQ(FileNameFault("a\xC2\x85"), "holds the control or format character U+0085");
  EXPECT_EQ(FileNameFault("a\xE2\x80\xA8"), "holds the control or format character U+2028");
  EXPECT_EQ(FileNameFault("\xEF\xBB\xBF" "a"), "holds the control or format character U+FEFF");
  EXPECT_EQ(FileNameFault("a\xFF.txt"), "is not UTF-8");
  EXPECT_EQ(FileNameFault("a\xD0"), "is not UTF-8");
  // Device names only matter as the whole stem.
  EXPECT_TRUE(IsBareFileName("console.log"));
  EXPECT_TRUE(IsBareFileName("com10"));
}

TEST(ServerFileNames, KeysMatchNamesThatAreOneFileOnWindowsOrMacOs) {
  const std::pair<const char*, const char*> same[] = {
      {"\xD0\x9E\xD1\x82\xD1\x87\xD0\xB5\xD1\x82.txt",
       "\xD0\x9E\xD0\xA2\xD0\xA7\xD0\x95\xD0\xA2.txt"},         // Отчет / ОТЧЕТ
      {"caf\xC3\xA9.txt", "cafe\xCC\x81.txt"},                        // NFC / NFD
      {"\xD0\x99.txt", "\xD0\x98\xCC\x86.txt"},                     // Й / И + breve
      {"a.txt", "a.txt\xC2\xA0"},                                       // no-break space
      {"a.txt", "A.TXT. "},
      {"Stra\xC3\x9F" "e", "STRASSE"},
  };
  for (const auto& [a, b] : same) EXPECT_EQ(FileNameKey(a), FileNameKey(b)) << a << " / " << b;
  EXPECT_NE(FileNameKey("a.txt"), FileNameKey("b.txt"));
  EXPECT_NE(FileNameKey("\xD0\xB5.txt"), FileNameKey("e.txt"));  // Cyrillic е is no Latin e
}

TEST(ServerFileNames, PartNamesReplaceTheLastExtension) {
  EXPECT_EQ(PartFileName("vorarch.rar", 0), "vorarch._000");
  EXPECT_EQ(PartFileName("vorarch.rar", 1), "vorarch._001");
  EXPECT_EQ(PartFileName("report.pdf", 0), "report._000");
  EXPECT_EQ(PartFileName("a.b.c", 0), "a.b._000");
  EXPECT_EQ(PartFileName("README", 7), "README._007");
  EXPECT_EQ(PartFileName("vorarch.rar", 1000), "vorarch._1000");
  EXPECT_EQ(PartFileName(".profile", 12), "._012");
}

TEST(ServerSessionIds, AreUnguessableHexAndOnlyThatFormIsAccepted) {
  std::set<std::string> ids;
  for (int i = 0; i < 2000; ++i) {
    const std::string id = NewSessionId();
    EXPECT_TRUE(IsSessionId(id)) << id;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 2000u);
  for (const char* bad :
       {"", "0123456789abcdef0123456789abcde", "0123456789abcdef0123456789abcdef0",
        "0123456789ABCDEF0123456789ABCDEF", "0123456789abcdef0123456789abcde/",
        "../../../../../../../../../../etc"}) {
    EXPECT_FALSE(IsSessionId(bad)) << bad;
  }
}

}  // namespace
}  // namespace vorlen
