#include <gtest/gtest.h>

#include <algorithm>

#include "ZLBArchiveTestUtil.h"
#include "runtime/Exception.h"

using namespace vorlen;
using namespace vorlen::test;

TEST(ZLBArchive, ArchiveWithoutMembersIsFortyFourExactBytes) {
  TScratch scratch;
  TTestArchive archive;
  const std::string path = scratch.File("empty.zlb");
  std::vector<std::string> files;
  Pack(archive, path, files);

  const std::string expected(
      "\x78\x9c\x03\x00\x00\x00\x00\x01"  // zlib stream of no bytes: the registry
      "\x3c\x0b\x6c\xc3"                  // ArchiveCrc
      "\x00\x00\x00\x00"                  // EntryCount
      "\x01\x00\x00\x00"                  // Marker
      "\x08\x00\x00\x00"                  // RegistrySize
      "\x00\x00\x00\x00"                  // RegistryOffset
      "\x01"                              // RegistryCompressed
      "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00",
      44);
  EXPECT_EQ(ReadFile(path), expected);
  // AddFiles re-opened what it wrote: an open archive, no members, nothing temporary left.
  EXPECT_EQ(archive.ArchiveName(), path);
  EXPECT_FALSE(archive.IsNewArchive());
  EXPECT_EQ(archive.EntryCount(), 0);
  EXPECT_EQ(archive.Trailer().RegistrySize, 8);
  EXPECT_TRUE(scratch.TempFiles().empty());
}

TEST(ZLBArchive, ThreeByteFileAtLevelNoneIsStoredRawByteForByte) {
  TScratch scratch;
  TTestArchive archive;
  archive.CompressionLevel = fcNone;
  const std::string path = scratch.File("abc.zlb");
  Pack(archive, path, {scratch.Write("abc", "abc")});

  const std::string record = std::string(
                                 "\x03"
                                 "abc",
                                 4) +
                             std::string(252, '\0') +  // FileName
                             std::string(256, '\0') +  // FilePath
                             std::string(
                                 "\x03\x00\x00\x00"   // FileSize
                                 "\x03\x00\x00\x00"   // StoredSize
                                 "\x00\x00\x00\x00"   // DataOffset
                                 "\xc2\x41\x24\x35"   // Crc
                                 "\x01\x00\x00\x00",  // raw, level 0
                                 20);
  ASSERT_EQ(record.size(), 532u);
  const std::string expected =
      std::string("abc") + std::string("\x78\x01\x01\x14\x02\xeb\xfd", 7) +
      record +                              // registry as a stored zlib block
      std::string("\x73\x40\x02\x8d", 4) +  // its Adler-32
      std::string(
          "\xf5\x3a\xde\x87\x01\x00\x00\x00\x01\x00\x00\x00\x1f\x02\x00\x00"
          "\x03\x00\x00\x00\x01",
          21) +
      std::string(15, '\0');
  EXPECT_EQ(ReadFile(path), expected);

  TArchiveEntry entry{};
  archive.GetEntry(0, entry);
  EXPECT_EQ(RecordBytes(entry), record);

  // At the default level too: its zlib stream would be longer than the three bytes.
  TTestArchive byDefault;
  const std::string defaultPath = scratch.File("abc-default.zlb");
  Pack(byDefault, defaultPath, {scratch.File("abc")});
  byDefault.GetEntry(0, entry);
  EXPECT_EQ(RecordBytes(entry), record);
  EXPECT_EQ(ReadFile(defaultPath).substr(0, 5), std::string("abc\x78\x9c", 5));
}

