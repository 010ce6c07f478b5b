// Behaviour that keeps archives sound when something goes wrong part-way.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "ZLBArchiveTestUtil.h"
#include "archive/ArchiveReader.h"
#include "platform/TempFiles.h"
#include "runtime/Exception.h"

using namespace vorlen;
using namespace vorlen::test;

namespace {

// A memory stream like a disk that fills up once: after Arm(), the next write stores only half
// of its bytes and the one after it stores nothing; later writes succeed again.
class TFillingStream : public TMemoryStream {
 public:
  void Arm() { FState = 1; }
  int64_t Write(const void* buffer, int64_t count) override {
    if (FState == 1 && count > 1) {
      FState = 2;
      return TMemoryStream::Write(buffer, count / 2);
    }
    if (FState == 2) {
      FState = 0;
      return 0;
    }
    return TMemoryStream::Write(buffer, count);
  }

 private:
  int FState = 0;
};

}  // namespace

TEST(ZLBArchiveSafety, RegistryThatFailsPartWayIsReplacedByRawRecordsAtItsOffset) {
  TScratch scratch;
  const std::string path = scratch.File("two.zlb");
  TTestArchive archive;
  std::vector<std::string> files{scratch.Write("a.txt", "alpha"), scratch.Write("b.txt", "beta")};
  archive.CreateArchive(path);
  archive.AddFiles(files);
  ASSERT_EQ(archive.EntryCount(), 2);
  TArchiveEntry a{}, b{};
  archive.GetEntry(0, a);
  archive.GetEntry(1, b);

  TFillingStream dest;
  dest.WriteBuffer("alphabeta", 9);  // the data area
  dest.Arm();
  archive.WriteRegistry(dest);

  const std::string bytes = dest.ToString();
  // Data area, the two records exactly at RegistryOffset, the trailer: no stray stream bytes.
  ASSERT_EQ(bytes.size(), 9u + 2 * 532 + 36);
  EXPECT_EQ(bytes.substr(0, 9), "alphabeta");
  EXPECT_EQ(bytes.substr(9, 532), RecordBytes(a));
  EXPECT_EQ(bytes.substr(9 + 532, 532), RecordBytes(b));
  const TArchiveTrailer trailer = TrailerOf(bytes);
  EXPECT_EQ(trailer.RegistryOffset, 9);
  EXPECT_EQ(trailer.RegistryCompressed, 0);
  EXPECT_EQ(trailer.RegistrySize, 0);
  EXPECT_EQ(trailer.EntryCount, 2);
  EXPECT_EQ(trailer.Marker, 1);
  EXPECT_EQ(trailer.ArchiveCrc, ZlibCrc(bytes.substr(0, bytes.size() - 36)));

  // And the component reads it back.
  const std::string rawPath = scratch.File("raw.zlb");
  WriteFile(rawPath, bytes);
  TTestArchive reader;
  ASSERT_TRUE(reader.OpenArchive(rawPath));
  ASSERT_EQ(reader.EntryCount(), 2);
  TArchiveEntry read{};
  reader.GetEntry(1, read);
  EXPECT_EQ(RecordBytes(read), RecordBytes(b));
}

TEST(ZLBArchiveSafety, AddFilesEndedByItsGuardKeepsOnlyTheRecordsOnDisk) {
  TScratch scratch;
  const std::string path = scratch.File("keep.zlb");
  const std::string x = scratch.Write("x.txt", "xxxx");
  TTestArchive archive;
  std::vector<std::string> files{x};
  archive.CreateArchive(path);
  archive.AddFiles(files);
  const std::string before = ReadFile(path);

  // A handler that fails ends AddFiles through its guard after "a.txt" was already appended.
  archive.OnErrorLogged = [](const std::string& msg) {
    throw Exception("handler refused: " + msg);
  };
  const std::string a = scratch.Write("a.txt", "aaaa");
  files = {a, x, scratch.Write("c.txt", "cccc")};
  EXPECT_NO_THROW(archive.AddFiles(files));
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(files, (std::vector<std::string>{x, scratch.File("c.txt")}));  // not yet handled
  EXPECT_EQ(archive.ArchiveName(), path);
  ASSERT_EQ(archive.EntryCount(), 1);
  EXPECT_EQ(archive.IndexOfFile("a.txt"), -1);
  EXPECT_TRUE(scratch.TempFiles().empty());  // the temporary output is gone

  // The next AddFiles writes only sound records: x, then b right after it.
  archive.OnErrorLogged = nullptr;
  files = {scratch.Write("b.txt", "bbbb")};
  archive.AddFiles(files);
  ASSERT_EQ(archive.EntryCount(), 2);
  TTestArchive reader;
  ASSERT_TRUE(reader.OpenArchive(path));
  ASSERT_EQ(reader.EntryCount(), 2);
  TArchiveEntry second{};
  reader.GetEntry(1, second);
  EXPECT_EQ(Text(second.FileName), "b.txt");
  EXPECT_EQ(second.DataOffset, 4);
  EXPECT_EQ(ReadFile(path).substr(0, 8), "xxxxbbbb");

  // An archive that vanished cannot be copied: nothing is written, nothing raised.
  fs::remove(path);
  files = {a};
  EXPECT_NO_THROW(archive.AddFiles(files));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(files, std::vector<std::string>{a});
  EXPECT_EQ(archive.EntryCount(), 2);
  EXPECT_TRUE(scratch.TempFiles().empty());
}

