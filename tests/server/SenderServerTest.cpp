// The service's operations on the session folders, called directly.
#include "server/SenderServer.h"

#include <gtest/gtest.h>

#include "archive/ZLBArchive.h"
#include "server/FileNames.h"
#include "server/ServerTestSupport.h"
#include "server/SessionId.h"

namespace fs = std::filesystem;

namespace vorlen {
namespace {

using test::Crc;
using test::ListTree;
using test::PackFiles;
using test::ReadFile;
using test::TScratchDir;
using test::WriteFile;

class SenderServerTest : public ::testing::Test, protected test::TScratchServer {};

TEST_F(SenderServerTest, SessionsAreFreshFoldersAndUnknownOnesAreRefused) {
  const std::string first = Server.GetSession();
  const std::string second = Server.GetSession();
  EXPECT_NE(first, second);
  EXPECT_TRUE(IsSessionId(first));
  // Nothing is made inside before a call needs it.
  EXPECT_TRUE(fs::is_directory(Folder(first)));
  EXPECT_TRUE(fs::is_empty(Folder(first)));

  const auto before = ListTree(Dir.Path());
  const std::string unknown[] = {"",   "00000000000000000000000000000000",    "../../etc",
                                 "..", std::string(first).replace(0, 1, "G"), first + "/.."};
  for (const std::string& bad : unknown) {
    EXPECT_THROW(Server.UnZip(bad), EUnknownSession) << bad;
    EXPECT_THROW(Put(bad, "x._000", "abc"), EUnknownSession) << bad;
    EXPECT_THROW(Server.MergeFile(0, "x", bad), EUnknownSession) << bad;
    EXPECT_THROW(Server.DelTempFiles(bad), EUnknownSession) << bad;
  }
  // The refused uploads left their received files in the incoming folder, nothing else.
  for (const std::string& name : ListTree(Dir.Path())) {
    if (before.count(name) == 0) {
      EXPECT_EQ(name.rfind("inbox/.incoming/", 0), 0u) << name;
    }
  }

  // Ending one that delivered nothing writes nothing, and the end holds.
  EXPECT_TRUE(Server.DelTempFiles(second));
  EXPECT_TRUE(fs::is_empty(Folder(second)));
  EXPECT_FALSE(Put(second, "x._000", "abc"));
  EXPECT_TRUE(fs::is_empty(Folder(second)));
}

TEST_F(SenderServerTest, PartsAreCheckedAgainstTheirHash) {
  const std::string sess = Server.GetSession();
  EXPECT_TRUE(Upload(sess, "f._000", "352441C2", "abc"));
  EXPECT_TRUE(Upload(sess, "f._001", "352441c2", "abc"));  // case is ignored
  EXPECT_TRUE(Upload(sess, "f._002", "00000000", ""));
  EXPECT_EQ(ReadFile(Folder(sess) / "parts" / "f._000"), "abc");

  // A wrong or malformed hash keeps nothing, also not over an earlier good copy.
  for (const char* hash :
       {"352441C3", "352441C", "352441C20", "0x352441", " 352441C2", "zzzzzzzz"}) {
    EXPECT_FALSE(Upload(sess, "f._003", hash, "abc")) << hash;
    EXPECT_FALSE(Upload(sess, "f._000", hash, "xyz")) << hash;
  }
  EXPECT_FALSE(fs::exists(Folder(sess) / "parts" / "f._003"));
  EXPECT_EQ(ReadFile(Folder(sess) / "parts" / "f._000"), "abc");

  // A later good copy replaces the earlier one.
  EXPECT_TRUE(Put(sess, "f._000", "replaced"));
  EXPECT_EQ(ReadFile(Folder(sess) / "parts" / "f._000"), "replaced");

  // Only the details file may come without a hash.
  EXPECT_FALSE(Upload(sess, "f._004", "", "abc"));
  EXPECT_FALSE(fs::exists(Folder(sess) / "parts" / "f._004"));

  // The details file goes beside the parts, not among them.
  EXPECT_TRUE(Upload(sess, "sendDetails.txt", "", "from X\r\n"));
  EXPECT_EQ(ReadFile(Folder(sess) / "sendDetails.txt"), "from X\r\n");
  EXPECT_FALSE(fs::exists(Folder(sess) / "parts" / "sendDetails.txt"));
}

TEST_F(SenderServerTest, NamesFromRequestsNeverReachOutsideTheSession) {
  const std::string sess = Server.GetSession();
  EXPECT_TRUE(Put(sess, "x._000", "data"));
  const auto before = ListTree(Dir.Path());
  for (const char* name : {"..\\x", "../x", "/etc/x", "C:x", "", "..",
                           "a\x01"
                           "b",
                           "x/../../y"}) {
    EXPECT_FALSE(Put(sess, name, "evil")) << name;
    EXPECT_FALSE(Server.MergeFile(0, name, sess)) << name;
  }
  std::set<std::string> added;
  for (const std::string& name : ListTree(Dir.Path())) {
    if (before.count(name) == 0 && name.rfind("inbox/.incoming/", 0) != 0) added.insert(name);
  }
  EXPECT_TRUE(added.empty()) << *added.begin();
  EXPECT_FALSE(fs::exists(Dir.Path() / "x"));
  EXPECT_FALSE(fs::exists(Dir.Path() / "inbox" / "x"));
}

TEST_F(SenderServerTest, MergeJoinsEveryPartOrNothing) {
  const std::string sess = Server.GetSession();
  EXPECT_TRUE(Put(sess, "report._000", "Hello, "));
  EXPECT_TRUE(Put(sess, "report._002", "!"));
  EXPECT_FALSE(Server.MergeFile(2, "report.pdf", sess));  // part 1 is missing
  EXPECT_FALSE(fs::exists(Folder(sess) / "delivered" / "report.pdf"));
  EXPECT_FALSE(Server.MergeFile(-1, "report.pdf", sess));

  EXPECT_TRUE(Put(sess, "report._001", "world"));
  EXPECT_TRUE(Server.MergeFile(2, "report.pdf", sess));
  EXPECT_EQ(ReadFile(Folder(sess) / "delivered" / "report.pdf"), "Hello, world!");
  // A delivered name is never replaced; the same merge asked again is answered from what is
  // there, without writing.
  EXPECT_FALSE(Server.MergeFile(1, "report.pdf", sess));
  const auto written = fs::last_write_time(Folder(sess) / "delivered" / "report.pdf");
  EXPECT_TRUE(Server.MergeFile(2, "report.pdf", sess));
  EXPECT_EQ(ReadFile(Folder(sess) / "delivered" / "report.pdf"), "Hello, world!");
  EXPECT_EQ(fs::last_write_time(Folder(sess) / "delivered" / "report.pdf"), written);

  // Names without extension and with several dots.
  EXPECT_TRUE(Put(sess, "README._000", "readme"));
  EXPECT_TRUE(Server.MergeFile(0, "README", sess));
  EXPECT_EQ(ReadFile(Folder(sess) / "delivered" / "README"), "readme");
  EXPECT_TRUE(Put(sess, "a.b._000", "ab"));
  EXPECT_TRUE(Server.MergeFile(0, "a.b.c", sess));
  EXPECT_EQ(ReadFile(Folder(sess) / "delivered" / "a.b.c"), "ab");
  // Nothing left over from the merges.
  EXPECT_TRUE(test::HoldsNothing(Folder(sess) / "work"));
}

TEST_F(SenderServerTest, UnZipOfWhatIsNoArchiveDeliversNothing) {
  const std::string sess = Server.GetSession();
  EXPECT_FALSE(Server.UnZip(sess));  // nothing merged yet
  const std::string garbage(4000, 'x');
  EXPECT_TRUE(Put(sess, "vorarch._000", garbage));
  EXPECT_TRUE(Server.MergeFile(0, "vorarch.rar", sess));
  EXPECT_FALSE(Server.UnZip(sess));
  EXPECT_EQ(ListTree(Folder(sess) / "delivered"), std::set<std::string>{"vorarch.rar"});
  EXPECT_TRUE(test::HoldsNothing(Folder(sess) / "work"));

  // The archive was not unpacked, so it is the delivery and stays.
  EXPECT_TRUE(Server.DelTempFiles(sess));
  EXPECT_EQ(ReadFile(Folder(sess) / "delivered" / "vorarch.rar"), garbage);
  EXPECT_TRUE(test::HoldsNothing(Folder(sess) / "parts"));
}

// Whoever learns a session id can no longer change what it delivered: the details are fixed by
// the merge, and once the send ended the session takes nothing but another DelTempFiles, also
// after a restart.
TEST_F(SenderServerTest, DelTempFilesKeepsDeliveryAndDetailsAndSealsTheSession) {
  std::vector<std::string> refusals;
  Server.OnRefusal = [&](const std::string&, const std::string& operation,
                          const std::string& reason) {
    refusals.push_back(operation + ": " + reason);
  };
  const std::string sess = Server.GetSession();
  EXPECT_TRUE(Put(sess, "doc._000", "one"));
  EXPECT_TRUE(Put(sess, "doc._001", "two"));
  EXPECT_TRUE(Upload(sess, "sendDetails.txt", "", "details"));
  EXPECT_TRUE(Server.MergeFile(1, "doc.txt", sess));
  EXPECT_FALSE(Upload(sess, "sendDetails.txt", "", "other sender"));
  EXPECT_TRUE(Server.DelTempFiles(sess));
  EXPECT_TRUE(Server.DelTempFiles(sess));  // twice is harmless
  EXPECT_EQ(ListTree(Folder(sess)),
            (std::set<std::string>{".session", "delivered", "delivered/doc.txt", "sendDetails.txt"}));
  EXPECT_EQ(ReadFile(Folder(sess) / "delivered" / "doc.txt"), "onetwo");
  EXPECT_EQ(ReadFile(Folder(sess) / "sendDetails.txt"), "details");

  TSenderServer again(Dir.Path() / "inbox", TServiceLimits{});
  again.OnRefusal = Server.OnRefusal;
  for (TSenderServer* server : {&Server, &again}) {
    WriteFile(server->IncomingDir() / "att", "ONE");
    EXPECT_FALSE(
        server->UploadFilePart(sess, "doc._000", Crc("ONE"), server->IncomingDir() / "att"));
    EXPECT_FALSE(server->MergeFile(0, "doc2.txt", sess));
    EXPECT_FALSE(server->UnZip(sess));
    EXPECT_TRUE(server->DelTempFiles(sess));
  }
  EXPECT_EQ(ListTree(Folder(sess) / "delivered"), std::set<std::string>{"doc.txt"});
  EXPECT_TRUE(test::HoldsNothing(Folder(sess) / "parts"));
  const std::string ended = "The send of this session has ended";
  EXPECT_EQ(refusals,
            (std::vector<std::string>{
                "UploadFilePart: sendDetails.txt is not replaced once a file was delivered",
                "UploadFilePart: " + ended, "MergeFile: " + ended, "UnZip: " + ended,
                "UploadFilePart: " + ended, "MergeFile: " + ended, "UnZip: " + ended}));
}

TEST(SenderServerLimits, PartCountAndSizeAreBounded) {
  TScratchDir root;
  TSenderServer server(root.Path(), TServiceLimits{3, 10});
  const std::string sess = server.GetSession();
  auto upload = [&](const std::string& name, const std::string& bytes) {
    const fs::path received = server.IncomingDir() / "att";
    WriteFile(received, bytes);
    return server.UploadFilePart(sess, name, Crc(bytes), received);
  };
  EXPECT_TRUE(upload("f._000", "1234"));
  EXPECT_TRUE(upload("f._001", "1234"));
  EXPECT_FALSE(upload("f._002", "12345"));  // 13 bytes of parts > 10
  EXPECT_TRUE(upload("f._002", "12"));
  EXPECT_FALSE(upload("f._003", "1"));               // a fourth part > 3
  EXPECT_TRUE(upload("f._001", "1"));                // replacing counts once, with its new size
  EXPECT_FALSE(server.MergeFile(3, "f.bin", sess));  // more parts than allowed
  EXPECT_TRUE(server.MergeFile(2, "f.bin", sess));
  EXPECT_EQ(ReadFile(root.Path() / sess / "delivered" / "f.bin"), "1234112");
}

TEST(SenderServerRestart, SessionFoldersOfAnEarlierRunAreTakenUp) {
  TScratchDir root;
  std::string sess;
  {
    TSenderServer first(root.Path(), TServiceLimits{});
    sess = first.GetSession();
    WriteFile(first.IncomingDir() / "att", "abc");
    EXPECT_TRUE(first.UploadFilePart(sess, "f._000", "352441C2", first.IncomingDir() / "att"));
    WriteFile(first.IncomingDir() / "stale", "left over");
  }
  TSenderServer second(root.Path(), TServiceLimits{});
  EXPECT_TRUE(fs::is_empty(second.IncomingDir()));
  EXPECT_TRUE(second.MergeFile(0, "f.txt", sess));
  EXPECT_EQ(ReadFile(root.Path() / sess / "delivered" / "f.txt"), "abc");
}

}  // namespace
}  // namespace vorlen