TEST(ZLBArchive, CompressibleFileIsStoredAsOneZlibStreamAtEachLevel) {
  TScratch scratch;
  const std::string text = Repeat("Vorlen sends files. ", 5000);
  const std::string source = scratch.Write("text.txt", text);
  const struct {
    TFileCompressionLevel Level;
    const char* Header;
  } cases[] = {{fcFastest, "\x78\x01"}, {fcDefault, "\x78\x9c"}, {fcMaximum, "\x78\xda"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Level));
    TTestArchive archive;
    archive.CompressionLevel = c.Level;
    const std::string path = scratch.File("text" + std::to_string(c.Level) + ".zlb");
    Pack(archive, path, {source});
    ASSERT_EQ(archive.EntryCount(), 1);
    TArchiveEntry entry{};
    archive.GetEntry(0, entry);
    EXPECT_EQ(entry.StoredRaw, 0);
    EXPECT_EQ(entry.Level, static_cast<uint8_t>(c.Level));
    EXPECT_EQ(entry.FileSize, static_cast<int32_t>(text.size()));
    EXPECT_EQ(entry.DataOffset, 0);
    EXPECT_LT(entry.StoredSize, entry.FileSize);
    EXPECT_EQ(entry.Crc, ZlibCrc(text));
    EXPECT_EQ(Text(entry.FileName), "text.txt");

    const std::string bytes = ReadFile(path);
    const std::string member = bytes.substr(0, static_cast<size_t>(entry.StoredSize));
    EXPECT_EQ(member.substr(0, 2), std::string(c.Header, 2));
    EXPECT_EQ(Inflate(member, text.size()), text);
    // The registry starts right after the member and inflates to the one record.
    const TArchiveTrailer trailer = TrailerOf(bytes);
    EXPECT_EQ(trailer.RegistryOffset, entry.StoredSize);
    EXPECT_EQ(trailer.RegistryCompressed, 1);
    EXPECT_EQ(static_cast<size_t>(trailer.RegistryOffset + trailer.RegistrySize + kTrailerSize),
              bytes.size());
    EXPECT_EQ(Inflate(bytes.substr(static_cast<size_t>(trailer.RegistryOffset),
                                   static_cast<size_t>(trailer.RegistrySize)),
                      532),
              RecordBytes(entry));
    EXPECT_EQ(trailer.ArchiveCrc, ZlibCrc(bytes.substr(0, bytes.size() - kTrailerSize)));
  }
}

TEST(ZLBArchive, LevelNoneStoresEveryMemberRawButCompressesTheRegistry) {
  TScratch scratch;
  const std::string text = Repeat("aaaa", 10000);
  TTestArchive archive;
  archive.CompressionLevel = fcNone;
  const std::string path = scratch.File("none.zlb");
  Pack(archive, path, {scratch.Write("a.txt", text), scratch.Write("empty.txt", "")});
  ASSERT_EQ(archive.EntryCount(), 2);
  TArchiveEntry first{};
  TArchiveEntry empty{};
  archive.GetEntry(0, first);
  archive.GetEntry(1, empty);
  EXPECT_EQ(first.StoredRaw, 1);
  EXPECT_EQ(first.Level, 0);
  EXPECT_EQ(first.StoredSize, 40000);
  EXPECT_EQ(empty.StoredRaw, 1);  // an empty file is always raw, with sizes 0
  EXPECT_EQ(empty.FileSize, 0);
  EXPECT_EQ(empty.StoredSize, 0);
  EXPECT_EQ(empty.DataOffset, 40000);
  EXPECT_EQ(empty.Crc, 0u);
  const std::string bytes = ReadFile(path);
  EXPECT_EQ(bytes.substr(0, 40000), text);
  EXPECT_EQ(bytes.substr(40000, 2), std::string("\x78\x01", 2));
  EXPECT_EQ(TrailerOf(bytes).RegistryCompressed, 1);
}

