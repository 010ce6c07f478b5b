#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/TempFileGuard.h"
#include "platform/TempFiles.h"
#include "runtime/Exception.h"
#include "support/ScopedEnv.h"

using namespace vorlen;
namespace fs = std::filesystem;

using test::TScopedEnv;

#ifndef _WIN32
TEST(TempFiles, SystemTempDirFollowsTmpdirWithoutTrailingSeparator) {
  {
    TScopedEnv tmp("TMPDIR", "/var/tmp/some/where//");
    EXPECT_EQ(SystemTempDir(), "/var/tmp/some/where");
  }
  {
    TScopedEnv tmp("TMPDIR", std::nullopt);
    EXPECT_EQ(SystemTempDir(), "/tmp");
  }
  {
    TScopedEnv tmp("TMPDIR", "");
    EXPECT_EQ(SystemTempDir(), "/tmp");
  }
  {
    TScopedEnv tmp("TMPDIR", "/");
    EXPECT_EQ(SystemTempDir(), "/");
  }
}
#endif

TEST(TempFiles, CreateTempFileMakesNewEmptyUniqueFiles) {
  const std::string dir = CreateTempFile(SystemTempDir(), "vorlen-tempfiles-");
  fs::remove(dir);
  fs::create_directory(dir);
  std::set<std::string> names;
  for (int i = 0; i < 20; ++i) {
    const std::string name = CreateTempFile(dir, "ZLB");
    EXPECT_TRUE(fs::is_regular_file(name));
    EXPECT_EQ(fs::file_size(name), 0u);
    EXPECT_EQ(fs::path(name).parent_path(), fs::path(dir));
    EXPECT_EQ(fs::path(name).filename().string().substr(0, 3), "ZLB");
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 20u);  // every call a new file, none reused
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 20);

  const std::string missing = dir + "/no-such-dir";
  try {
    CreateTempFile(missing, "ZLB");
    ADD_FAILURE() << "a temporary file in a missing directory";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find(missing), std::string::npos) << e.Message();
  }
  fs::remove_all(dir);
}

TEST(TempFiles, GuardRemovesFilesAndFoldersUnlessKept) {
  const fs::path base =
      fs::temp_directory_path() /
      fs::path(CreateTempFile(fs::temp_directory_path().string(), "guard")).filename();
  const fs::path folder = base.string() + ".d";
  {
    TTempFileGuard file(base);
    fs::create_directories(folder / "sub");
    std::ofstream(folder / "sub" / "x") << "x";
    TTempFileGuard tree;
    tree.Reset(folder);
    EXPECT_EQ(tree.Path(), folder);
  }
  EXPECT_FALSE(fs::exists(base));
  EXPECT_FALSE(fs::exists(folder));

  std::ofstream(base) << "kept";
  {
    TTempFileGuard kept(base);
    kept.Keep();
  }
  EXPECT_TRUE(fs::exists(base));
  {
    TTempFileGuard moved(base);
    moved.Reset(folder);  // the first path goes at once
    EXPECT_FALSE(fs::exists(base));
  }
}