TEST(ZLBArchiveSafety, ArchiveThatDoesNotReadBackIsNotKept) {
  TScratch scratch;
  const std::string path = scratch.File("new.zlb");
  TTestArchive archive;
  int opened = 0;
  archive.OnArchiveOpened = [&](TZLBArchive&) {
    if (++opened == 2) throw Exception("refused");  // the re-open after writing
  };
  archive.CreateArchive(path);
  std::vector<std::string> files{scratch.Write("a.txt", "alpha")};
  EXPECT_NO_THROW(archive.AddFiles(files));
  EXPECT_EQ(opened, 2);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(archive.ArchiveName(), "");
  EXPECT_EQ(archive.EntryCount(), 0);
  EXPECT_TRUE(files.empty());
  EXPECT_TRUE(scratch.TempFiles().empty());
}

TEST(ZLBArchiveSafety, FailingProgressHandlerDoesNotEscapeAddFiles) {
  TScratch scratch;
  const std::string path = scratch.File("loud.zlb");
  TTestArchive archive;
  archive.CreateArchive(path);
  int calls = 0;
  archive.OnProgress = [&](const std::string&, int32_t) {
    ++calls;
    throw Exception("handler failed");
  };
  std::vector<std::string> files{scratch.Write("a.txt", "alpha")};
  EXPECT_NO_THROW(archive.AddFiles(files));
  EXPECT_GE(calls, 2);  // the close before re-opening, and the close after it failed
  // The close before re-opening failed: the new archive is not kept, nothing stays open.
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(archive.ArchiveName(), "");
  EXPECT_EQ(archive.EntryCount(), 0);
  EXPECT_TRUE(scratch.TempFiles().empty());
}

TEST(ZLBArchiveSafety, FilesAndArchivesAtTheSizeLimitAreRefused) {
  TScratch scratch;
  TTestArchive archive;
  archive.SetSizeLimit(4096);
  archive.CompressionLevel = fcNone;
  std::vector<std::string> errors;
  archive.OnErrorLogged = [&](const std::string& msg) { errors.push_back(msg); };
  const std::string tooBig = scratch.Write("big.bin", RandomBytes(4096, 1));
  const std::string one = scratch.Write("one.bin", RandomBytes(1000, 2));
  const std::string two = scratch.Write("two.bin", RandomBytes(1000, 3));
  const std::string three = scratch.Write("three.bin", RandomBytes(1000, 4));
  const std::string small = scratch.Write("small.bin", RandomBytes(10, 5));
  const std::string path = scratch.File("limit.zlb");
  archive.CreateArchive(path);
  std::vector<std::string> files{tooBig, one, two, three, small};
  archive.AddFiles(files);
  // Two members of 1,000 bytes leave room for a registry of three records and the trailer;
  // a third would not, a small one still does.
  EXPECT_EQ(errors, (std::vector<std::string>{"Unable to open file (" + tooBig + ")",
                                              "Unable to open file (" + three + ")"}));
  ASSERT_EQ(archive.EntryCount(), 3);
  TArchiveEntry last{};
  archive.GetEntry(2, last);
  EXPECT_EQ(Text(last.FileName), "small.bin");
  EXPECT_EQ(last.DataOffset, 2000);
  EXPECT_LT(fs::file_size(path), 4096u);

  // The source's own size counts, however well it compresses: its size field would not hold it.
  TTestArchive packing;
  packing.SetSizeLimit(4096);
  errors.clear();
  packing.OnErrorLogged = [&](const std::string& msg) { errors.push_back(msg); };
  const std::string zeros = scratch.Write("zeros.bin", std::string(4096, '\0'));
  const std::string fewer = scratch.Write("fewer.bin", std::string(4095, '\0'));
  packing.CreateArchive(scratch.File("zeros.zlb"));
  files = {zeros, fewer};
  packing.AddFiles(files);
  EXPECT_EQ(errors, std::vector<std::string>{"Unable to open file (" + zeros + ")"});
  ASSERT_EQ(packing.EntryCount(), 1);
  TArchiveEntry entry{};
  packing.GetEntry(0, entry);
  EXPECT_EQ(entry.FileSize, 4095);
  EXPECT_EQ(entry.StoredRaw, 0);

  // An archive file at the limit cannot be one the format describes.
  const auto archiveSize = static_cast<int64_t>(fs::file_size(path));
  TTestArchive opener;
  opener.SetSizeLimit(archiveSize);
  EXPECT_EQ(MessageOf([&] { opener.OpenArchive(path); }),
            "The archive file appears to be corrupted");
  opener.SetSizeLimit(archiveSize + 1);
  EXPECT_TRUE(opener.OpenArchive(path));
  EXPECT_EQ(opener.EntryCount(), 3);
}