TEST(ZLBArchive, AnyChangedByteBeforeTheTrailerFailsTheChecksum) {
  TScratch scratch;
  const std::string path = scratch.File("a.zlb");
  {
    TTestArchive archive;
    Pack(archive, path,
         {scratch.Write("a.txt", Repeat("hello ", 100)),
          scratch.Write("b.bin", RandomBytes(300, 1))});
  }
  const std::string good = ReadFile(path);
  for (size_t offset : {size_t{0}, size_t{17}, good.size() / 2, good.size() - kTrailerSize - 1,
                        good.size() - kTrailerSize}) {
    SCOPED_TRACE(offset);
    std::string bad = good;
    bad[offset] = static_cast<char>(bad[offset] ^ 0x01);
    WriteFile(path, bad);
    TTestArchive archive;
    EXPECT_EQ(MessageOf([&] { archive.OpenArchive(path); }),
              "The archive file appears to be corrupted");
    EXPECT_EQ(archive.ArchiveName(), "");
    EXPECT_EQ(archive.EntryCount(), 0);
    EXPECT_EQ(archive.Trailer().RegistryOffset, 0);
    EXPECT_EQ(ReadFile(path), bad);  // reading never changes the file
  }
  WriteFile(path, good.substr(0, 20));  // too short to hold a trailer
  TTestArchive archive;
  EXPECT_EQ(MessageOf([&] { archive.OpenArchive(path); }),
            "The archive file appears to be corrupted");
  WriteFile(path, good);
  EXPECT_TRUE(archive.OpenArchive(path));
  EXPECT_EQ(archive.EntryCount(), 2);
}

TEST(ZLBArchive, OpenArchiveRefusesMissingFilesAndBadRegistries) {
  TScratch scratch;
  TTestArchive archive;
  EXPECT_FALSE(archive.OpenArchive(""));
  const std::string missing = scratch.File("missing.zlb");
  EXPECT_EQ(MessageOf([&] { archive.OpenArchive(missing); }), "Archive file not found");
  EXPECT_EQ(archive.ArchiveName(), missing);
  EXPECT_EQ(archive.EntryCount(), 0);
  EXPECT_EQ(MessageOf([&] { archive.OpenArchive(scratch.Path().string()); }),
            "Unable to open file (" + scratch.Path().string() + ")");

  const std::string path = scratch.File("a.zlb");
  Pack(archive, path, {scratch.Write("a.txt", "some text")});
  const std::string good = ReadFile(path);
  const TArchiveTrailer trailer = TrailerOf(good);

  // Damaged registries whose checksum was made to fit: the list cannot be read.
  auto withTrailer = [&](std::string body, TArchiveTrailer t) {
    t.ArchiveCrc = ZlibCrc(body);
    body.append(reinterpret_cast<const char*>(&t), kTrailerSize);
    return body;
  };
  std::string body = good.substr(0, good.size() - kTrailerSize);
  std::string brokenStream = body;
  brokenStream[static_cast<size_t>(trailer.RegistryOffset) + 5] ^= 0x55;
  TArchiveTrailer manyEntries = trailer;
  manyEntries.EntryCount = 1000;
  TArchiveTrailer negative = trailer;
  negative.EntryCount = -1;
  TArchiveTrailer pastEnd = trailer;
  pastEnd.RegistryOffset = static_cast<int32_t>(body.size()) + 1;
  TArchiveTrailer rawTooShort = trailer;
  rawTooShort.RegistryCompressed = 0;
  TArchiveTrailer bomb = trailer;  // claims more records than its few bytes can inflate to
  bomb.EntryCount = 4000000;
  for (const std::string& bad : {withTrailer(brokenStream, trailer), withTrailer(body, manyEntries),
                                 withTrailer(body, negative), withTrailer(body, pastEnd),
                                 withTrailer(body, rawTooShort), withTrailer(body, bomb)}) {
    WriteFile(path, bad);
    int opened = 0;
    archive.OnArchiveOpened = [&](TZLBArchive&) { ++opened; };
    EXPECT_EQ(MessageOf([&] { archive.OpenArchive(path); }), "Unable to read archive file list");
    EXPECT_EQ(archive.ArchiveName(), "");
    EXPECT_EQ(archive.EntryCount(), 0);
    EXPECT_EQ(opened, 0);
  }

  // A failing OnArchiveOpened handler is reported the same way and leaves nothing open.
  WriteFile(path, good);
  archive.OnArchiveOpened = [](TZLBArchive&) { throw Exception("handler failed"); };
  EXPECT_EQ(MessageOf([&] { archive.OpenArchive(path); }), "Unable to read archive file list");
  EXPECT_EQ(archive.ArchiveName(), "");
  EXPECT_EQ(archive.EntryCount(), 0);
}

