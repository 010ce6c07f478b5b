// The vorlen-service executable as scripts start it: --port 0, the listening line on standard
// output, SIGTERM to stop.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <thread>

#include "proxy/HTTPRIO.h"
#include "runtime/Stream.h"
#include "server/FileNames.h"
#include "server/ServerTestSupport.h"
#include "mime/SOAPAttachment.h"
#include "soap/SOAPExceptions.h"
#include "support/LoopbackClient.h"
#include "support/Pattern.h"
#include "support/Process.h"
#include "support/ScopedEnv.h"

namespace vorlen {
namespace {

namespace fs = std::filesystem;

using test::ListTree;
using test::PackFiles;
using test::ReadFile;
using test::TLoopbackClient;
using test::TProcess;
using test::TScopedEnv;
using test::TScratchDir;
using test::WriteFile;

// Waits at most ten seconds, so that a hanging service fails the test instead of hanging it.
constexpr int kEndMs = 10000;

TEST(ServiceBinary, ListensAnswersAndStopsOnSigterm) {
  TScratchDir root;
  TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", (root.Path() / "in").string()});
  const std::string line = service.OutLine();
  std::smatch match;
  ASSERT_TRUE(std::regex_match(line, match,
                               std::regex("listening on http://127\\.0\\.0\\.1:([0-9]+)"
                                          "/FileUploader/Sender_Server\\.dll/soap/ISenderService")))
      << line;
  const int port = std::stoi(match[1]);
  ASSERT_GT(port, 0);

  httplib::Client client("127.0.0.1", port);
  auto result = client.Post(
      "/FileUploader/Sender_Server.dll/soap/ISenderService",
      {{"SOAPAction", "\"urn:SenderServiceIntf-ISenderService#GetSession\""}},
      "<?xml version=\"1.0\"?>\n<SOAP-ENV:Envelope "
      "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body><NS1:GetSession "
      "xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\"/></SOAP-ENV:Body></SOAP-ENV:Envelope>",
      "text/xml; charset=\"utf-8\"");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  std::smatch session;
  ASSERT_TRUE(std::regex_search(
      result->body, session, std::regex("<return xsi:type=\"xsd:string\">([0-9a-f]{32})</return>")))
      << result->body;
  EXPECT_TRUE(std::filesystem::is_directory(root.Path() / "in" / session[1].str()));

  service.Signal(SIGTERM);
  ASSERT_EQ(service.Wait(kEndMs), 0);
  const std::string log = service.Err();
  EXPECT_NE(log.find(" 127.0.0.1:"), std::string::npos) << log;
  EXPECT_NE(log.find(" " + session[1].str() + " GetSession " + session[1].str() + "\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("vorlen-service: stopped\n"), std::string::npos) << log;
}

// Ctrl+C at a terminal stops it as cleanly, also with a client connection still open.
TEST(ServiceBinary, StopsOnSigintWithAConnectionOpen) {
  TScratchDir root;
  TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", (root.Path() / "in").string()});
  std::smatch match;
  const std::string line = service.OutLine();
  ASSERT_TRUE(std::regex_search(line, match, std::regex(":([0-9]+)/"))) << line;
  httplib::Client client("127.0.0.1", std::stoi(match[1]));
  client.set_keep_alive(true);
  auto wsdl = client.Get("/FileUploader/Sender_Server.dll/wsdl/ISenderService");
  ASSERT_TRUE(wsdl);
  EXPECT_EQ(wsdl->status, 200);
  service.Signal(SIGINT);
  EXPECT_EQ(service.Wait(kEndMs), 0);
  const std::string log = service.Err();
  EXPECT_NE(log.find(" WSDL 200\n"), std::string::npos) << log;
  EXPECT_NE(log.find("vorlen-service: stopped\n"), std::string::npos) << log;
}

// A service killed while it merges leaves each delivered file whole or absent, never torn; what
// the killed merges left in the work folder is gone once the service is back.
TEST(ServiceBinary, KilledDuringMergesLeavesWholeFilesOnly) {
  TScratchDir root;
  const std::string sess = "0123456789abcdef0123456789abcdef";
  const std::filesystem::path folder = root.Path() / sess;
  for (const char* sub : {"parts", "delivered", "work"}) {
    std::filesystem::create_directories(folder / sub);
  }
  std::string whole;
  const int lastPart = 15;
  for (int i = 0; i <= lastPart; ++i) {
    const std::string part = test::RandomBytes(256 * 1024, 7 + i);
    test::WriteFile(folder / "parts" / PartFileName("big.bin", i), part);
    whole += part;
  }

  int merged = 0;
  for (int cycle = 0; cycle < 5; ++cycle) {
    TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", root.Path().string()});
    std::smatch match;
    const std::string line = service.OutLine();
    ASSERT_TRUE(std::regex_search(line, match, std::regex("(http://[^/]+/.*)"))) << line;
    // The earlier run's leftovers are cleared by the look at its folders, after the listening.
    ASSERT_EQ(service.OutLine(), "earlier sessions taken up");
    for (const auto& entry : std::filesystem::directory_iterator(folder / "work")) {
      ADD_FAILURE() << "left over in work: " << entry.path();
    }
    std::atomic<int> answers{0};
    std::thread merger([&, url = match[1].str()] {
      try {
        ISenderServicePtr proxy = BindSenderService(false, url, nullptr);
        for (int n = 0;; ++n) {
          if (proxy->MergeFile(lastPart, std::string("big.") + "abc"[n % 3], sess)) ++answers;
        }
      } catch (const std::exception&) {
        // the service is gone
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + 60 * cycle));
    service.Signal(SIGKILL);
    service.Wait(kEndMs);
    merger.join();
    merged += answers;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "delivered")) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(std::regex_match(name, std::regex("big\\.[abc]"))) << name;
      EXPECT_TRUE(test::ReadFile(entry.path()) == whole) << name << " is torn";
    }
  }
  EXPECT_GT(merged, 0);
}

// A session folder as a client's uploads leave it: bytes cut into parts of partSize under the
// part names of fileName. Returns the index of the last part.
int32_t PlaceParts(const fs::path& folder, const std::string& fileName, const std::string& bytes,
                   size_t partSize) {
  for (const char* sub : {"parts", "delivered", "work"}) fs::create_directories(folder / sub);
  const auto last = static_cast<int32_t>(bytes.size() / partSize);
  for (int32_t i = 0; i <= last; ++i) {
    WriteFile(folder / "parts" / PartFileName(fileName, i), bytes.substr(i * partSize, partSize));
  }
  return last;
}

// The names of the files in a folder; none when it is missing.
std::set<std::string> Names(const fs::path& folder) {
  return fs::is_directory(folder) ? ListTree(folder) : std::set<std::string>{};
}

// A killed unpacking leaves the archive whole, in delivered/ or kept in work/archive/, unless
// every member is in; a member that is there is whole.
void ExpectNothingAcknowledgedLost(
    const fs::path& folder, const std::string& archive,
    const std::vector<std::pair<std::string, std::string>>& members) {
  size_t present = 0;
  for (const auto& [name, bytes] : members) {
    if (!fs::exists(folder / "delivered" / name)) continue;
    ++present;
    EXPECT_TRUE(ReadFile(folder / "delivered" / name) == bytes) << name << " is torn";
  }
  if (present == members.size()) return;
  const fs::path kept = fs::exists(folder / "delivered" / "vorarch.rar")
                            ? folder / "delivered" / "vorarch.rar"
                            : folder / "work" / "archive" / "vorarch.rar";
  if (present == 0 && !fs::exists(kept)) return;  // not merged yet: nothing was acknowledged
  ASSERT_TRUE(fs::exists(kept)) << present << " members without their archive";
  EXPECT_TRUE(ReadFile(kept) == archive) << "the archive is torn";
}

// A kill at each step of a merge and an unpacking, then a restart and the client's next calls:
// the service finishes what was acknowledged or begun, and every delivered file is whole. A stop
// whose time-out ends an unpacking midway does the same, and says so in its exit status.
TEST(ServiceBinary, KilledAtEveryStepOfMergeAndUnZipLosesNothing) {
  TScratchDir src;
  std::vector<std::pair<std::string, std::string>> members;
  for (int i = 0; i < 24; ++i) {
    members.emplace_back(Format("m%02d.bin", i), test::RandomBytes(3000 + 1000 * i, i));
  }
  const std::string archive = PackFiles(src.Path(), members);
  std::set<std::string> memberNames;
  for (const auto& member : members) memberNames.insert(member.first);
  const std::string sess = "0123456789abcdef0123456789abcdef";

  for (const auto& [point, held] :
       std::vector<std::pair<const char*, bool>>{{"merge-written", false},
                                                 {"merge-recorded", false},
                                                 {"merge-committed", false},
                                                 {"unzip-staged", false},
                                                 {"unzip-packed", false},
                                                 {"unzip-archived", false},
                                                 {"unzip-half", false},
                                                 {"unzip-half", true}}) {
    SCOPED_TRACE(std::string(point) + (held ? " (stopped)" : " (killed)"));
    TScratchDir root;
    const fs::path folder = root.Path() / sess;
    const int32_t last = PlaceParts(folder, "vorarch.rar", archive, 16384);
    {
      TScopedEnv hook(held ? "VORLEN_SERVICE_HOLD_AT" : "VORLEN_SERVICE_KILL_AT", point);
      TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", root.Path().string(),
                        "--stop-timeout", "1"});
      ISenderServicePtr proxy = BindSenderService(false, test::ListeningUrl(service), nullptr);
      std::thread client([&] {
        try {
          EXPECT_TRUE(proxy->MergeFile(last, "vorarch.rar", sess));
          proxy->UnZip(sess);
          ADD_FAILURE() << "the service was not stopped";
        } catch (const std::exception&) {
          // ended at the point
        }
      });
      if (held) {
        // The look at the earlier run's folders may be told first.
        std::string line = service.OutLine();
        if (line == "earlier sessions taken up") line = service.OutLine();
        EXPECT_EQ(line, std::string("held at ") + point);
        service.Signal(SIGTERM);
      }
      EXPECT_EQ(service.Wait(kEndMs), held ? 1 : 128 + SIGKILL);
      client.join();
    }
    ExpectNothingAcknowledgedLost(folder, archive, members);

    TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", root.Path().string()});
    ISenderServicePtr proxy = BindSenderService(false, test::ListeningUrl(service), nullptr);
    // Back, it has finished an unpacking that had begun, before any call, once it has looked at
    // the sessions of its earlier run (while it listens already).
    EXPECT_EQ(service.OutLine(), "earlier sessions taken up");
    const std::set<std::string> atStart = Names(folder / "delivered");
    const std::string step = point;
    if (step == "merge-written" || step == "merge-recorded") {
      EXPECT_EQ(atStart, std::set<std::string>{});
    } else if (step == "merge-committed" || step == "unzip-staged") {
      EXPECT_EQ(atStart, std::set<std::string>{"vorarch.rar"});
    } else {
      EXPECT_EQ(atStart, memberNames);
    }
    EXPECT_EQ(Names(folder / "work" / "unzip"), std::set<std::string>{});
    EXPECT_TRUE(proxy->MergeFile(last, "vorarch.rar", sess));
    EXPECT_TRUE(proxy->UnZip(sess));
    EXPECT_TRUE(proxy->DelTempFiles(sess));
    EXPECT_EQ(Names(folder / "delivered"), memberNames);
    ExpectNothingAcknowledgedLost(folder, archive, members);
    service.Signal(SIGTERM);
    EXPECT_EQ(service.Wait(kEndMs), 0);
  }
}