TEST(ZLBArchiveSafety, DirectoriesAreWalkedOnceWithRecursePathsAndSavePaths) {
  TScratch scratch;
  scratch.Write("d/a.txt", "a");
  scratch.Write("d/sub/b.txt", "b");
  scratch.Write("d/sub/deeper/c.txt", "c");
  scratch.Write("d/.hidden", "h");
  const std::string dir = scratch.File("d");
  std::string storedRoot =
      RemoveDrive(Utf8FromFsPath(scratch.Path()) + "/");  // drives are not stored
  std::replace(storedRoot.begin(), storedRoot.end(), '/', '\\');

  struct TCase {
    bool Recurse;
    bool SavePaths;
    std::vector<std::string> Keys;  // stored path + name, in entry order
  };
  const TCase cases[] = {
      {true,
       true,
       {storedRoot + "d\\sub\\deeper\\c.txt", storedRoot + "d\\sub\\b.txt",
        storedRoot + "d\\.hidden", storedRoot + "d\\a.txt"}},
      {true, false, {"c.txt", "b.txt", ".hidden", "a.txt"}},
      {false, true, {}},
      {false, false, {}},
  };
  int n = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(n);
    TTestArchive archive;
    archive.RecursePaths = c.Recurse;
    archive.SavePaths = c.SavePaths;
    std::vector<std::string> errors;
    archive.OnErrorLogged = [&](const std::string& msg) { errors.push_back(msg); };
    archive.CreateArchive(scratch.File("tree" + std::to_string(n++) + ".zlb"));
    std::vector<std::string> files{dir + "/"};
    archive.AddFiles(files);
    EXPECT_TRUE(files.empty());
    EXPECT_TRUE(errors.empty());
    std::vector<std::string> keys;
    for (int32_t i = 0; i < archive.EntryCount(); ++i) {
      TArchiveEntry entry{};
      archive.GetEntry(i, entry);
      keys.push_back(Text(entry.FilePath) + Text(entry.FileName));
    }
    EXPECT_EQ(keys, c.Keys);
  }
}

TEST(ZLBArchiveSafety, FailuresBeforeTheOutputExistsReachTheCaller) {
  TScratch scratch;
  TTestArchive archive;
  archive.CreateArchive(scratch.File("x.zlb"));
  fs::remove_all(scratch.File("tmp"));  // no temporary directory to write into
  std::vector<std::string> files{scratch.Write("a.txt", "a")};
  try {
    archive.AddFiles(files);
    FAIL() << "AddFiles went on without a temporary file";
  } catch (const Exception& e) {
    std::string tmp = scratch.File("tmp");
    std::replace(tmp.begin(), tmp.end(), '/', PathDelim);  // as the system reports the folder
    EXPECT_NE(e.Message().find(tmp), std::string::npos) << e.Message();
  }
  EXPECT_EQ(files.size(), 1u);  // nothing was consumed
  EXPECT_TRUE(archive.IsNewArchive());
  EXPECT_FALSE(fs::exists(scratch.File("x.zlb")));
  fs::create_directories(scratch.File("tmp"));
}