TEST(ZLBArchive, RawRegistryIsReadBack) {
  TScratch scratch;
  // Build an archive whose records stand raw: "abc", then the record, then the trailer.
  TArchiveEntry entry{};
  entry.FileName.Length = 3;
  std::memcpy(entry.FileName.Text, "abc", 3);
  entry.FileSize = 3;
  entry.StoredSize = 3;
  entry.Crc = 0x352441C2;
  entry.StoredRaw = 1;
  std::string body = "abc" + RecordBytes(entry);
  TArchiveTrailer trailer{};
  trailer.EntryCount = 1;
  trailer.Marker = 1;
  trailer.RegistryOffset = 3;
  trailer.ArchiveCrc = ZlibCrc(body);
  const std::string path =
      scratch.Write("raw.zlb", body + std::string(reinterpret_cast<const char*>(&trailer), 36));
  TTestArchive archive;
  std::vector<std::pair<std::string, int32_t>> reports;
  archive.OnProgress = [&](const std::string& msg, int32_t percentage) {
    reports.emplace_back(msg, percentage);
  };
  ASSERT_TRUE(archive.OpenArchive(path));
  ASSERT_EQ(archive.EntryCount(), 1);
  TArchiveEntry read{};
  archive.GetEntry(0, read);
  EXPECT_EQ(RecordBytes(read), RecordBytes(entry));
  // No registry progress for raw records: the close, then the idle report with the name.
  const std::vector<std::pair<std::string, int32_t>> expected{{"", 0}, {path, 0}};
  EXPECT_EQ(reports, expected);
}

TEST(ZLBArchive, ExtendingAnOpenedArchiveKeepsOldMembersInPlace) {
  TScratch scratch;
  const std::string path = scratch.File("grow.zlb");
  const std::string a = Repeat("first member ", 300);
  const std::string b = RandomBytes(1000, 7);
  {
    TTestArchive archive;
    Pack(archive, path, {scratch.Write("a.txt", a), scratch.Write("b.bin", b)});
  }
  const std::string before = ReadFile(path);
  const TArchiveTrailer oldTrailer = TrailerOf(before);

  TTestArchive archive;
  ASSERT_TRUE(archive.OpenArchive(path));
  TArchiveEntry oldA{}, oldB{};
  archive.GetEntry(0, oldA);
  archive.GetEntry(1, oldB);
  std::vector<std::string> files{scratch.Write("c.txt", "ccc")};
  archive.AddFiles(files);
  EXPECT_TRUE(files.empty());
  ASSERT_EQ(archive.EntryCount(), 3);
  TArchiveEntry newA{}, newB{}, c{};
  archive.GetEntry(0, newA);
  archive.GetEntry(1, newB);
  archive.GetEntry(2, c);
  EXPECT_EQ(RecordBytes(newA), RecordBytes(oldA));
  EXPECT_EQ(RecordBytes(newB), RecordBytes(oldB));
  EXPECT_EQ(c.DataOffset, oldTrailer.RegistryOffset);
  EXPECT_EQ(c.DataOffset, oldB.DataOffset + oldB.StoredSize);
  const std::string after = ReadFile(path);
  const size_t dataArea = static_cast<size_t>(oldTrailer.RegistryOffset);
  EXPECT_EQ(after.substr(0, dataArea), before.substr(0, dataArea));
  EXPECT_EQ(after.substr(dataArea, 3), "ccc");
  EXPECT_EQ(Inflate(after.substr(static_cast<size_t>(newA.DataOffset),
                                 static_cast<size_t>(newA.StoredSize)),
                    a.size()),
            a);
  EXPECT_TRUE(scratch.TempFiles().empty());
}