// Under the 256 descriptors of a tight limit the service says what it needs, and still takes a
// 300 MB send of 1,537 parts and unpacks an archive of 1,000 members: neither the merge nor the
// unpacking holds its parts or members open at once.
TEST(ServiceBinary, MergesAndUnpacksAnyCountWithin256Descriptors) {
  TScratchDir root;
  // Thousands of log lines: to a file, as no one reads them meanwhile.
  const fs::path log = root.Path() / "service.log";
  TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", (root.Path() / "in").string()},
                   {.Err = test::stFile, .ErrFile = log.string(), .Descriptors = 256});
  ISenderServicePtr proxy = BindSenderService(false, test::ListeningUrl(service), nullptr);
  const std::string sess = proxy->GetSession();
  const fs::path folder = root.Path() / "in" / sess;
  auto upload = [&](const std::string& name, const std::string& bytes) {
    TMemoryStream stream{std::string_view(bytes)};
    TSOAPAttachment part;
    part.SetSourceStream(&stream, TStreamOwnership::owReference);
    return proxy->UploadFilePart(sess, name, test::Crc(bytes), &part);
  };
  // Parts of 204,800 bytes, each starting with its own index.
  constexpr int32_t kLastPart = 1536;
  constexpr off_t kPartSize = 204800;
  auto partBytes = [](int32_t i) {
    std::string bytes = Format("part %d", i);
    bytes.resize(kPartSize, static_cast<char>('a' + i % 26));
    return bytes;
  };
  for (int32_t i = 0; i <= kLastPart; ++i) {
    ASSERT_TRUE(upload(PartFileName("big.bin", i), partBytes(i))) << i;
  }
  TScratchDir src;
  std::vector<std::pair<std::string, std::string>> members;
  for (int i = 0; i < 1000; ++i) members.emplace_back(Format("f%04d.txt", i), Format("file %d", i));
  ASSERT_TRUE(upload(PartFileName("pack.rar", 0), PackFiles(src.Path(), members)));

  EXPECT_TRUE(proxy->MergeFile(kLastPart, "big.bin", sess));
  const fs::path big = folder / "delivered" / "big.bin";
  ASSERT_EQ(fs::file_size(big), static_cast<uintmax_t>(kPartSize) * (kLastPart + 1));
  {
    const int fd = open(big.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    for (int32_t i = 0; i <= kLastPart; ++i) {
      std::string read(kPartSize, '\0');
      ASSERT_EQ(pread(fd, read.data(), read.size(), i * kPartSize),
                static_cast<ssize_t>(read.size()));
      ASSERT_TRUE(read == partBytes(i)) << i;
    }
    close(fd);
  }
  EXPECT_TRUE(proxy->MergeFile(0, "pack.rar", sess));
  EXPECT_TRUE(proxy->UnZip(sess));
  for (const auto& [name, bytes] : members) {
    ASSERT_EQ(ReadFile(folder / "delivered" / name), bytes) << name;
  }
  EXPECT_TRUE(proxy->DelTempFiles(sess));
  service.Signal(SIGTERM);
  EXPECT_EQ(service.Wait(kEndMs), 0);
  EXPECT_NE(ReadFile(log).find("vorlen-service: needs 392 open files for --max-connections 256 "
                               "and --threads 8, but may open only 256;"),
            std::string::npos)
      << ReadFile(log);
}