#ifndef _WIN32
// Here nothing stops another program from writing to a file while it is being added.
TEST(ZLBArchiveSafety, FileThatGrowsWhileItIsAddedIsRefused) {
  TScratch scratch;
  const std::string growing = scratch.Write("growing.bin", RandomBytes(300000, 8));
  const std::string steady = scratch.Write("steady.txt", "steady");
  TTestArchive archive;
  std::vector<std::string> errors;
  archive.OnErrorLogged = [&](const std::string& msg) { errors.push_back(msg); };
  bool appended = false;
  archive.OnProgress = [&](const std::string& msg, int32_t) {
    if (appended || msg != "Updating " + growing) return;
    std::ofstream(growing, std::ios::binary | std::ios::app) << "0123456789";
    appended = true;
  };
  const std::string path = scratch.File("grow.zlb");
  Pack(archive, path, {growing, steady});
  ASSERT_TRUE(appended);
  EXPECT_EQ(errors, std::vector<std::string>{"Unable to open file (" + growing + ")"});
  ASSERT_EQ(archive.EntryCount(), 1);
  TArchiveEntry entry{};
  archive.GetEntry(0, entry);
  EXPECT_EQ(Text(entry.FileName), "steady.txt");
  EXPECT_EQ(entry.DataOffset, 0);  // nothing of the refused file stays in the data area
  TArchiveReader reader(path);
  EXPECT_NO_THROW(reader.Verify());
}

// The archive is written as a temporary file that only its owner may read; the file put in place
// must not keep those rights.
TEST(ZLBArchiveSafety, ArchiveKeepsTheAccessRightsOfAnOrdinaryFile) {
  TScratch scratch;
  const auto rights = [](const std::string& path) { return fs::status(path).permissions(); };
  const std::string ordinary = scratch.Write("ordinary.txt", "made as any new file");
  const std::string path = scratch.File("rights.zlb");
  TTestArchive archive;
  Pack(archive, path, {ordinary});
  EXPECT_EQ(rights(path), rights(ordinary));
  // Extending keeps whatever rights the archive was given.
  const fs::perms chosen = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(path, chosen);
  std::vector<std::string> files{scratch.Write("more.txt", "more")};
  archive.AddFiles(files);
  ASSERT_EQ(archive.EntryCount(), 2);
  EXPECT_EQ(rights(path), chosen);

  // A link that leads nowhere does not count as an archive; it is replaced.
  const std::string linked = scratch.File("linked.zlb");
  fs::create_symlink(scratch.File("nowhere"), linked);
  TTestArchive overLink;
  Pack(overLink, linked, {ordinary});
  EXPECT_EQ(overLink.EntryCount(), 1);
  EXPECT_FALSE(fs::is_symlink(linked));
  EXPECT_EQ(rights(linked), rights(ordinary));
  EXPECT_FALSE(fs::exists(scratch.File("nowhere")));
}

TEST(ZLBArchiveSafety, TemporaryFilesOnAnotherFileSystemStillReplaceTheArchive) {
  TScratch scratch;
  struct stat here {};
  struct stat there {};
  if (::stat(scratch.Path().string().c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 ||
      here.st_dev == there.st_dev)
    GTEST_SKIP() << "this machine cannot show it: /dev/shm is no second file system here";
  const std::string otherTmp = CreateTempFile("/dev/shm", "vorlen-archive-test-");
  fs::remove(otherTmp);
  fs::create_directory(otherTmp);
  TScopedEnv otherTmpDir("TMPDIR", otherTmp);

  const std::string path = scratch.File("cross.zlb");
  TTestArchive archive;
  std::vector<std::string> files{scratch.Write("a.txt", "alpha")};
  archive.CreateArchive(path);
  archive.AddFiles(files);
  files = {scratch.Write("b.txt", "beta")};
  archive.AddFiles(files);
  EXPECT_EQ(archive.EntryCount(), 2);
  EXPECT_EQ(ReadFile(path).substr(0, 9), "alphabeta");
  EXPECT_EQ(fs::status(path).permissions(), fs::status(scratch.File("a.txt")).permissions());
  EXPECT_TRUE(fs::is_empty(otherTmp));
  // Nothing but the archive and the sources beside them: the copy next to the archive was renamed.
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(scratch.Path().string()))
    names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt", "cross.zlb", "tmp"}));
  fs::remove_all(otherTmp);
}
#endif