TEST(ZLBArchive, FilesAboveTwentyMiBPassThroughATemporaryFile) {
  TScratch scratch;
  // Sparse files of zeros: quick to make and to compress.
  const std::string big = scratch.File("big.bin");
  const std::string edge = scratch.File("edge.bin");
  { std::ofstream(big, std::ios::binary); }
  { std::ofstream(edge, std::ios::binary); }
  fs::resize_file(big, 20971521);
  fs::resize_file(edge, 20971520);

  for (const auto& [source, tempNames] : {std::pair{big, size_t{2}}, std::pair{edge, size_t{1}}}) {
    SCOPED_TRACE(source);
    TTestArchive archive;
    Pack(archive, source + ".zlb", {source});
    // The output file always; a second "ZLB" file only for the file above the threshold.
    ASSERT_EQ(archive.TempNames.size(), tempNames);
    for (const std::string& name : archive.TempNames) {
      EXPECT_EQ(fs::path(name).parent_path(), fs::path(scratch.File("tmp")));
      EXPECT_EQ(fs::path(name).filename().string().substr(0, 3), "ZLB");
      EXPECT_FALSE(fs::exists(name));
    }
    EXPECT_TRUE(scratch.TempFiles().empty());
    ASSERT_EQ(archive.EntryCount(), 1);
    TArchiveEntry entry{};
    archive.GetEntry(0, entry);
    EXPECT_EQ(entry.FileSize, static_cast<int32_t>(fs::file_size(source)));
    EXPECT_EQ(entry.StoredRaw, 0);
    const std::string bytes = ReadFile(source + ".zlb");
    EXPECT_EQ(Inflate(bytes.substr(0, static_cast<size_t>(entry.StoredSize)),
                      static_cast<size_t>(entry.FileSize)),
              std::string(static_cast<size_t>(entry.FileSize), '\0'));
  }
}

TEST(ZLBArchive, FilesThatCannotBeReadAreReportedAndTheOthersKept) {
  TScratch scratch;
  const std::string a = scratch.Write("a.txt", "alpha");
  const std::string missing = scratch.File("missing.txt");
  const std::string b = scratch.Write("b.txt", "beta");
  const std::string dir = scratch.File("folder");
  scratch.Write("folder/inner.txt", "inner");
  TTestArchive archive;
  std::vector<std::string> errors;
  archive.OnErrorLogged = [&](const std::string& msg) { errors.push_back(msg); };
  const std::string path = scratch.File("a.zlb");
  archive.CreateArchive(path);
  std::vector<std::string> files{a, missing, dir, b};
  archive.AddFiles(files);
  EXPECT_TRUE(files.empty());
  // The directory is dropped silently without RecursePaths.
  EXPECT_EQ(errors, std::vector<std::string>{"Unable to open file (" + missing + ")"});
  ASSERT_EQ(archive.EntryCount(), 2);
  TArchiveEntry first{}, second{};
  archive.GetEntry(0, first);
  archive.GetEntry(1, second);
  EXPECT_EQ(Text(first.FileName), "a.txt");
  EXPECT_EQ(Text(second.FileName), "b.txt");
  EXPECT_EQ(second.DataOffset, 5);  // nothing of the missing file lies between them
  EXPECT_EQ(ReadFile(path).substr(0, 9), "alphabeta");
}

TEST(ZLBArchive, DuplicateKeysAreReportedAndStoredAgain) {
  TScratch scratch;
  const std::string one = scratch.Write("one/same.txt", "first");
  const std::string two = scratch.Write("two/SAME.txt", "second");
  TTestArchive archive;
  std::vector<std::string> errors;
  archive.OnErrorLogged = [&](const std::string& msg) { errors.push_back(msg); };
  Pack(archive, scratch.File("dup.zlb"), {one, two});
  // Without saved paths both keys are the bare names, equal but for the case of A-Z.
  EXPECT_EQ(errors, std::vector<std::string>{two + " already exists in the archive"});
  EXPECT_EQ(archive.EntryCount(), 2);

  errors.clear();
  TTestArchive withPaths;
  withPaths.SavePaths = true;
  withPaths.OnErrorLogged = [&](const std::string& msg) { errors.push_back(msg); };
  Pack(withPaths, scratch.File("dup2.zlb"), {one, two, one});
  EXPECT_EQ(errors, std::vector<std::string>{one + " already exists in the archive"});
  EXPECT_EQ(withPaths.EntryCount(), 3);
}

