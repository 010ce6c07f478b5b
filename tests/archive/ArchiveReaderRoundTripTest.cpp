// Archives written by TZLBArchive read back by the member reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "archive/ArchiveReader.h"
#include "archive/ArchiveTestSupport.h"
#include "archive/ZLBArchive.h"
#include "runtime/Stream.h"

namespace vorlen {
namespace {

namespace fs = std::filesystem;
using test::ListTree;
using test::ReadFile;
using test::TScratchDir;
using test::U;
using test::WriteFile;

TEST(ArchiveReaderRoundTrip, ReadsWhatTheComponentWritesAtEveryLevel) {
  TScratchDir dir;
  const std::string mixed = test::MixedBytes(200000, 5);
  fs::create_directory(dir.Path() / "src");
  WriteFile(dir / "src/mixed.bin", mixed);
  WriteFile(dir / "src/Отчет за юни.txt", "Здравей\n");
  WriteFile(dir / "src/empty", "");

  for (TFileCompressionLevel level : {fcNone, fcFastest, fcDefault, fcMaximum}) {
    SCOPED_TRACE(static_cast<int>(level));
    const std::string archiveName = dir / ("a" + std::to_string(level) + ".rar");
    {
      TZLBArchive archive;
      archive.CompressionLevel = level;
      archive.CreateArchive(archiveName);
      std::vector<std::string> files{dir / "src/mixed.bin", dir / "src/Отчет за юни.txt",
                                     dir / "src/empty"};
      archive.AddFiles(files);
      ASSERT_EQ(archive.EntryCount(), 3);
    }
    TArchiveReader reader(archiveName);
    ASSERT_EQ(reader.Entries().size(), 3u);
    EXPECT_EQ(reader.Entries()[0].StoredRaw, level == fcNone ? 1 : 0);
    EXPECT_EQ(reader.RelativePath(1), "Отчет за юни.txt");
    reader.Verify();
    const fs::path out = dir.Path() / ("out" + std::to_string(level));
    reader.ExtractAll(out.string());
    EXPECT_EQ(ListTree(out), (std::set<std::string>{"mixed.bin", "Отчет за юни.txt", "empty"}));
    EXPECT_EQ(ReadFile(out / "mixed.bin"), mixed);
    EXPECT_EQ(ReadFile(out / U("Отчет за юни.txt")), "Здравей\n");
    EXPECT_EQ(ReadFile(out / "empty"), "");
  }
}

TEST(ArchiveReaderRoundTrip, SavedPathsLandBelowTheTarget) {
  TScratchDir dir;
  fs::create_directories(dir.Path() / "src" / U("Папка"));
  WriteFile(dir / "src/Папка/x.txt", "x");
  WriteFile(dir / "src/top.txt", std::string(70000, 't'));
  const std::string archiveName = dir / "p.rar";
  {
    TZLBArchive archive;
    archive.SavePaths = true;
    archive.CreateArchive(archiveName);
    std::vector<std::string> files{dir / "src/top.txt"};
    archive.AddFiles(files);
    // Extending keeps the first member where it was.
    ASSERT_TRUE(archive.OpenArchive(archiveName));
    files = {dir / "src/Папка/x.txt"};
    archive.AddFiles(files);
    ASSERT_EQ(archive.EntryCount(), 2);
  }
  TArchiveReader reader(archiveName);
  ASSERT_EQ(reader.Entries().size(), 2u);
  // The stored directory is the absolute source directory without its drive.
  const std::string stored = reader.StoredName(1);
  ASSERT_EQ(stored.front(), '\\');
  EXPECT_TRUE(stored.ends_with("\\src\\Папка\\x.txt")) << stored;
  const fs::path out = dir.Path() / "out";
  reader.ExtractAll(out.string());
  fs::path relative = U(reader.RelativePath(1));
  EXPECT_FALSE(relative.is_absolute());
  EXPECT_EQ(ReadFile(out / relative), "x");
  EXPECT_EQ(ReadFile(out / U(reader.RelativePath(0))), std::string(70000, 't'));
  // Nothing was written outside the target.
  EXPECT_EQ(ListTree(dir.Path()).count("out"), 1u);
  for (const std::string& item : ListTree(dir.Path()))
    EXPECT_TRUE(item.rfind("src", 0) == 0 || item.rfind("out", 0) == 0 || item == "p.rar") << item;
}

}  // namespace
}  // namespace vorlen
