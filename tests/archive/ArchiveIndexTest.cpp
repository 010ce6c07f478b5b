// The rules both openers share: what the index reader refuses, and the bounds a caller sets.
#include <gtest/gtest.h>

#include <string>

#include "ZLBArchiveTestUtil.h"
#include "archive/ArchiveReader.h"
#include "archive/ZLBArchive.h"

namespace vorlen {
namespace {

using test::TArchiveBuilder;
using test::TScratchDir;
using test::WriteFile;

std::string ReaderError(const std::string& path, const TArchiveLimits& limits = {}) {
  try {
    TArchiveReader reader(path, limits);
  } catch (const EArchiveError& error) {
    return error.what();
  }
  return "(opened)";
}

std::string RecordOf(const TArchiveEntry& entry) {
  return std::string(reinterpret_cast<const char*>(&entry), sizeof entry);
}

TEST(ArchiveIndex, TheComponentRefusesWhatTheReaderRefuses) {
  TScratchDir dir;
  const std::string list = "Unable to read archive file list";
  TArchiveBuilder builder;
  builder.AddRaw("a.txt", "", "abc");
  const std::string record = RecordOf(builder.Entries()[0]);
  const auto outside = [] {
    TArchiveBuilder b;
    b.AddRaw("a.txt", "", "abc").DataOffset = 1;
    return b.Build();
  }();
  const auto bomb = [] {
    TArchiveBuilder b;
    b.AddStream("z", "", std::string(20000, 'z'), test::Deflate(std::string(20000, 'z'), 9))
        .FileSize = 20 * 1032 + 1;  // more than 20 stored bytes could ever inflate to
    b.Entries()[0].StoredSize = 20;
    return b.Build();
  }();
  struct TCase {
    const char* What;
    std::string Archive;
    std::string ReaderText;
  };
  const TCase cases[] = {
      {"slack after raw records", TArchiveBuilder::WithTrailer("abc", record + "x", false, 1),
       list},
      {"bytes after the registry's stream",
       TArchiveBuilder::WithTrailer("abc", test::Deflate(record, 6) + "x", true, 1), list},
      {"a record outside the data area", outside,
       list + ": entry 1 has data outside the member data area"},
      {"a member claiming more than deflate can give", bomb,
       list + ": entry 1 has more bytes than its stored size can inflate to"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    WriteFile(dir / "x.rar", c.Archive);
    EXPECT_EQ(ReaderError(dir / "x.rar"), c.ReaderText);
    TZLBArchive archive;
    EXPECT_EQ(test::MessageOf([&] { archive.OpenArchive(dir / "x.rar"); }), list);
    EXPECT_EQ(archive.ArchiveName(), "");
    EXPECT_EQ(archive.EntryCount(), 0);
  }
  // The component's failures are of the reader's type as well.
  TZLBArchive archive;
  EXPECT_THROW(archive.OpenArchive(dir / "x.rar"), EArchiveError);
  TArchiveEntry entry{};
  EXPECT_THROW(archive.GetEntry(0, entry), EArchiveError);
}

TEST(ArchiveIndex, ReaderHoldsToTheCallersBounds) {
  TScratchDir dir;
  TArchiveBuilder builder;
  for (const char* name : {"a", "b", "c"}) builder.AddRaw(name, "", std::string(600, *name));
  WriteFile(dir / "three.rar", builder.Build());
  EXPECT_EQ(ReaderError(dir / "three.rar"), "(opened)");
  EXPECT_EQ(ReaderError(dir / "three.rar", {.MaxMembers = 3, .MaxExtractedBytes = 1800}),
            "(opened)");
  EXPECT_EQ(ReaderError(dir / "three.rar", {.MaxMembers = 2}),
            "Unable to read archive file list: it claims 3 members, more than the 2 allowed");
  EXPECT_EQ(ReaderError(dir / "three.rar", {.MaxExtractedBytes = 1799}),
            "The archive's members come to more than the 1799 bytes allowed");

  // The default bound refuses a claim of millions from the trailer alone.
  WriteFile(dir / "claim.rar",
            TArchiveBuilder::WithTrailer("", std::string(64, '\0'), true, 4000000));
  EXPECT_EQ(ReaderError(dir / "claim.rar"),
            "Unable to read archive file list: it claims 4000000 members, more than the 1000000 "
            "allowed");
}

TEST(ArchiveIndex, AnImpossibleRecordStopsAHugeRegistryWhereItStands) {
  TScratchDir dir;
  // Claims 4,000,000 records in a file just large enough for deflate to hold them; the second
  // record is impossible, and what follows the short stream is no zlib data at all.
  TArchiveBuilder builder;
  builder.AddRaw("a.txt", "", "abc");
  builder.AddRaw("b.txt", "", "def").DataOffset = 1000;
  std::string records = RecordOf(builder.Entries()[0]) + RecordOf(builder.Entries()[1]);
  std::string registry = test::Deflate(records + std::string(100000, '\0'), 9);
  registry += test::RandomBytes(4000000 * 532 / 1032 + 1, 9);
  WriteFile(dir / "huge.rar", TArchiveBuilder::WithTrailer("abcdef", registry, true, 4000000));
  EXPECT_EQ(ReaderError(dir / "huge.rar", {.MaxMembers = 5000000}),
            "Unable to read archive file list: entry 2 has data outside the member data area");
}

}  // namespace
}  // namespace vorlen