TEST(ZLBArchive, IndexOfFileComparesStoredKeysFoldingOnlyAtoZ) {
  TScratch scratch;
  const std::string b = scratch.Write("b.txt", "b");
  const std::string ya = scratch.Write("я.txt", "ya");
  {
    TTestArchive archive;
    Pack(archive, scratch.File("keys.zlb"), {b, ya});
    EXPECT_EQ(archive.IndexOfFile("b.txt"), 0);
    EXPECT_EQ(archive.IndexOfFile("B.TXT"), 0);
    EXPECT_EQ(archive.IndexOfFile(b), -1);  // the full path is no key when paths are not kept
    EXPECT_EQ(archive.IndexOfFile("я.TXT"), 1);
    EXPECT_EQ(archive.IndexOfFile("Я.txt"), -1);  // Cyrillic case is not folded
    EXPECT_EQ(archive.IndexOfFile("c.txt"), -1);
  }
  {
    TTestArchive archive;
    archive.SavePaths = true;
    Pack(archive, scratch.File("paths.zlb"), {b});
    std::string upper = b;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
    EXPECT_EQ(archive.IndexOfFile(b), 0);
    EXPECT_EQ(archive.IndexOfFile(upper), 0);
    EXPECT_EQ(archive.IndexOfFile("b.txt"), -1);
    TArchiveEntry entry{};
    archive.GetEntry(0, entry);
    std::string storedDir =
        RemoveDrive(Utf8FromFsPath(scratch.Path()) + "/");  // drives are not stored
    std::replace(storedDir.begin(), storedDir.end(), '/', '\\');
    EXPECT_EQ(Text(entry.FilePath), storedDir);
  }
}

TEST(ZLBArchive, GetEntryChecksBounds) {
  TScratch scratch;
  TTestArchive archive;
  Pack(archive, scratch.File("one.zlb"), {scratch.Write("x", "x")});
  TArchiveEntry entry{};
  EXPECT_EQ(MessageOf([&] { archive.GetEntry(-1, entry); }), "Index out of bounds");
  EXPECT_EQ(MessageOf([&] { archive.GetEntry(1, entry); }), "Index out of bounds");
  EXPECT_EQ(MessageOf([&] { archive.GetEntry(0, entry); }), "");
  EXPECT_EQ(Text(entry.FileName), "x");
}

TEST(ZLBArchive, NamesAreStoredInWindows1251AndCutTo255Bytes) {
  TScratch scratch;
  const std::string source = scratch.Write("Изпрати файл.txt", "data");
  // A directory part longer than 255 bytes.
  std::string deep = "dir";
  while (deep.size() < 300) deep += "/abcdefghijklmnopqrstuvwxyz";
  const std::string deepFile = scratch.Write(deep + "/f.txt", "f");
  TTestArchive archive;
  archive.SavePaths = true;
  Pack(archive, scratch.File("names.zlb"), {source, deepFile});
  ASSERT_EQ(archive.EntryCount(), 2);
  TArchiveEntry entry{};
  archive.GetEntry(0, entry);
  EXPECT_EQ(Text(entry.FileName), "\xc8\xe7\xef\xf0\xe0\xf2\xe8\x20\xf4\xe0\xe9\xeb.txt");
  EXPECT_EQ(archive.IndexOfFile(source), 0);
  archive.GetEntry(1, entry);
  std::string storedDir = scratch.Path().string() + "/" + deep + "/";
  std::replace(storedDir.begin(), storedDir.end(), '/', '\\');
  // Cut to 255 bytes first; a drive ("C:") goes after that.
  const std::string expected = RemoveDrive(storedDir.substr(0, 255));
  EXPECT_EQ(entry.FilePath.Length, expected.size());
  EXPECT_EQ(Text(entry.FilePath), expected);
  EXPECT_EQ(archive.IndexOfFile(deepFile), 1);  // the key is cut the same way
}

