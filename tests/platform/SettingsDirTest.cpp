#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/SettingsDir.h"
#include "support/ScopedEnv.h"
#include "support/ScratchDir.h"

using namespace vorlen;
using vorlen::test::TEnvGuard;
namespace fs = std::filesystem;

#ifndef _WIN32
TEST(SettingsDir, BesideTheProgramWhenWritableElseInTheUsersConfigFolder) {
  test::TScratchDir dir;
  TEnvGuard env({"XDG_CONFIG_HOME", "HOME"});
  const std::string exeDir = dir.Path().string() + "/bin/";
  fs::create_directory(dir.Path() / "bin");
  TEnvGuard::Put("XDG_CONFIG_HOME", dir / "xdg");
  TEnvGuard::Put("HOME", dir / "home");
  EXPECT_EQ(SettingsDir(exeDir), exeDir);
  EXPECT_FALSE(fs::exists(dir.Path() / "xdg"));  // nothing made when it is not needed

  // A folder the program cannot write: a missing one stands in for it even for root, who may
  // write anywhere else.
  const std::string missing = dir.Path().string() + "/gone/";
  EXPECT_EQ(SettingsDir(missing), dir / "xdg" + "/vorlen-sender/");
  EXPECT_TRUE(fs::is_directory(dir.Path() / "xdg" / "vorlen-sender"));
  if (geteuid() != 0) {
    fs::permissions(dir.Path() / "bin", fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_EQ(SettingsDir(exeDir), dir / "xdg" + "/vorlen-sender/");
    fs::permissions(dir.Path() / "bin", fs::perms::owner_write, fs::perm_options::add);
  }

  // Without XDG_CONFIG_HOME, or with a relative one, ~/.config; the folders on the way are made.
  TEnvGuard::Put("XDG_CONFIG_HOME", std::nullopt);
  EXPECT_EQ(SettingsDir(missing), dir / "home" + "/.config/vorlen-sender/");
  EXPECT_TRUE(fs::is_directory(dir.Path() / "home" / ".config" / "vorlen-sender"));
  TEnvGuard::Put("XDG_CONFIG_HOME", "relative/xdg");
  EXPECT_EQ(SettingsDir(missing), dir / "home" + "/.config/vorlen-sender/");

  // A folder that cannot be made is still the answer, so that writing there fails visibly.
  TEnvGuard::Put("XDG_CONFIG_HOME", dir / "bin/file");
  { std::ofstream(dir / "bin/file") << "x"; }
  EXPECT_EQ(SettingsDir(missing), dir / "bin/file" + "/vorlen-sender/");
}
#endif
