#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Paths.h"

using namespace vorlen;

TEST(Paths, SplitsDirectoryNameAndExtension) {
#ifdef _WIN32
  EXPECT_EQ(ExtractFileDir("C:\\Data\\Sub\\report.doc"), "C:\\Data\\Sub\\");
  EXPECT_EQ(ExtractFileName("C:\\Data\\Sub\\report.doc"), "report.doc");
  EXPECT_EQ(ExtractFileDir("C:report.doc"), "C:");
  EXPECT_EQ(ExtractFileDir("C:/mixed\\a/b.txt"), "C:/mixed\\a/");
#else
  EXPECT_EQ(ExtractFileDir("/data/sub/report.doc"), "/data/sub/");
  EXPECT_EQ(ExtractFileName("/data/sub/report.doc"), "report.doc");
  EXPECT_EQ(ExtractFileDir("/report.doc"), "/");
  EXPECT_EQ(ExtractFileName("back\\slash.txt"), "back\\slash.txt");  // a legal name character here
#endif
  EXPECT_EQ(ExtractFileDir("report.doc"), "");
  EXPECT_EQ(ExtractFileName("report.doc"), "report.doc");
  EXPECT_EQ(ExtractFileName(std::string("dir") + PathDelim), "");
  EXPECT_EQ(ExtractFileExt("archive.tar.gz"), ".gz");
  EXPECT_EQ(ExtractFileExt(std::string("dir.d") + PathDelim + "README"), "");
  EXPECT_EQ(ExtractFileExt("name."), ".");
  EXPECT_EQ(ExtractFileExt(".hidden"), ".hidden");
  EXPECT_EQ(ExtractFileExt(""), "");
}

TEST(Paths, RemoveDriveAndStoredSeparators) {
  EXPECT_EQ(RemoveDrive("C:\\Data\\Sub\\"), "\\Data\\Sub\\");
  EXPECT_EQ(RemoveDrive("\\\\server\\share\\"), "\\\\server\\share\\");
  EXPECT_EQ(RemoveDrive("a:b:c"), "b:c");  // only up to the first colon
  EXPECT_EQ(RemoveDrive(""), "");
  EXPECT_EQ(StoredPathFromNative("/tmp/a/b/"), "\\tmp\\a\\b\\");
  EXPECT_EQ(StoredPathFromNative("\\already\\"), "\\already\\");
  EXPECT_EQ(NativePathFromStored("\\Data\\Sub\\"),
            std::string() + PathDelim + "Data" + PathDelim + "Sub" + PathDelim);
}

TEST(Paths, Utf8NamesReachTheFileSystemUnchanged) {
  namespace fs = std::filesystem;
  fs::path root;
  for (unsigned n = 0; root.empty() || !fs::create_directory(root); ++n)
    root = fs::temp_directory_path() / ("vorlen-paths-" + std::to_string(n));
  const std::string dir = Utf8FromFsPath(root) + PathDelim + "Папка";
  const std::string file = dir + PathDelim + "Отчет.txt";
  fs::create_directory(FsPathFromUtf8(dir));
  std::ofstream(FsPathFromUtf8(file)) << "x";
  EXPECT_TRUE(DirectoryExists(dir));
  EXPECT_TRUE(PathExists(dir));
  EXPECT_TRUE(PathExists(file));
  EXPECT_FALSE(DirectoryExists(file));
  EXPECT_FALSE(PathExists(dir + PathDelim + "missing"));
  EXPECT_FALSE(DirectoryExists(dir + PathDelim + "missing"));
  // The name the file system lists is the UTF-8 text it was given.
  {  // closed before the removal, which Windows refuses while the folder is being listed
    const fs::directory_iterator listing(FsPathFromUtf8(dir));
    ASSERT_NE(listing, fs::directory_iterator());
    EXPECT_EQ(Utf8FromFsPath(listing->path().filename()), "Отчет.txt");
  }
  fs::remove_all(root);
}