TEST(ZLBArchive, NothingOpenMeansNoAddAndNoLookup) {
  TTestArchive archive;
  std::vector<std::string> files{"/nowhere/a.txt", "/nowhere/b.txt"};
  EXPECT_EQ(MessageOf([&] { archive.AddFiles(files); }), "No archive is currently open");
  EXPECT_EQ(files, (std::vector<std::string>{"/nowhere/a.txt", "/nowhere/b.txt"}));
  EXPECT_EQ(MessageOf([&] { archive.IndexOfFile("a.txt"); }), "No archive is currently open");
}

TEST(ZLBArchive, CreateArchiveStates) {
  TScratch scratch;
  TTestArchive archive;
  int opened = 0;
  archive.OnArchiveOpened = [&](TZLBArchive& sender) {
    EXPECT_EQ(&sender, &archive);
    ++opened;
  };
  archive.CreateArchive("");
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(archive.ArchiveName(), "");
  const std::string existing = scratch.Write("exists.zlb", "keep me");
  EXPECT_EQ(MessageOf([&] { archive.CreateArchive(existing); }), "File already exists");
  EXPECT_EQ(archive.ArchiveName(), "");
  EXPECT_EQ(ReadFile(existing), "keep me");
  const std::string path = scratch.File("new.zlb");
  archive.CreateArchive(path);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(archive.ArchiveName(), path);
  EXPECT_TRUE(archive.IsNewArchive());
  EXPECT_FALSE(fs::exists(path));  // nothing is written before AddFiles
  archive.CloseArchive();
  EXPECT_EQ(archive.ArchiveName(), "");
  EXPECT_FALSE(archive.IsNewArchive());
}

TEST(ZLBArchive, ProgressReportsFollowThePhases) {
  TScratch scratch;
  // Incompressible, so the compressed copy fills several 65,536-byte blocks.
  const std::string source = scratch.Write("random.bin", RandomBytes(300000, 3));
  TTestArchive archive;
  std::vector<std::pair<std::string, int32_t>> reports;
  archive.OnProgress = [&](const std::string& msg, int32_t percentage) {
    reports.emplace_back(msg, percentage);
  };
  archive.CloseArchive();  // nothing open: one report with an empty text
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], std::make_pair(std::string(), 0));
  reports.clear();

  const std::string path = scratch.File("p.zlb");
  archive.CreateArchive(path);
  std::vector<std::string> files{source};
  archive.AddFiles(files);
  // close (from CreateArchive), then one report per full compressed block (300,000 random
  // bytes make four), then the close and re-open of the written archive.
  ASSERT_EQ(reports.size(), 1u + 4u + 4u);
  EXPECT_EQ(reports[0], std::make_pair(std::string(), 0));
  int32_t last = 0;
  for (size_t i = 1; i <= 4; ++i) {
    EXPECT_EQ(reports[i].first, "Updating " + source);
    EXPECT_GT(reports[i].second, last);
    EXPECT_LE(reports[i].second, 100);
    last = reports[i].second;
  }
  EXPECT_EQ(reports[5], std::make_pair(std::string(), 0));  // CloseArchive
  EXPECT_EQ(reports[6], std::make_pair(std::string(), 0));  // OpenArchive closes first
  EXPECT_EQ(reports[7],
            std::make_pair(std::string("Extracting archive registry"), 100));  // 532 of 532
  EXPECT_EQ(reports[8], std::make_pair(path, 0));                              // idle: the name

  // Nothing is reported while the component is destroyed.
  auto doomed = std::make_unique<TTestArchive>();
  int count = 0;
  doomed->OnProgress = [&](const std::string&, int32_t) { ++count; };
  doomed->CreateArchive(scratch.File("doomed.zlb"));
  const int beforeDestruction = count;
  doomed.reset();
  EXPECT_EQ(count, beforeDestruction);
}