// A tmpfs of its own, mounted for the scope (the tests run as root where they may mount).
class TSmallDisk {
 public:
  TSmallDisk(const fs::path& path, const std::string& options) : FPath(path) {
    fs::create_directories(path);
    FMounted = mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~TSmallDisk() {
    if (FMounted) umount2(FPath.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return FMounted; }

 private:
  fs::path FPath;
  bool FMounted = false;
};

// Fills the disk under folder: with bytes, or with empty files when inodes is set. Returns how
// many files it made.
int FillDisk(const fs::path& folder, bool inodes) {
  fs::create_directories(folder);
  if (!inodes) {
    const int fd = open((folder / "fill").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string block(65536, 'f');
    while (write(fd, block.data(), block.size()) > 0) {}
    close(fd);
    return 1;
  }
  int count = 0;
  for (;; ++count) {
    const int fd = open((folder / std::to_string(count)).c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0) break;
    close(fd);
  }
  return count;
}

// A full disk for the service: a small tmpfs filled with bytes or with empty files, or, where
// none can be mounted, the preloaded library's full disk (see full-disk/FullDisk.cpp).
class TFullDisk {
 public:
  TFullDisk(const fs::path& scratch, bool preloaded)
      : FDisk(scratch / "disk"), FFlag(scratch / "full"), FPreloaded(preloaded) {
    if (!preloaded) {
      FSmall.emplace(FDisk, "size=8m,nr_inodes=400");
      return;
    }
    fs::create_directories(FDisk);
    FPreload.emplace("LD_PRELOAD", VORLEN_FULL_DISK_PRELOAD);
    FFlagEnv.emplace("VORLEN_FULL_DISK", FFlag.string());
  }
  bool Ready() const { return FPreloaded || FSmall->Mounted(); }
  const fs::path& Path() const { return FDisk; }
  void Fill(bool inodes) {
    if (FPreloaded) {
      WriteFile(FFlag.string() + (inodes ? ".inodes" : ".bytes"), "");
    } else {
      EXPECT_GT(FillDisk(FDisk / "filler", inodes), 0);
    }
  }
  void Free() {
    fs::remove(FFlag.string() + ".bytes");
    fs::remove(FFlag.string() + ".inodes");
    fs::remove_all(FDisk / "filler");
  }

 private:
  fs::path FDisk, FFlag;
  bool FPreloaded;
  std::optional<TSmallDisk> FSmall;
  std::optional<TScopedEnv> FPreload, FFlagEnv;
};

// A full disk is the service's fault and says so, to the caller and in the log, whether the
// attachment or the merge found it full; once there is room again the same calls succeed.
TEST(ServiceBinary, FullDiskIsAServerFaultThatSaysSo) {
  int tried = 0;
  for (const bool preloaded : {false, true}) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer's runtime must come first among the preloaded libraries.
    if (preloaded) continue;
#endif
    SCOPED_TRACE(preloaded ? "preloaded full disk" : "small tmpfs");
    TScratchDir scratch;
    TFullDisk disk(scratch.Path(), preloaded);
    if (!disk.Ready()) continue;
    ++tried;
    TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", (disk.Path() / "in").string(),
                      "--min-free", "0"});
    ISenderServicePtr proxy = BindSenderService(false, test::ListeningUrl(service), nullptr);
    const std::string sess = proxy->GetSession();
    const std::string bytes = test::RandomBytes(100000, 3);
    TMemoryStream stream{std::string_view(bytes)};
    TSOAPAttachment part;
    part.SetSourceStream(&stream, TStreamOwnership::owReference);
    auto expectDiskFull = [&](const std::function<void()>& call) {
      try {
        call();
        ADD_FAILURE() << "no fault on a full disk";
      } catch (const ERemotableException& e) {
        EXPECT_EQ(e.Message(), "no space left on the service's disk");
        EXPECT_NE(e.FaultCode.find("Server"), std::string::npos) << e.FaultCode;
      }
    };

    disk.Fill(false);
    expectDiskFull([&] { proxy->UploadFilePart(sess, "x._000", test::Crc(bytes), &part); });
    disk.Free();
    EXPECT_TRUE(proxy->UploadFilePart(sess, "x._000", test::Crc(bytes), &part));
    disk.Fill(true);
    expectDiskFull([&] { proxy->MergeFile(0, "x.bin", sess); });
    disk.Free();
    EXPECT_TRUE(proxy->MergeFile(0, "x.bin", sess));
    EXPECT_TRUE(ReadFile(disk.Path() / "in" / sess / "delivered" / "x.bin") == bytes);
    part.ReleaseSourceStream();

    service.Signal(SIGTERM);
    EXPECT_EQ(service.Wait(kEndMs), 0);
    const std::string log = service.Err();
    // The body is held on disk before the request is read, so its line names no operation; it
    // is counted before it is written.
    EXPECT_TRUE(std::regex_search(log, std::regex(" - - fault SOAP-ENV:Server: no space left on "
                                                  "the service's disk \\([0-9]+ bytes more do not "
                                                  "fit in the [0-9]+ free\\)\n")))
        << log;
    EXPECT_NE(log.find(" " + sess +
                       " MergeFile fault SOAP-ENV:Server: no space left on the "
                       "service's disk (Cannot create "),
              std::string::npos)
        << log;
  }
  if (tried == 0) GTEST_SKIP() << "no tmpfs can be mounted here, and a sanitizer is loaded first";
}