namespace vorlen {
namespace {

TEST(SenderServerUnZip, OnlyBareNamesWithinTheSizeLimitAreUnpacked) {
  TScratchDir temp;
  fs::create_directories(temp.Path() / "src");
  TSenderServer server(temp.Path() / "inbox", TServiceLimits{100, 100000});
  auto send = [&](const std::string& archive) {
    const std::string sess = server.GetSession();
    WriteFile(server.IncomingDir() / "att", archive);
    EXPECT_TRUE(server.UploadFilePart(sess, "a._000", Crc(archive), server.IncomingDir() / "att"));
    EXPECT_TRUE(server.MergeFile(0, "a.rar", sess));
    return sess;
  };

  // Stored directories are refused: a delivery holds bare files only.
  const std::string withPaths = send(PackFiles(temp.Path() / "src", {{"x.txt", "x"}}, true));
  EXPECT_FALSE(server.UnZip(withPaths));
  EXPECT_EQ(ListTree(temp.Path() / "inbox" / withPaths / "delivered"),
            std::set<std::string>{"a.rar"});

  // A small archive that would unpack beyond the limit is refused before anything is written.
  const std::string bomb =
      send(PackFiles(temp.Path() / "src", {{"zeros.bin", std::string(200000, '\0')}}, false));
  EXPECT_LT(fs::file_size(temp.Path() / "inbox" / bomb / "delivered" / "a.rar"), 100000u);
  EXPECT_FALSE(server.UnZip(bomb));
  EXPECT_EQ(ListTree(temp.Path() / "inbox" / bomb / "delivered"), std::set<std::string>{"a.rar"});

  // Names that are one file, or pass for one, on a shared Windows or macOS folder, and names
  // Windows opens as devices: refused with the reason, nothing delivered.
  std::vector<std::string> reasons;
  server.OnRefusal = [&](const std::string&, const std::string&, const std::string& reason) {
    reasons.push_back(reason);
  };
  const std::vector<std::pair<std::string, std::string>> misleading[] = {
      {{"\xD0\x9E\xD1\x82\xD1\x87\xD0\xB5\xD1\x82.txt", "1"},
       {"\xD0\x9E\xD0\xA2\xD0\xA7\xD0\x95\xD0\xA2.txt", "2"}},  // Отчет / ОТЧЕТ
      {{"a.txt", "1"}, {"a.txt\xC2\xA0", "2"}},                  // trailing no-break space
      {{"CON .txt", "1"}},
      {{"soft\xC2\xADhyphen.txt", "1"}},
  };
  const char* const expected[] = {
      "Members \xD0\x9E\xD1\x82\xD1\x87\xD0\xB5\xD1\x82.txt and "
      "\xD0\x9E\xD0\xA2\xD0\xA7\xD0\x95\xD0\xA2.txt would be one file on Windows or macOS",
      "Members a.txt and a.txt\xC2\xA0 would be one file on Windows or macOS",
      "Member CON .txt is a Windows device name",
      "Member soft\xC2\xADhyphen.txt holds the control or format character U+00AD",
  };
  for (size_t i = 0; i < std::size(misleading); ++i) {
    TScratchDir src;
    const std::string sess = send(PackFiles(src.Path(), misleading[i], false));
    EXPECT_FALSE(server.UnZip(sess)) << expected[i];
    EXPECT_EQ(ListTree(temp.Path() / "inbox" / sess / "delivered"), std::set<std::string>{"a.rar"});
    ASSERT_EQ(reasons.size(), i + 1);
    EXPECT_EQ(reasons[i], expected[i]);
  }

  // Within the limits it is delivered, and the archive leaves the delivery.
  const std::string good =
      send(PackFiles(temp.Path() / "src", {{"a.rar", "member named like the archive"}}, false));
  EXPECT_TRUE(server.UnZip(good));
  EXPECT_EQ(ReadFile(temp.Path() / "inbox" / good / "delivered" / "a.rar"),
            "member named like the archive");
  EXPECT_TRUE(server.DelTempFiles(good));
  EXPECT_EQ(ListTree(temp.Path() / "inbox" / good),
            (std::set<std::string>{".session", "delivered", "delivered/a.rar"}));
}

}  // namespace
}  // namespace vorlen