TEST(ZLBArchive, ProgressPercentagesRoundHalvesToEven) {
  TTestArchive archive;
  std::vector<std::pair<std::string, int32_t>> reports;
  archive.OnProgress = [&](const std::string& msg, int32_t percentage) {
    reports.emplace_back(msg, percentage);
  };
  archive.FProgressPhase = ppReadRegistry;
  archive.FProgressMsg = "Extracting archive registry";
  archive.FProgressTotal = 8;
  for (int32_t done : {1, 3, 5, 7, 8}) {  // 12.5, 37.5, 62.5, 87.5, 100
    archive.FProgressDone = done;
    archive.ReportProgress(nullptr);
  }
  // Exact halves that binary floating point misses: 23 / 40 * 100 is 57.5.
  archive.FProgressTotal = 40;
  archive.FProgressDone = 23;
  archive.ReportProgress(nullptr);
  archive.FProgressPhase = ppCompressFile;
  archive.FProgressMsg = "Updating x";
  archive.FProgressTotal = 200;
  TMemoryStream sender(std::string(200, 'x'));
  for (int64_t position : {1, 3, 109, 115, 199}) {  // 0.5, 1.5, 54.5, 57.5, 99.5
    sender.SetPosition(position);
    archive.ReportProgress(&sender);
  }
  const std::vector<std::pair<std::string, int32_t>> expected{{"Extracting archive registry", 12},
                                                              {"Extracting archive registry", 38},
                                                              {"Extracting archive registry", 62},
                                                              {"Extracting archive registry", 88},
                                                              {"Extracting archive registry", 100},
                                                              {"Extracting archive registry", 58},
                                                              {"Updating x", 0},
                                                              {"Updating x", 2},
                                                              {"Updating x", 54},
                                                              {"Updating x", 58},
                                                              {"Updating x", 100}};
  EXPECT_EQ(reports, expected);
}

TEST(ZLBArchive, StreamCrcCoversAllButTheTailAndKeepsThePosition) {
  TTestArchive archive;
  TMemoryStream stream("123456789" + std::string(36, '\x5a'));
  stream.SetPosition(5);
  EXPECT_EQ(archive.StreamCrc(stream, 36), 0xCBF43926u);
  EXPECT_EQ(stream.Position(), 5);
  TMemoryStream abc("abc");
  EXPECT_EQ(abc.Position(), 0);
  abc.Seek(0, TSeekOrigin::skEnd);
  EXPECT_EQ(archive.StreamCrc(abc, 0), 0x352441C2u);
  abc.WriteBuffer("d", 1);  // writing goes on where it stood
  EXPECT_EQ(abc.ToString(), "abcd");
  TMemoryStream shortStream("short");
  EXPECT_EQ(archive.StreamCrc(shortStream, 36), 0u);
  // Across several 10,240-byte reads.
  const std::string big = RandomBytes(35000, 11);
  TMemoryStream bigStream(big);
  EXPECT_EQ(archive.StreamCrc(bigStream, 0), ZlibCrc(big));
  EXPECT_EQ(archive.StreamCrc(bigStream, 1000), ZlibCrc(big.substr(0, 34000)));
}

TEST(ZLBArchive, RegistryProgressCountsTheRecordBytesConsumed) {
  TScratch scratch;
  // Long random names make a registry whose compressed form fills a 65,536-byte block.
  std::mt19937 random(5);
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::vector<std::string> files;
  for (int i = 0; i < 450; ++i) {
    std::string name(250, 'x');
    for (char& c : name) c = alphabet[random() % alphabet.size()];
    files.push_back(scratch.Write("names/" + name, ""));
  }
  TTestArchive archive;
  std::vector<std::pair<std::string, int32_t>> reports;
  archive.OnProgress = [&](const std::string& msg, int32_t percentage) {
    if (msg == "Writing archive registry") reports.emplace_back(msg, percentage);
  };
  Pack(archive, scratch.File("many.zlb"), files);
  ASSERT_EQ(archive.EntryCount(), 450);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_GT(reports[0].second, 0);
  EXPECT_LT(reports[0].second, 100);
}
