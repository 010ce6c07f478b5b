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
  // Device names only matter as the whole stem.
  EXPECT_TRUE(IsBareFileName("console.log"));
  EXPECT_TRUE(IsBareFileName("com10"));
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