namespace vorlen {
namespace {

TEST(SenderServerLimits, SessionCountIsCappedWithoutFoldersOfEarlierRuns) {
  TScratchDir root;
  std::string earlier;
  {
    TSenderServer first(root.Path(), TServiceLimits{16, 1000, 2});
    earlier = first.GetSession();
  }
  // Neither folders that are no sessions nor sessions an earlier run left count.
  fs::create_directories(root.Path() / "not-a-session");
  TSenderServer server(root.Path(), TServiceLimits{16, 1000, 2});
  const std::string second = server.GetSession();
  const std::string third = server.GetSession();
  EXPECT_NE(second, earlier);
  try {
    server.GetSession();
    ADD_FAILURE() << "a third open session was handed out";
  } catch (const ETooManySessions& e) {
    EXPECT_EQ(e.Message(), "The service keeps no more than 2 open sessions");
  }
  std::set<std::string> sessions;
  for (const auto& entry : fs::directory_iterator(root.Path())) {
    if (IsSessionId(entry.path().filename().string())) sessions.insert(entry.path().filename());
  }
  EXPECT_EQ(sessions, (std::set<std::string>{earlier, second, third}));
  // The sessions there are go on working.
  EXPECT_TRUE(server.DelTempFiles(earlier));
  EXPECT_TRUE(server.DelTempFiles(second));
}

TEST(SenderServerLimits, DeliveredBytesAreBoundedAcrossMergesAndUnpacking) {
  TScratchDir temp;
  TSenderServer server(temp.Path() / "inbox", TServiceLimits{100, 10});
  const std::string sess = server.GetSession();
  const fs::path delivered = temp.Path() / "inbox" / sess / "delivered";
  WriteFile(server.IncomingDir() / "att", "123456");
  ASSERT_TRUE(server.UploadFilePart(sess, "x._000", Crc("123456"), server.IncomingDir() / "att"));
  // The same parts merged under another extension would be a second copy on disk.
  EXPECT_TRUE(server.MergeFile(0, "x.a", sess));
  EXPECT_FALSE(server.MergeFile(0, "x.b", sess));
  EXPECT_FALSE(server.MergeFile(0, "x", sess));
  EXPECT_EQ(ListTree(delivered), std::set<std::string>{"x.a"});
  EXPECT_TRUE(test::HoldsNothing(temp.Path() / "inbox" / sess / "work"));
  // The same merge asked again is answered from what is delivered, writing nothing.
  EXPECT_TRUE(server.MergeFile(0, "x.a", sess));
  EXPECT_EQ(ReadFile(delivered / "x.a"), "123456");

  // Members count with what the session already holds; the archive itself makes room.
  TScratchDir src;
  fs::create_directories(temp.Path() / "big");
  TSenderServer roomy(temp.Path() / "big", TServiceLimits{100, 100000});
  const std::string packed = roomy.GetSession();
  auto deliver = [&](const std::string& part, const std::string& name, const std::string& bytes) {
    WriteFile(roomy.IncomingDir() / "att", bytes);
    EXPECT_TRUE(roomy.UploadFilePart(packed, part, Crc(bytes), roomy.IncomingDir() / "att"));
    EXPECT_TRUE(roomy.MergeFile(0, name, packed));
  };
  deliver("first._000", "first.bin", std::string(60000, 'f'));
  const std::string archive = PackFiles(src.Path(), {{"m.bin", std::string(50000, 'm')}}, false);
  ASSERT_LT(archive.size(), 40000u);
  deliver("a._000", "a.rar", archive);
  EXPECT_FALSE(roomy.UnZip(packed));  // 60000 + 50000 > 100000
  EXPECT_EQ(ListTree(temp.Path() / "big" / packed / "delivered"),
            (std::set<std::string>{"a.rar", "first.bin"}));

  const std::string fits = roomy.GetSession();
  WriteFile(roomy.IncomingDir() / "att", archive);
  EXPECT_TRUE(roomy.UploadFilePart(fits, "a._000", Crc(archive), roomy.IncomingDir() / "att"));
  EXPECT_TRUE(roomy.MergeFile(0, "a.rar", fits));
  EXPECT_TRUE(roomy.UnZip(fits));  // 50000 in place of the archive
  EXPECT_EQ(ReadFile(temp.Path() / "big" / fits / "delivered" / "m.bin"), std::string(50000, 'm'));
}

TEST(SenderServerLinks, LinksUnderTheRootAreNotFollowed) {
  TScratchDir temp;
  const fs::path inbox = temp.Path() / "inbox";
  TSenderServer server(inbox, TServiceLimits{});
  const std::string sess = server.GetSession();
  WriteFile(temp.Path() / "secret.txt", "secret");

  // A part that is a link to a file outside is no part.
  fs::create_directories(inbox / sess / "parts");
  fs::create_symlink(temp.Path() / "secret.txt", inbox / sess / "parts" / "s._000");
  EXPECT_FALSE(server.MergeFile(0, "s.txt", sess));
  EXPECT_FALSE(fs::exists(inbox / sess / "delivered" / "s.txt"));

  // A session-named link to a folder outside is no session.
  fs::create_directories(temp.Path() / "outside" / "parts");
  const std::string planted = "0123456789abcdef0123456789abcdef";
  fs::create_directory_symlink(temp.Path() / "outside", inbox / planted);
  WriteFile(server.IncomingDir() / "att", "x");
  EXPECT_THROW(server.UploadFilePart(planted, "p._000", "", server.IncomingDir() / "att"),
               EUnknownSession);
  EXPECT_THROW(server.DelTempFiles(planted), EUnknownSession);
  EXPECT_EQ(ListTree(temp.Path() / "outside"), std::set<std::string>{"parts"});

  // A session whose parts folder was replaced by a link is refused as well.
  const std::string other = "fedcba9876543210fedcba9876543210";
  fs::create_directories(inbox / other);
  fs::create_directory_symlink(temp.Path() / "outside" / "parts", inbox / other / "parts");
  WriteFile(server.IncomingDir() / "att", "x");
  EXPECT_ANY_THROW(server.UploadFilePart(other, "p._000", Crc("x"), server.IncomingDir() / "att"));
  EXPECT_EQ(ListTree(temp.Path() / "outside"), std::set<std::string>{"parts"});
  EXPECT_EQ(ReadFile(temp.Path() / "secret.txt"), "secret");
}

}  // namespace
}  // namespace vorlen
