#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/Exception.h"
#include "mime/MimeFiles.h"
#include "soap/SoapTestSupport.h"

namespace vorlen {
namespace {

#ifndef _WIN32
// A dangling link makes a name that "does not exist" yet cannot be created: the same thing a
// rival request that took the name and removed it again leaves behind.
TEST(MimeFiles, NameTakenAndGoneAgainMovesOnButAClosedDirectoryFails) {
  test::TScratchDir scratch;
  const std::filesystem::path dir = scratch.Path();
  std::filesystem::create_symlink(dir / "nowhere", dir / "Cache0");
  std::string path;
  int number = -1;
  auto file = CreateNumberedFile(dir, "Cache", 0, path, number);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(number, 1);
  EXPECT_EQ(path, (dir / "Cache1").string());

  // Every candidate refused although none exists: the directory is what refuses.
  for (int n = 0; n < 40; ++n)
    std::filesystem::create_symlink(dir / "nowhere", dir / ("Busy" + std::to_string(n)));
  try {
    CreateNumberedFile(dir, "Busy", 0, path, number);
    FAIL() << "created " << path;
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "No access to temporary file");
  }
}
#endif

}  // namespace
}  // namespace vorlen
