// Joining parts into the merged file.
#include "server/FileConcat.h"

#include <gtest/gtest.h>

#include "runtime/Exception.h"
#include "server/ServerTestSupport.h"

namespace fs = std::filesystem;

namespace vorlen {
namespace {

using test::ReadFile;
using test::WriteFile;

TEST(FileConcatTest, JoinsInOrderReplacingTheTarget) {
  test::TScratchDir dir;
  WriteFile(dir.Path() / "a", "first|");
  WriteFile(dir.Path() / "empty", "");
  WriteFile(dir.Path() / "b", std::string("\0\r\n", 3));
  // A longer old target must not leave its tail behind.
  WriteFile(dir.Path() / "out", "an older and much longer merged file");
  ConcatenateFiles({dir.Path() / "a", dir.Path() / "empty", dir.Path() / "b", dir.Path() / "a"},
                   dir.Path() / "out");
  EXPECT_EQ(ReadFile(dir.Path() / "out"), std::string("first|\0\r\nfirst|", 15));

  ConcatenateFiles({}, dir.Path() / "none");
  EXPECT_TRUE(fs::exists(dir.Path() / "none"));
  EXPECT_EQ(fs::file_size(dir.Path() / "none"), 0u);
}

TEST(FileConcatTest, MissingSourceOrTargetFolderIsAnErrorNamingTheFile) {
  test::TScratchDir dir;
  WriteFile(dir.Path() / "a", "abc");
  try {
    ConcatenateFiles({dir.Path() / "a", dir.Path() / "gone"}, dir.Path() / "out");
    FAIL() << "a missing part was joined";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("gone"), std::string::npos) << e.what();
  }
  EXPECT_THROW(ConcatenateFiles({dir.Path() / "a"}, dir.Path() / "no-folder" / "out"), Exception);
  EXPECT_EQ(ReadFile(dir.Path() / "a"), "abc");
}

}  // namespace
}  // namespace vorlen