const char* const kGetSessionEnvelope =
    "<?xml version=\"1.0\"?>\n<SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body><NS1:GetSession "
    "xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\"/></SOAP-ENV:Body></SOAP-ENV:Envelope>";

// The session id that a GetSession answers, or empty.
std::string NewSession(int port) {
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(5, 0);
  auto result = client.Post("/FileUploader/Sender_Server.dll/soap/ISenderService",
                            {{"SOAPAction", "\"urn:SenderServiceIntf-ISenderService#GetSession\""}},
                            kGetSessionEnvelope, "text/xml; charset=\"utf-8\"");
  std::smatch session;
  if (!result || !std::regex_search(result->body, session, std::regex(">([0-9a-f]{32})<"))) {
    return {};
  }
  return session[1];
}

int PortOf(TProcess& service) {
  std::smatch match;
  const std::string line = service.OutLine();
  return std::regex_search(line, match, std::regex(":([0-9]+)/")) ? std::stoi(match[1]) : 0;
}

// A connection whose request head the service has taken in: it asks the service to confirm the
// head (Expect: 100-continue), which the service does once its handler has seen it, and then
// sends the start of the body and nothing more.
std::unique_ptr<TLoopbackClient> OpenRequest(int port, const std::string& head,
                                             const std::string& bodyStart) {
  auto connection = std::make_unique<TLoopbackClient>(port);
  if (!connection->Send(head + "Expect: 100-continue\r\n\r\n") ||
      !connection->ReceiveUntil("HTTP/1.1 100 Continue\r\n\r\n") || !connection->Send(bodyStart)) {
    return nullptr;
  }
  return connection;
}

