#include <gtest/gtest.h>

#include <filesystem>

#include "platform/ExePath.h"

using namespace vorlen;

TEST(ExePath, NamesThisTestProgramAndItsDirectory) {
  const std::string path = ExecutablePath();
  const std::string dir = ExecutableDir();
  EXPECT_TRUE(std::filesystem::path(path).is_absolute()) << path;
  EXPECT_EQ(std::filesystem::path(path).stem().string(), "platform_tests");
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(dir.back() == '/' || dir.back() == '\\') << dir;
  EXPECT_EQ(path.rfind(dir, 0), 0u);
  EXPECT_EQ(path.substr(dir.size()).find_first_of("/\\"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
}
