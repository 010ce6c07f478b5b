#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Environment.h"
#include "platform/Paths.h"
#include "platform/TempFiles.h"
#include "support/ScopedEnv.h"
#include "send/UploadRules.h"

namespace vorlen {
namespace {

using test::TEnvGuard;

TEST(UploadRulesTest, PartNamesReplaceTheLastExtension) {
  EXPECT_EQ("vorarch._000", PartName("vorarch.rar", 0));
  EXPECT_EQ("vorarch._001", PartName("vorarch.rar", 1));
  EXPECT_EQ("report._000", PartName("report.pdf", 0));
  EXPECT_EQ("a.b._000", PartName("a.b.c", 0));
  EXPECT_EQ("README._007", PartName("README", 7));
  EXPECT_EQ("x._1000", PartName("x.bin", 1000));
  EXPECT_EQ("._012", PartName(".profile", 12));
}

TEST(UploadRulesTest, PartHashIsTheFinishedCrcInCapitals) {
  EXPECT_EQ("352441C2", PartHash("abc", 3));
  EXPECT_EQ("00000000", PartHash("", 0));
  EXPECT_EQ("CBF43926", PartHash("123456789", 9));
  EXPECT_EQ("3D3F4819", PartHash("a\0", 2));  // a NUL byte is data, not an end
  EXPECT_EQ("001685F0", PartHash("x31", 3));  // leading zeros are kept
}

TEST(UploadRulesTest, ProgressRoundsHalvesToEven) {
  EXPECT_EQ(100, PartProgress(0, 1));
  EXPECT_EQ(50, PartProgress(1, 1));
  EXPECT_EQ(100, PartProgress(1, 2));
  EXPECT_EQ(33, PartProgress(2, 1));
  EXPECT_EQ(67, PartProgress(2, 2));
  EXPECT_EQ(100, PartProgress(2, 3));
  const int eight[] = {12, 25, 38, 50, 62, 75, 88, 100};
  for (int i = 1; i <= 8; ++i) EXPECT_EQ(eight[i - 1], PartProgress(7, i)) << i;
  // Part counts beyond what 32 bits of bytes would allow still come out right.
  EXPECT_EQ(100, PartProgress(10485, 10486));
  EXPECT_EQ(50, PartProgress(20971, 10486));
}

TEST(UploadRulesTest, ArchiveExtensionsIgnoreCase) {
  for (const char* ext : {".rar", ".zip", ".ace", ".7z", ".ZIP", ".Rar", ".7Z", ".aCe"})
    EXPECT_TRUE(IsArchiveExtension(ext)) << ext;
  for (const char* ext : {"", ".", ".pdf", ".tar", ".gz", "zip", ".zipx", ".7", ".r"})
    EXPECT_FALSE(IsArchiveExtension(ext)) << ext;
}

TEST(UploadRulesTest, TmpIsFoundWhateverTheCaseOfItsName) {
  TEnvGuard guard({"Tmp", "TMP", "tmp", "tMp"});
  TEnvGuard::Put("TMP", "/var/upper");
  EXPECT_EQ("/var/upper", GetEnvironmentVariableIgnoreCase("Tmp"));
  EXPECT_EQ(std::string("/var/upper") + PathDelim, TempArchiveDir());
  TEnvGuard::Put("Tmp", "/var/exact/");  // an exact match wins and a separator is not doubled
  EXPECT_EQ("/var/exact/", GetEnvironmentVariableIgnoreCase("Tmp"));
  EXPECT_EQ("/var/exact/", TempArchiveDir());
  EXPECT_EQ("", GetEnvironmentVariableIgnoreCase("VORLEN_SURELY_UNSET_NAME"));
}

TEST(UploadRulesTest, UnsetOrEmptyTmpFallsBackToTheSystemTemporaryDirectory) {
  TEnvGuard guard({"Tmp", "TMP", "tmp"});
  const std::string system = SystemTempDir();
  ASSERT_FALSE(system.empty());
  const std::string expected = IsPathDelimiter(system.back()) ? system : system + PathDelim;
  EXPECT_EQ(expected, TempArchiveDir());
  TEnvGuard::Put("TMP", "");
  EXPECT_EQ(expected, TempArchiveDir());
  EXPECT_NE("/", TempArchiveDir());
}

TEST(UploadRulesTest, ShortDateHasNoTimeOfDay) {
  const std::string date = LocalShortDate();
  ASSERT_FALSE(date.empty());
  EXPECT_EQ(std::string::npos, date.find(':')) << date;
}

}  // namespace
}  // namespace vorlen
