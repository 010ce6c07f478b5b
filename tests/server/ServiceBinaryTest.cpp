// The vorlen-service executable as scripts start it: --port 0, the listening line on standard
// output, SIGTERM to stop.
#include <gtest/gtest.h>

#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <regex>
#include <thread>

#include "proxy/HTTPRIO.h"
#include "server/FileNames.h"
#include "server/ServerTestSupport.h"
#include "support/LoopbackClient.h"
#include "support/Pattern.h"
#include "support/Process.h"

namespace vorlen {
namespace {

using test::TLoopbackClient;
using test::TProcess;
using test::TScratchDir;

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
  EXPECT_TRUE(std::filesystem::is_directory(root.Path() / "in" / session[1].str() / "parts"));

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
