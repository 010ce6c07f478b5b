// The service's bounds across sessions: open sessions, idle ones, one peer's share, the disk,
// unpacking; and folders swapped for links after a session began.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>

#include "archive/ArchiveReader.h"
#include "archive/ZLBArchive.h"
#include "proxy/HTTPRIO.h"
#include "server/FileNames.h"
#include "server/HttpService.h"
#include "server/SenderServer.h"
#include "server/ServerTestSupport.h"
#include "mime/SOAPAttachment.h"
#include "soap/SOAPExceptions.h"
#include "support/Pattern.h"

namespace fs = std::filesystem;

namespace vorlen {
namespace {

using test::Crc;
using test::ListTree;
using test::PackFiles;
using test::ReadFile;
using test::TScratchDir;
using test::TScratchServer;
using test::WriteFile;

TServiceLimits Limits(int64_t maxSessions) {
  TServiceLimits limits;
  limits.MaxSessions = maxSessions;
  return limits;
}

TEST(SessionBounds, EverySessionCountsUntilReclaimedButNoneOfAnEarlierRun) {
  TScratchDir dir;
  std::string delivered, cleaned, open;
  {
    TSenderServer server(dir.Path(), Limits(2));
    delivered = server.GetSession();
    open = server.GetSession();
    EXPECT_THROW(server.GetSession(), ETooManySessions);
    WriteFile(server.IncomingDir() / "att", "abc");
    ASSERT_TRUE(
        server.UploadFilePart(delivered, "f._000", "352441C2", server.IncomingDir() / "att"));
    ASSERT_TRUE(server.MergeFile(0, "f.txt", delivered));
    // Delivered, it counts until its send ends; then it is reclaimed at once.
    EXPECT_THROW(server.GetSession(), ETooManySessions);
    ASSERT_TRUE(server.DelTempFiles(delivered));
    cleaned = server.GetSession();
    EXPECT_THROW(server.GetSession(), ETooManySessions);
    // Asked for again, an ended delivery costs no place either.
    EXPECT_TRUE(server.DelTempFiles(delivered));
    EXPECT_FALSE(server.MergeFile(0, "f.txt", delivered));
    EXPECT_THROW(server.GetSession(), ETooManySessions);
    // Cleaned up without a delivery it still counts until it is reclaimed, and its send has
    // ended: it takes nothing more.
    EXPECT_TRUE(server.DelTempFiles(cleaned));
    EXPECT_THROW(server.GetSession(), ETooManySessions);
    WriteFile(server.IncomingDir() / "att", "details");
    EXPECT_FALSE(
        server.UploadFilePart(cleaned, "sendDetails.txt", "", server.IncomingDir() / "att"));
  }
  // Ten thousand sends later the service still takes sessions: neither the inbox nor what an
  // earlier run left open counts, and those go on working.
  TSenderServer again(dir.Path(), Limits(2));
  again.WaitForScan();
  const std::string fresh = again.GetSession();
  EXPECT_NE(again.GetSession(), "");
  EXPECT_THROW(again.GetSession(), ETooManySessions);
  EXPECT_EQ(ReadFile(dir.Path() / delivered / "delivered" / "f.txt"), "abc");
  EXPECT_TRUE(again.DelTempFiles(open));
  EXPECT_TRUE(again.DelTempFiles(fresh));
  EXPECT_THROW(again.GetSession(), ETooManySessions);
}

// Sessions with nothing delivered (a details file alone is nothing) go after the short idle time;
// delivered files stay.
TEST(SessionBounds, IdleSessionsAreReclaimedButTheInboxStays) {
  TServiceLimits limits;
  limits.SessionIdle = std::chrono::hours(1);
  TScratchServer store(limits);
  TSenderServer& server = store.Server;
  auto now = std::chrono::steady_clock::now();
  server.SetClock([&now] { return now; });
  const std::string idle = server.GetSession();
  ASSERT_TRUE(store.Put(idle, "x._000", "part"));
  const std::string withDetails = server.GetSession();
  ASSERT_TRUE(store.Put(withDetails, "x._000", "part"));
  ASSERT_TRUE(store.Put(withDetails, "sendDetails.txt", "from X\r\n"));
  const std::string delivered = server.GetSession();
  ASSERT_TRUE(store.Deliver(delivered, "d.bin", "data"));
  const std::string cleaned = server.GetSession();
  ASSERT_TRUE(store.Put(cleaned, "x._000", "part"));
  ASSERT_TRUE(server.DelTempFiles(cleaned));

  now += std::chrono::minutes(61);
  server.GetSession();  // looks for idle sessions
  EXPECT_FALSE(fs::exists(store.Folder(idle)));
  EXPECT_FALSE(fs::exists(store.Folder(cleaned)));
  EXPECT_FALSE(fs::exists(store.Folder(withDetails)));
  EXPECT_THROW(server.MergeFile(0, "x", idle), EUnknownSession);
  EXPECT_EQ(ReadFile(store.Folder(delivered) / "delivered" / "d.bin"), "data");
  EXPECT_FALSE(fs::exists(store.Folder(delivered) / "parts"));  // never cleaned up
  // ... and is sealed: nothing new reaches that inbox; what is left still answers.
  EXPECT_FALSE(store.Put(delivered, "e._000", "new"));
  EXPECT_FALSE(server.MergeFile(0, "e.bin", delivered));
  EXPECT_FALSE(fs::exists(store.Folder(delivered) / "delivered" / "e.bin"));
  EXPECT_TRUE(server.DelTempFiles(delivered));

  // A session left open by an earlier run is idle since its folder last changed.
  TScratchDir dir;
  std::string old;
  {
    TSenderServer first(dir.Path(), TServiceLimits{});
    old = first.GetSession();
  }
  const auto past = fs::file_time_type::clock::now() - std::chrono::hours(2);
  fs::last_write_time(dir.Path() / old, past);
  TServiceLimits hour;
  hour.SessionIdle = std::chrono::hours(1);
  TSenderServer second(dir.Path(), hour);
  second.WaitForScan();
  EXPECT_FALSE(fs::exists(dir.Path() / old));

  // One idle for less than the empty-session time then goes once it has been, by the service's
  // clock; one that a request took up meanwhile stays for its own idle time.
  TScratchDir laterDir;
  std::string recent, resumed;
  {
    TSenderServer first(laterDir.Path(), TServiceLimits{});
    recent = first.GetSession();
    resumed = first.GetSession();
  }
  const auto tenMinutes = fs::file_time_type::clock::now() - std::chrono::minutes(10);
  fs::last_write_time(laterDir.Path() / recent, tenMinutes);
  fs::last_write_time(laterDir.Path() / resumed, tenMinutes);
  TSenderServer third(laterDir.Path(), TServiceLimits{});
  now = std::chrono::steady_clock::now();
  third.SetClock([&now] { return now; });
  third.WaitForScan();
  third.GetSession();
  EXPECT_TRUE(fs::exists(laterDir.Path() / recent));
  now += std::chrono::minutes(3);
  EXPECT_FALSE(third.MergeFile(0, "x", resumed));  // takes it up
  now += std::chrono::minutes(3);
  third.GetSession();
  EXPECT_FALSE(fs::exists(laterDir.Path() / recent));
  EXPECT_TRUE(fs::exists(laterDir.Path() / resumed));
}

// A look covers a share of the sessions, but at the limit every one: an idle session anywhere
// makes room.
TEST(SessionBounds, AtTheLimitEverySessionIsLookedAt) {
  TServiceLimits limits;
  limits.MaxSessions = 5000;
  TScratchServer store(limits);
  auto now = std::chrono::steady_clock::now();
  store.Server.SetClock([&now] { return now; });
  std::set<std::string> sessions;
  for (int i = 0; i < 5000; ++i) sessions.insert(store.Server.GetSession());
  now += std::chrono::minutes(16);
  for (const std::string& sess : sessions) {
    if (sess != *sessions.rbegin()) store.Server.DelTempFiles(sess);  // in use: not idle
  }
  EXPECT_NE(store.Server.GetSession(), "");
  EXPECT_FALSE(fs::exists(store.Folder(*sessions.rbegin())));
  EXPECT_THROW(store.Server.GetSession(), ETooManySessions);
}

TEST(SessionBounds, OnePeerHoldsALimitedShare) {
  TServiceLimits limits;
  limits.MaxPeerSessions = 2;
  TScratchServer store(limits);
  TSenderServer& server = store.Server;
  const std::string first = server.GetSession("192.0.2.1");
  server.GetSession("192.0.2.1");
  try {
    server.GetSession("192.0.2.1");
    ADD_FAILURE() << "a third session for one address";
  } catch (const ETooManySessions& e) {
    EXPECT_EQ(e.Message(), "The service keeps no more than 2 open sessions for one address");
  }
  EXPECT_NE(server.GetSession("192.0.2.2"), "");
  ASSERT_TRUE(store.Deliver(first, "f.bin", "x"));
  EXPECT_THROW(server.GetSession("192.0.2.1"), ETooManySessions);
  ASSERT_TRUE(server.DelTempFiles(first));
  EXPECT_NE(server.GetSession("192.0.2.1"), "");

  // Delivering at once does not buy more sessions than the address's rate.
  limits.MaxPeerSessions = 100;
  limits.PeerSessionsPerMinute = 3;
  TScratchServer rated(limits);
  for (int i = 0; i < 3; ++i) {
    const std::string sess = rated.Server.GetSession("192.0.2.1");
    rated.Deliver(sess, "f.bin", "x");
    rated.Server.DelTempFiles(sess);
  }
  try {
    rated.Server.GetSession("192.0.2.1");
    ADD_FAILURE() << "a fourth session within the minute";
  } catch (const ETooManySessions& e) {
    EXPECT_EQ(e.Message(), "The service hands out no more than 3 sessions a minute to one address");
  }
  EXPECT_NE(rated.Server.GetSession("192.0.2.2"), "");
}

TEST(StorageBounds, QuotaAndReserveRefuseClearlyAndKeepTheDelivery) {
  TServiceLimits limits;
  limits.MaxRootBytes = 16 * 1024 + 100;  // one empty session and 100 bytes
  TScratchServer store(limits);
  TSenderServer& server = store.Server;
  const std::string sess = server.GetSession();
  ASSERT_TRUE(store.Deliver(sess, "a.txt", std::string(30, 'a')));  // 60 bytes: part and delivery
  ASSERT_TRUE(store.Put(sess, "b._000", std::string(30, 'b')));
  try {
    server.MergeFile(0, "b.txt", sess);
    ADD_FAILURE() << "merged beyond the quota";
  } catch (const EStorageLimit& e) {
    EXPECT_EQ(e.Message(), "The service's storage quota of 16484 bytes is used up");
  }
  EXPECT_THROW(server.GetSession(), EStorageLimit);
  EXPECT_THROW(store.Put(sess, "c._000", std::string(30, 'c')), EStorageLimit);
  EXPECT_EQ(ListTree(store.Folder(sess) / "delivered"), std::set<std::string>{"a.txt"});
  EXPECT_EQ(ReadFile(store.Folder(sess) / "delivered" / "a.txt"), std::string(30, 'a'));
  EXPECT_TRUE(test::HoldsNothing(store.Folder(sess) / "work"));
  // A smaller part in place of b's makes room for its merge: the new part counts in full until
  // the old one is gone.
  EXPECT_TRUE(store.Put(sess, "b._000", std::string(10, 'b')));
  EXPECT_TRUE(server.MergeFile(0, "b.txt", sess));
  // Started again, the service counts what is there.
  TSenderServer again(store.Dir.Path() / "inbox", limits);
  again.WaitForScan();
  EXPECT_THROW(again.GetSession(), EStorageLimit);

  // Every name takes an inode, and every member a block however small: an archive of empty
  // members is not free.
  TScratchDir src;
  const std::string empties = PackFiles(src.Path(), {{"1", ""}, {"2", ""}, {"3", ""}});
  TServiceLimits inodes;
  inodes.MaxRootFiles = 10;  // a session (4), its part, merge and state (3): one name short
  TScratchServer few(inodes);
  const std::string packed = few.Server.GetSession();
  ASSERT_TRUE(few.Deliver(packed, "e.rar", empties));
  try {
    few.Server.UnZip(packed);
    ADD_FAILURE() << "unpacked beyond the files' quota";
  } catch (const EStorageLimit& e) {
    EXPECT_EQ(e.Message(), "The service's quota of 10 files is used up");
  }
  EXPECT_EQ(ListTree(few.Folder(packed) / "delivered"), std::set<std::string>{"e.rar"});
  EXPECT_THROW(few.Server.GetSession(), EStorageLimit);
  TServiceLimits blocks;
  blocks.MaxRootBytes = 16 * 1024 + 2 * static_cast<int64_t>(empties.size()) + 2 * 4096;
  TScratchServer small(blocks);
  const std::string sized = small.Server.GetSession();
  ASSERT_TRUE(small.Deliver(sized, "e.rar", empties));
  EXPECT_THROW(small.Server.UnZip(sized), EStorageLimit);
  EXPECT_EQ(ListTree(small.Folder(sized) / "delivered"), std::set<std::string>{"e.rar"});

  TServiceLimits full;
  full.MinFreeBytes = int64_t{1} << 60;
  TScratchServer disk(full);
  try {
    disk.Server.GetSession();
    ADD_FAILURE() << "a session on a full disk";
  } catch (const EStorageLimit& e) {
    EXPECT_EQ(e.Message(),
              "The disk is nearly full: the service keeps 1152921504606846976 bytes free");
  }
}

// A part's request body held on disk and its received copy count until they are removed; the
// received copy becomes the stored part without counting twice.
// The quota counts what earlier runs left from the start, not only once their folders have all
// been looked at; and what the record says gives way to what is found.
TEST(StorageBounds, EarlierRunsCountAgainstTheQuotaFromTheStart) {
  TScratchDir dir;
  int64_t held = 0;
  {
    TSenderServer first(dir.Path(), TServiceLimits{});
    for (int i = 0; i < 500; ++i) first.GetSession();
    held = first.Budget().Used();
  }
  TServiceLimits limits;
  limits.MaxRootBytes = held + 8 * 1024;  // less than a session more
  TSenderServer second(dir.Path(), limits);
  EXPECT_THROW(second.GetSession(), EStorageLimit);
  second.WaitForScan();
  EXPECT_EQ(second.Budget().Used(), held);

  // A record that says more than there is counts only until the folders are found.
  WriteFile(dir.Path() / ".usage", "bytes=999999999999\nfiles=5\n");
  TSenderServer third(dir.Path(), limits);
  third.WaitForScan();
  EXPECT_EQ(third.Budget().Used(), held);
}

TEST(StorageBounds, HeldBodiesAndReceivedPartsCountUntilRemoved) {
  constexpr int64_t kPart = 100000;
  TScratchDir root;
  TServiceOptions options;
  options.Port = 0;
  options.Root = (root.Path() / "inbox").string();
  options.MinFree = 0;
  options.MaxStorage = 16 * 1024 + kPart * 5 / 2;  // a session, two parts and a half
  THttpService service(options);
  service.Start();
  TSenderServer& server = service.Server();
  ISenderServicePtr proxy = BindSenderService(false, service.Url(), nullptr);
  const std::string sess = proxy->GetSession();
  const int64_t empty = server.Budget().Used();
  std::atomic<int64_t> whileStoring{0};
  server.OnPartStoring = [&](const std::string&) { whileStoring = server.Budget().Used(); };
  auto upload = [&](const std::string& name, const std::string& bytes) {
    TMemoryStream stream{std::string_view(bytes)};
    TSOAPAttachment part;
    part.SetSourceStream(&stream, TStreamOwnership::owReference);
    return proxy->UploadFilePart(sess, name, test::Crc(bytes), &part);
  };

  const std::string first = test::RandomBytes(kPart, 1);
  ASSERT_TRUE(upload("a._000", first));
  EXPECT_GT(whileStoring, empty + 2 * kPart);
  EXPECT_EQ(server.Budget().Used(), empty + kPart);
  // The second part alone would fit, but not beside its body and its received copy.
  try {
    upload("b._000", test::RandomBytes(kPart, 2));
    ADD_FAILURE() << "a part held beyond the quota";
  } catch (const ERemotableException& e) {
    EXPECT_EQ(e.Message(), Format("The service's storage quota of %lld bytes is used up",
                                  static_cast<long long>(options.MaxStorage)));
    EXPECT_NE(e.FaultCode.find("Server"), std::string::npos) << e.FaultCode;
  }
  EXPECT_EQ(server.Budget().Used(), empty + kPart);
  EXPECT_TRUE(proxy->MergeFile(0, "a.bin", sess));
  EXPECT_TRUE(ReadFile(root.Path() / "inbox" / sess / "delivered" / "a.bin") == first);
  EXPECT_EQ(server.Budget().Used(), empty + 2 * kPart);
  EXPECT_EQ(test::FilesBelow(server.IncomingDir()), std::set<std::string>{});
}

TEST(StorageBounds, UnZipBoundsFilesAndExpansionAndLogsWhyItRefuses) {
  TServiceLimits limits;
  limits.MaxUnzipFiles = 2;
  TScratchServer store(limits);
  TSenderServer& server = store.Server;
  std::vector<std::string> refusals;
  server.OnRefusal = [&](const std::string& sess, const std::string& operation,
                         const std::string& reason) {
    refusals.push_back(sess + " " + operation + " " + reason);
  };
  TScratchDir src;
  auto unzip = [&](const std::string& archive) {
    const std::string sess = server.GetSession();
    EXPECT_TRUE(store.Deliver(sess, "a.rar", archive));
    return sess;
  };

  const std::string many = unzip(PackFiles(src.Path(), {{"1", "a"}, {"2", "b"}, {"3", "c"}}));
  try {
    server.UnZip(many);
    ADD_FAILURE() << "three files unpacked";
  } catch (const EStorageLimit& e) {
    EXPECT_EQ(e.Message(),
              "Unable to read archive file list: it claims 3 members, more than the 2 allowed");
  }
  EXPECT_EQ(ListTree(store.Folder(many) / "delivered"), std::set<std::string>{"a.rar"});

  const std::string zeros = PackFiles(src.Path(), {{"z", std::string(3 << 20, '\0')}});
  ASSERT_LT(zeros.size() * 200, 3u << 20);
  const std::string bomb = unzip(zeros);
  EXPECT_THROW(server.UnZip(bomb), EStorageLimit);
  EXPECT_EQ(ListTree(store.Folder(bomb) / "delivered"), std::set<std::string>{"a.rar"});
  EXPECT_TRUE(test::HoldsNothing(store.Folder(bomb) / "work"));

  // No archive: false, and the reader's own words reach the log.
  const std::string garbage = unzip("not an archive at all, just text");
  std::string readerSays;
  try {
    TArchiveReader reader((store.Folder(garbage) / "delivered" / "a.rar").string());
  } catch (const EArchiveError& e) {
    readerSays = e.what();
  }
  ASSERT_FALSE(readerSays.empty());
  EXPECT_FALSE(server.UnZip(garbage));
  EXPECT_EQ(refusals, std::vector<std::string>{garbage + " UnZip " + readerSays});
}

TEST(SessionLinks, FoldersSwappedForLinksAreNotFollowed) {
  TScratchServer store(TServiceLimits{});
  TSenderServer& server = store.Server;
  const fs::path outside = store.Dir.Path() / "outside";
  fs::create_directories(outside);
  for (const char* swapped : {"delivered", "work"}) {
    const std::string sess = server.GetSession();
    ASSERT_TRUE(store.Put(sess, "f._000", "abc"));
    fs::remove(store.Folder(sess) / swapped);
    fs::create_directory_symlink(outside, store.Folder(sess) / swapped);
    EXPECT_ANY_THROW(server.MergeFile(0, "f.txt", sess)) << swapped;
    EXPECT_TRUE(fs::is_empty(outside)) << swapped;
  }
  // The same for the session folder itself.
  const std::string sess = server.GetSession();
  ASSERT_TRUE(store.Put(sess, "f._000", "abc"));
  fs::rename(store.Folder(sess), store.Dir.Path() / "moved");
  fs::create_directory_symlink(store.Dir.Path() / "moved", store.Folder(sess));
  EXPECT_ANY_THROW(server.MergeFile(0, "f.txt", sess));
  EXPECT_TRUE(test::HoldsNothing(store.Dir.Path() / "moved" / "delivered"));
}

}  // namespace
}  // namespace vorlen