// Bodies are held as they arrive: announcing the largest allowed body on several connections
// reserves nothing, so a service that may not take 4 GiB of memory goes on serving.
TEST(ServiceBinary, AnnouncedBodiesReserveNoMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit under the address-space limit";
#endif
  TScratchDir root;
  TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", (root.Path() / "in").string(),
                    "--max-body", "1G"},
                   {.AddressSpace = uint64_t{2} << 30});
  const int port = PortOf(service);
  ASSERT_GT(port, 0);
  std::vector<std::unique_ptr<TLoopbackClient>> connections;
  for (int i = 0; i < 4; ++i) {
    connections.push_back(
        OpenRequest(port,
                    "POST /FileUploader/Sender_Server.dll/soap/ISenderService HTTP/1.1\r\n"
                    "Host: 127.0.0.1\r\nContent-Type: multipart/related; boundary=B\r\n"
                    "Content-Length: 1073741824\r\n",
                    std::string(4096, ' ')));
    ASSERT_TRUE(connections.back());
  }
  EXPECT_EQ(NewSession(port).size(), 32u);
  connections.clear();
  service.Signal(SIGTERM);
  EXPECT_EQ(service.Wait(kEndMs), 0);
}

// A stop does not wait for a client that is still sending, and what it sent is not kept.
TEST(ServiceBinary, StopsWithinItsDeadlineWhileAnUploadTrickles) {
  TScratchDir root;
  TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", (root.Path() / "in").string(),
                    "--stop-timeout", "2", "--head-timeout", "60"});
  const int port = PortOf(service);
  ASSERT_GT(port, 0);
  const std::string sess = NewSession(port);
  ASSERT_EQ(sess.size(), 32u);
  const std::string envelope =
      "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
      "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
      "<NS1:UploadFilePart xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\"><Sess>" +
      sess +
      "</Sess><PartName>f._000</PartName><Hash></Hash><FilePart href=\"cid:p1\"/>"
      "</NS1:UploadFilePart></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  const std::string start = "\r\n--B\r\nContent-Length: " + std::to_string(envelope.size()) +
                            "\r\n\r\n" + envelope +
                            "\r\n\r\n--B\r\nContent-ID: <p1>\r\n"
                            "Content-Length: 204800\r\n\r\n" +
                            std::string(100000, 'p');
  auto upload =
      OpenRequest(port,
                  "POST /FileUploader/Sender_Server.dll/soap/ISenderService HTTP/1.1\r\n"
                  "Host: 127.0.0.1\r\nContent-Type: multipart/related; boundary=B\r\n"
                  "SOAPAction: \"urn:SenderServiceIntf-ISenderService#UploadFilePart\"\r\n"
                  "Content-Length: " +
                      std::to_string(start.size() + 104806) + "\r\n",
                  start);
  ASSERT_TRUE(upload);
  const auto signalled = std::chrono::steady_clock::now();
  service.Signal(SIGTERM);
  EXPECT_EQ(service.Wait(kEndMs), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(3));
  upload.reset();
  EXPECT_NE(service.Err().find("vorlen-service: stopped"), std::string::npos);
  EXPECT_EQ(test::FilesBelow(root.Path() / "in" / sess), std::set<std::string>{});
}

TEST(ServiceBinary, HelpAndBadUsage) {
  TProcess help({VORLEN_SERVICE_BINARY, "--help"});
  EXPECT_EQ(help.Wait(kEndMs), 0);
  const std::string text = help.Out();
  EXPECT_EQ(text.rfind("Usage: vorlen-service [options]\n", 0), 0u) << text;

  TProcess bad({VORLEN_SERVICE_BINARY, "--port", "http"});
  EXPECT_EQ(bad.Wait(kEndMs), 2);
  const std::string error = bad.Err();
  EXPECT_EQ(error.rfind("vorlen-service: --port: 'http' is not a number\n", 0), 0u) << error;

  // A port that is taken is reported, not ignored.
  int taken = 0;
  const test::TRawSocket blocker = test::LoopbackSocket(taken, 1);
  TScratchDir root;
  TProcess clash({VORLEN_SERVICE_BINARY, "--port", std::to_string(taken), "--root",
                  (root.Path() / "in").string()});
  EXPECT_EQ(clash.Wait(kEndMs), 1);
  test::CloseSocket(blocker);
  const std::string clashError = clash.Err();
  EXPECT_EQ(clashError,
            "vorlen-service: Cannot listen on 127.0.0.1 port " + std::to_string(taken) + "\n");
}

}  // namespace
}  // namespace vorlen
