// The service over loopback HTTP with raw requests: routing, limits and garbage, each answered
// with an error while the service goes on serving.
#include "server/HttpService.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <libxml/parser.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/Format.h"
#include "server/ServerTestSupport.h"
#include "server/SpooledBody.h"
#include "support/LoggedService.h"
#include "support/LoopbackClient.h"

namespace vorlen {
namespace {

using test::TLoggedService;
using test::TLoopbackClient;
using test::TScratchDir;

const char* const kGetSession =
    "<?xml version=\"1.0\"?>\n"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\"><SOAP-ENV:Body "
    "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><NS1:GetSession "
    "xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\"/></SOAP-ENV:Body></SOAP-ENV:Envelope>\n";

// A service on a free port with a single worker, so that one held worker would show.
TServiceOptions OneWorker(const TScratchDir& root) {
  TServiceOptions options;
  options.Port = 0;
  options.Root = (root.Path() / "inbox").string();
  options.Threads = 1;
  return options;
}

class HttpServiceTest : public ::testing::Test {
 protected:
  HttpServiceTest() {
    FOptions.Port = 0;
    FOptions.Root = (FRoot.Path() / "inbox").string();
    FOptions.MaxBody = 64 * 1024;
    FOptions.Threads = 4;
    FLogged = std::make_unique<TLoggedService>(FOptions);
    FService = &FLogged->Service;
  }

  httplib::Client Client() {
    httplib::Client client("127.0.0.1", FService->Port());
    client.set_read_timeout(10, 0);
    return client;
  }

  httplib::Headers Action(const std::string& operation) {
    return {{"SOAPAction", "\"urn:SenderServiceIntf-ISenderService#" + operation + "\""}};
  }

  // A GetSession that works proves the service still serves.
  void ExpectStillServing() {
    auto client = Client();
    auto result =
        client.Post(kSoapPath, Action("GetSession"), kGetSession, "text/xml; charset=\"utf-8\"");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_NE(result->body.find("<return xsi:type=\"xsd:string\">"), std::string::npos);
  }

  std::vector<std::string> Log() { return FLogged->Lines(); }

  TScratchDir FRoot;
  TServiceOptions FOptions;
  std::unique_ptr<TLoggedService> FLogged;
  THttpService* FService = nullptr;
};

TEST_F(HttpServiceTest, RoutesTheSoapAndWsdlAddressesOnly) {
  EXPECT_EQ(FService->Url(), "http://127.0.0.1:" + std::to_string(FService->Port()) +
                                 "/FileUploader/Sender_Server.dll/soap/ISenderService");
  ExpectStillServing();
  auto client = Client();
  auto wsdl = client.Get(kWsdlPath);
  ASSERT_TRUE(wsdl);
  EXPECT_EQ(wsdl->status, 200);
  EXPECT_EQ(wsdl->get_header_value("Content-Type"), "text/xml; charset=\"utf-8\"");
  for (const char* op : {"GetSession", "UploadFilePart", "MergeFile", "UnZip", "DelTempFiles"}) {
    EXPECT_NE(wsdl->body.find(std::string("<soap:operation soapAction=\"urn:SenderServiceIntf-"
                                          "ISenderService#") +
                              op + "\" style=\"rpc\"/>"),
              std::string::npos)
        << op;
  }
  EXPECT_NE(wsdl->body.find("<soap:address location=\"" + FService->Url() + "\"/>"),
            std::string::npos);
  EXPECT_NE(wsdl->body.find("<part name=\"Parts\" type=\"xs:int\"/><part name=\"FileName\" "
                            "type=\"xs:string\"/><part name=\"Sess\" type=\"xs:string\"/>"),
            std::string::npos);
  xmlDoc* parsed = xmlReadMemory(wsdl->body.data(), static_cast<int>(wsdl->body.size()), "wsdl.xml",
                                 nullptr, XML_PARSE_NONET);
  EXPECT_NE(parsed, nullptr) << "the WSDL is not well-formed";
  xmlFreeDoc(parsed);

  for (const char* path : {"/", "/FileUploader/Sender_Server.dll/soap/ISenderServiceX",
                           "/FileUploader/Sender_Server.dll/soap/ISenderService/x",
                           "/FileUploader/Sender_ServerXdll/soap/ISenderService"}) {
    auto result = client.Post(path, Action("GetSession"), kGetSession, "text/xml");
    ASSERT_TRUE(result) << path;
    EXPECT_EQ(result->status, 404) << path;
  }
  auto getSoap = client.Get(kSoapPath);
  ASSERT_TRUE(getSoap);
  EXPECT_EQ(getSoap->status, 404);

  // One log line per request: time, peer, session, operation, result.
  const auto log = Log();
  ASSERT_GE(log.size(), 7u);
  EXPECT_NE(log[0].find(" 127.0.0.1:"), std::string::npos) << log[0];
  EXPECT_NE(log[0].find(" GetSession "), std::string::npos) << log[0];
  EXPECT_NE(log[2].find("HTTP 404"), std::string::npos) << log[2];
}

TEST_F(HttpServiceTest, OversizedBodiesAreRefusedWith413) {
  auto client = Client();
  const std::string big(FOptions.MaxBody + 1, 'x');
  auto declared = client.Post(kSoapPath, Action("GetSession"), big, "text/xml");
  ASSERT_TRUE(declared);
  EXPECT_EQ(declared->status, 413);
  ExpectStillServing();

  // Without a declared length the limit holds as well.
  auto chunked = client.Post(
      kSoapPath, Action("GetSession"),
      [&](size_t offset, httplib::DataSink& sink) {
        if (offset < big.size()) {
          sink.write(big.data() + offset, std::min<size_t>(8192, big.size() - offset));
        } else {
          sink.done();
        }
        return true;
      },
      "text/xml");
  ASSERT_TRUE(chunked);
  EXPECT_EQ(chunked->status, 413);
  ExpectStillServing();

  // A body at the limit is read.
  std::string padded = kGetSession;
  padded.append(FOptions.MaxBody - padded.size(), ' ');
  auto atLimit = client.Post(kSoapPath, Action("GetSession"), padded, "text/xml");
  ASSERT_TRUE(atLimit);
  EXPECT_EQ(atLimit->status, 200);
  int refused = 0;
  for (const std::string& line : Log()) refused += line.find(" HTTP 413") != std::string::npos;
  EXPECT_EQ(refused, 2);
}

std::string SoapHead(const std::string& extra) {
  return std::string("POST ") + kSoapPath +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
         "Content-Type: text/xml\r\n"
         "SOAPAction: \"urn:SenderServiceIntf-ISenderService#GetSession\"\r\n" +
         extra + "\r\n";
}

// Sends only the head of a request that announces a huge body, and returns what comes back
// within ten seconds.
std::string AnnounceHugeBody(int port) {
  TLoopbackClient connection(port);
  if (!connection.Send(SoapHead("Content-Length: 1073741824\r\n"))) return {};
  return connection.Receive();
}

// Sends a request whose body stops before its announced length, closes the sending side, and
// returns the answer.
std::string SendShortBody(int port, const std::string& body, size_t announced) {
  TLoopbackClient connection(port);
  if (!connection.Send(SoapHead("Content-Length: " + std::to_string(announced) + "\r\n") + body)) {
    return {};
  }
  connection.EndSending();
  return connection.Receive();
}

TEST_F(HttpServiceTest, BodyShorterThanAnnouncedIsNotHandled) {
  // A whole, valid request, but the client promised more: what came must not be taken for it.
  const std::string envelope =
      "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
      "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
      "<NS1:GetSession xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\"/>"
      "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
  const std::string answer = SendShortBody(FService->Port(), envelope, envelope.size() + 1000);
  // httplib may drop the connection instead of writing the 400; never a 200.
  EXPECT_TRUE(answer.empty() || answer.rfind("HTTP/1.1 400 ", 0) == 0) << answer;
  ExpectStillServing();
  int sessions = 0, incomplete = 0;
  for (const std::string& line : Log()) {
    sessions += line.find(" GetSession ") != std::string::npos;
    incomplete += line.find(" HTTP 400") != std::string::npos;
  }
  EXPECT_EQ(incomplete, 1);
  // ExpectStillServing asks for one session itself.
  EXPECT_EQ(sessions, 1);
}

TEST_F(HttpServiceTest, AnnouncedOversizedBodyIsRefusedBeforeItIsSent) {
  const std::string answer = AnnounceHugeBody(FService->Port());
  EXPECT_EQ(answer.rfind("HTTP/1.1 413 ", 0), 0u) << answer;
  EXPECT_NE(answer.find("\r\nConnection: close\r\n"), std::string::npos) << answer;
  ExpectStillServing();
  int refused = 0;
  for (const std::string& line : Log()) refused += line.find(" HTTP 413") != std::string::npos;
  EXPECT_EQ(refused, 1);
}
TEST_F(HttpServiceTest, HostileHeadsAreRefusedAndTheServiceGoesOn) {
  std::string flood;
  for (int i = 0; i < 1000; ++i) {
    flood += "X-Flood-" + std::to_string(i) + ": " + std::string(100, 'a') + "\r\n";
  }
  struct TCase {
    const char* What;
    std::string Head;
    const char* Answer;
  } cases[] = {
      {"header flood", SoapHead(flood), "HTTP/1.1 431 "},
      {"negative length", SoapHead("Content-Length: -1\r\n"), "HTTP/1.1 400 "},
      {"two lengths", SoapHead("Content-Length: 4\r\nContent-Length: 10\r\n") + "abcd",
       "HTTP/1.1 400 "},
  };
  for (const TCase& c : cases) {
    TLoopbackClient connection(FService->Port());
    ASSERT_TRUE(connection.Send(c.Head)) << c.What;
    const std::string answer = connection.Receive();
    EXPECT_EQ(answer.rfind(c.Answer, 0), 0u) << c.What << ": " << answer;
    ExpectStillServing();
  }
  TLoopbackClient twice(FService->Port());
  ASSERT_TRUE(twice.Send(SoapHead("Content-Length: 3\r\nContent-Length: 4\r\n") + "abcd"));
  EXPECT_NE(twice.Receive().find("\r\n\r\nConflicting Content-Length headers\n"),
            std::string::npos);

  // A complete form post is not SOAP: the endpoint says so.
  auto client = Client();
  auto form = client.Post(kSoapPath, Action("GetSession"),
                          "--X\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--X--\r\n",
                          "multipart/form-data; boundary=X");
  ASSERT_TRUE(form);
  EXPECT_EQ(form->status, 500);
  EXPECT_NE(form->body.find("<faultstring>Unsupported content type 'multipart/form-data; "
                            "boundary=X'</faultstring>"),
            std::string::npos)
      << form->body;
}

// A body framed two ways (or in a coding the service does not read) is how a request hides
// behind another: refused, the connection closed, and the hidden request never handled.
TEST_F(HttpServiceTest, AmbiguousFramingIsRefusedAndNothingBehindItIsHandled) {
  const std::string hidden = SoapHead("Content-Length: " +
                                      std::to_string(std::string(kGetSession).size()) + "\r\n") +
                             kGetSession;
  const std::string framings[] = {
      "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n",
      "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n",
      "Transfer-Encoding: gzip\r\n",
      "Transfer-Encoding: gzip, chunked\r\n",
      "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n",
  };
  for (const std::string& framing : framings) {
    TLoopbackClient connection(FService->Port());
    ASSERT_TRUE(connection.Send(SoapHead(framing) + "0\r\n\r\n" + hidden));
    const std::string answer = connection.ReceiveAll();  // returns at the service's close
    EXPECT_EQ(answer.rfind("HTTP/1.1 400 ", 0), 0u) << framing << answer;
    EXPECT_NE(answer.find("\r\nConnection: close\r\n"), std::string::npos) << answer;
    EXPECT_EQ(answer.find("HTTP/1.1 ", 1), std::string::npos) << framing << answer;
  }
  for (const std::string& line : Log()) {
    EXPECT_EQ(line.find(" GetSession "), std::string::npos) << line;
  }
  // Plain chunked framing is still read.
  TLoopbackClient chunked(FService->Port());
  const std::string body = kGetSession;
  ASSERT_TRUE(chunked.Send(SoapHead("Transfer-Encoding: Chunked\r\nConnection: close\r\n") +
                           Format("%zx\r\n", body.size()) + body + "\r\n0\r\n\r\n"));
  EXPECT_EQ(chunked.ReceiveAll().rfind("HTTP/1.1 200 ", 0), 0u);
}

// Whatever a request carries, its log line stays one line, and what a viewer would hide or
// reorder is written as an escape.
TEST_F(HttpServiceTest, LogFieldsEscapeWhatWouldForgeOrHideText) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\r\nb\tc\x7F", "a\\x0D\\x0Ab\\x09c\\x7F"},
      {"nel\xC2\x85" "csi\xC2\x9B" "2J", "nel\\x85csi\\x9B2J"},
      {"ls\xE2\x80\xA8ps\xE2\x80\xA9", "ls\\u2028ps\\u2029"},
      {"rlo\xE2\x80\xAE" "fdp.exe\xE2\x81\xA9\xD8\x9C", "rlo\\u202Efdp.exe\\u2069\\u061C"},
      {"zw\xE2\x80\x8B\xEF\xBB\xBF", "zw\\u200B\\uFEFF"},
      {"bad\xFF\xC2 \xE2\x80", "bad\\xFF\\xC2 \\xE2\\x80"},
      {"\\x0A stays apart", "\\\\x0A stays apart"},
      {"\xD0\x9E\xD1\x82\xD1\x87\xD0\xB5\xD1\x82", "\xD0\x9E\xD1\x82\xD1\x87\xD0\xB5\xD1\x82"},
      {"", "-"},
  };
  for (const auto& [input, written] : cases) EXPECT_EQ(TRequestLog::Field(input), written);
  EXPECT_EQ(TRequestLog::Field("\xD0\x9E\xD1\x82\xD1\x87", 3), "\xD0\x9E\xD1\x82...");

  // A path with NEL and a line separator: one log line, escaped.
  TLoopbackClient connection(FService->Port());
  ASSERT_TRUE(connection.Send("GET /x\xC2\x85y\xE2\x80\xA8z HTTP/1.1\r\nHost: a\r\n"
                              "Connection: close\r\n\r\n"));
  EXPECT_EQ(connection.ReceiveAll().rfind("HTTP/1.1 404 ", 0), 0u);
  const auto log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find(" GET /x\\x85y\\u2028z HTTP 404"), std::string::npos) << log[0];
}

// A peer gets its share of the connections and no more, while other addresses are served; behind
// a trusted proxy, X-Forwarded-For names the peer whose sessions are counted.
TEST(HttpServicePeers, SharesOfConnectionsAndForwardedPeers) {
  TScratchDir root;
  TServiceOptions options = OneWorker(root);
  options.PerAddress = 2;
  options.TrustedProxies = {"127.0.0.3"};
  options.MaxPeerSessions = 1;
  TLoggedService logged(options);
  THttpService& service = logged.Service;
  const auto getSession = [&](const char* from, const std::string& extra) {
    TLoopbackClient connection(service.Port(), 10000, from);
    connection.Send(SoapHead(Format("Content-Length: %zu\r\nConnection: close\r\n",
                                    std::string(kGetSession).size()) +
                             extra) +
                    kGetSession);
    const std::string answer = connection.ReceiveAll();
    return answer.substr(0, answer.find("\r\n"));
  };
  TLoopbackClient first(service.Port(), 10000, "127.0.0.1"),
      second(service.Port(), 10000, "127.0.0.1");
  ASSERT_TRUE(first.Send("POST "));
  ASSERT_TRUE(second.Send("POST "));
  TLoopbackClient third(service.Port(), 10000, "127.0.0.1");
  third.Send("POST ");
  EXPECT_EQ(third.Receive(), "");  // closed, not answered
  EXPECT_TRUE(third.ClosedByPeer());
  EXPECT_EQ(getSession("127.0.0.2", ""), "HTTP/1.1 200 OK");

  // The proxy's own connections are not capped; the forwarded client's sessions are.
  TLoopbackClient held1(service.Port(), 10000, "127.0.0.3"),
      held2(service.Port(), 10000, "127.0.0.3");
  ASSERT_TRUE(held1.Send("POST "));
  ASSERT_TRUE(held2.Send("POST "));
  EXPECT_EQ(getSession("127.0.0.3", "X-Forwarded-For: 198.51.100.1\r\n"), "HTTP/1.1 200 OK");
  EXPECT_EQ(getSession("127.0.0.3", "X-Forwarded-For: 203.0.113.9, 198.51.100.1\r\n"),
            "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(getSession("127.0.0.3", "X-Forwarded-For: 198.51.100.2\r\n"), "HTTP/1.1 200 OK");
  EXPECT_EQ(getSession("127.0.0.3", "X-Forwarded-For: 198.51.100.3, junk\r\n"),
            "HTTP/1.1 400 Bad Request");
  // An untrusted peer cannot name another.
  EXPECT_EQ(getSession("127.0.0.2", "X-Forwarded-For: 198.51.100.4\r\n"),
            "HTTP/1.1 500 Internal Server Error");
  const std::string all = logged.Log();
  EXPECT_NE(all.find(" closed: more than 2 connections from 127.0.0.1\n"), std::string::npos)
      << all;
  EXPECT_NE(all.find(" 198.51.100.2,127.0.0.3:"), std::string::npos) << all;

  // Every slot taken: the peer holding the most gives up its longest-waiting connection, and a
  // newcomer is served.
  TScratchDir fullRoot;
  TServiceOptions full = OneWorker(fullRoot);
  full.MaxConnections = 4;
  full.PerAddress = 3;
  TLoggedService house(full);
  std::vector<std::unique_ptr<TLoopbackClient>> slow;
  for (const char* from : {"127.0.0.1", "127.0.0.1", "127.0.0.1", "127.0.0.2"}) {
    slow.push_back(std::make_unique<TLoopbackClient>(house.Service.Port(), 10000, from));
    ASSERT_TRUE(slow.back()->Send("POST "));
  }
  TLoopbackClient newcomer(house.Service.Port(), 10000, "127.0.0.4");
  newcomer.Send(SoapHead(Format("Content-Length: %zu\r\nConnection: close\r\n",
                                std::string(kGetSession).size())) +
                kGetSession);
  EXPECT_EQ(newcomer.ReceiveAll().substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(slow[0]->Receive(), "");
  EXPECT_TRUE(slow[0]->ClosedByPeer());
  EXPECT_FALSE(slow[3]->ClosedByPeer());
  const std::string houseLog = house.Log();
  EXPECT_NE(houseLog.find(" closed: all 4 connections taken: the longest waiting of 3 from "
                          "127.0.0.1\n"),
            std::string::npos)
      << houseLog;
}

// Bodies beyond 64 KiB wait in an unnamed file, never under a name in the folder; all held
// bodies together have one budget, and a burst buys no more than the rate window. One that
// shows no root part before it would go to disk is cut off unheld.
TEST(HttpServiceBodies, HeldBodiesCostDiskWithinOneBudgetAndMustKeepUp) {
  TScratchDir root;
  {
    TSpooledBody body(root.Path().string());
    std::string bytes;
    for (int i = 0; bytes.size() < 100000; ++i) bytes += std::to_string(i) + ",";
    body.WriteBuffer(bytes.data(), 30000);
    EXPECT_FALSE(body.Spooled());
    body.WriteBuffer(bytes.data() + 30000, static_cast<int64_t>(bytes.size()) - 30000);
    EXPECT_TRUE(body.Spooled());
    EXPECT_TRUE(std::filesystem::is_empty(root.Path()));
    std::string back(bytes.size(), '\0');
    body.SetPosition(0);
    body.ReadBuffer(back.data(), static_cast<int64_t>(back.size()));
    EXPECT_EQ(back, bytes);
    EXPECT_EQ(body.Read(back.data(), 1), 0);
  }
  TServiceOptions options = OneWorker(root);
  options.HeadSeconds = 1;
  options.MinRate = 1000;
  options.RateWindowSeconds = 2;
  options.MaxHeld = 1 << 20;
  TLoggedService logged(options);
  std::string head = SoapHead("Content-Length: 900000\r\n");
  head.replace(head.find("text/xml"), 8, "multipart/related; boundary=B");
  TLoopbackClient unheld(logged.Service.Port(), 30000);
  ASSERT_TRUE(unheld.Send(head + "--B\r\n\r\n"));
  unheld.Send(std::string(600000, '<'));
  EXPECT_EQ(unheld.Receive(), "");
  EXPECT_TRUE(unheld.ClosedByPeer());
  // Sound bodies: the root part first, then the attachment.
  head += "--B\r\n\r\n<a/>\r\n--B\r\n\r\n";
  // 600,000 bytes at once would have bought ten minutes at 1,000 bytes/s; the window closes
  // the connection within seconds of the burst.
  TLoopbackClient burst(logged.Service.Port(), 30000);
  ASSERT_TRUE(burst.Send(head + std::string(600000, '<')));
  // A second held body would pass the budget: cut off.
  TLoopbackClient over(logged.Service.Port(), 30000);
  ASSERT_TRUE(over.Send(head));
  over.Send(std::string(600000, '<'));
  EXPECT_EQ(over.Receive(), "");
  EXPECT_TRUE(over.ClosedByPeer());
  EXPECT_EQ(burst.Receive(), "");  // returns when the window closes it, long before 30 s
  EXPECT_TRUE(burst.ClosedByPeer());
  const std::string log = logged.Log();
  EXPECT_NE(log.find(" closed: request bodies held over 1048576 bytes\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find(" closed: request body slower than 1000 bytes/s\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find(" closed: Malformed multipart body: no root part within the first 65536 "
                     "bytes\n"),
            std::string::npos)
      << log;
}

// Slow peers are closed after their deadlines, and while they trickle a sound request is
// answered at once even by a single worker.
TEST(HttpServiceDeadlines, SlowPeersAreClosedAndHoldNobodyUp) {
  TScratchDir root;
  TServiceOptions options = OneWorker(root);
  options.HeadSeconds = 1;
  options.MinRate = 100;
  TLoggedService logged(options);
  THttpService& service = logged.Service;
  // A plain envelope announced beyond its own limit is answered before any of it is read.
  TLoopbackClient bigEnvelope(service.Port());
  ASSERT_TRUE(bigEnvelope.Send(SoapHead("Content-Length: 1048576\r\n")));
  EXPECT_NE(bigEnvelope.ReceiveAll().find("<faultstring>Envelope larger than 65536 bytes"),
            std::string::npos);
  TLoopbackClient slowHead(service.Port()), slowBody(service.Port());
  ASSERT_TRUE(slowHead.Send("POST "));
  ASSERT_TRUE(slowBody.Send(SoapHead("Content-Length: 1000\r\n") + "<"));
  for (int second = 0; second < 3; ++second) {
    httplib::Client client("127.0.0.1", service.Port());
    client.set_read_timeout(1, 0);
    auto result = client.Post(
        kSoapPath, {{"SOAPAction", "\"urn:SenderServiceIntf-ISenderService#GetSession\""}},
        kGetSession, "text/xml");
    ASSERT_TRUE(result) << "a sound request waited behind slow peers";
    EXPECT_EQ(result->status, 200);
    slowHead.Send("x");
    slowBody.Send("x");
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  EXPECT_TRUE(slowHead.ClosedByPeer());
  EXPECT_TRUE(slowBody.ClosedByPeer());
  const std::string all = logged.Log();
  EXPECT_NE(all.find(" closed: request head not complete within 1 s\n"), std::string::npos) << all;
  EXPECT_NE(all.find(" closed: request body slower than 100 bytes/s\n"), std::string::npos) << all;
}

TEST_F(HttpServiceTest, GarbageGetsFaultsAndTheServiceGoesOn) {
  const std::string root = std::string("\r\n--B\r\nContent-Type: text/xml\r\nContent-Length: ") +
                           std::to_string(std::string(kGetSession).size()) + "\r\n\r\n" +
                           kGetSession;
  struct TCase {
    const char* What;
    std::string ContentType, Action, Body;
  } cases[] = {
      {"non-XML", "text/xml", "GetSession", "\x01\x02 not xml at all"},
      {"empty body", "text/xml", "GetSession", ""},
      {"wrong SOAPAction", "text/xml", "UnZip", kGetSession},
      {"truncated multipart", "multipart/related; boundary=B", "GetSession",
       root.substr(0, root.size() / 2)},
      {"multipart without delimiter", "multipart/related; boundary=B", "GetSession",
       std::string(5000, '-')},
      {"endless header line", "multipart/related; boundary=B", "GetSession",
       "\r\n--B\r\n" + std::string(30000, 'H')},
      {"doctype", "text/xml", "GetSession",
       "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaa\">]><x>&a;</x>"},
      {"deep nesting", "text/xml", "GetSession", std::string(20000, '<')},
      {"form data", "multipart/form-data; boundary=X", "GetSession",
       "--X\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--X--\r\n"},
  };
  for (const TCase& c : cases) {
    auto client = Client();
    auto result = client.Post(kSoapPath, Action(c.Action), c.Body, c.ContentType.c_str());
    ASSERT_TRUE(result) << c.What;
    EXPECT_EQ(result->status, 500) << c.What;
    EXPECT_NE(result->body.find("<faultcode>SOAP-ENV:Client</faultcode>"), std::string::npos)
        << c.What << ": " << result->body;
    ExpectStillServing();
  }
  EXPECT_EQ(test::FilesBelow(FService->Server().IncomingDir()), std::set<std::string>{});
}

// An idle kept-alive connection holds one of the workers; it must give it back soon, or a
// small pool serves nobody else while desktop clients sit between sends.
TEST(HttpServiceKeepAlive, IdleConnectionsGiveTheirWorkerBack) {
  TScratchDir root;
  TServiceOptions options = OneWorker(root);
  options.KeepAliveSeconds = 1;
  TLoggedService logged(options);
  THttpService& service = logged.Service;
  auto post = [&](httplib::Client& client) {
    return client.Post(kSoapPath,
                       {{"SOAPAction", "\"urn:SenderServiceIntf-ISenderService#GetSession\""}},
                       kGetSession, "text/xml; charset=\"utf-8\"");
  };
  httplib::Client idle("127.0.0.1", service.Port());
  idle.set_keep_alive(true);
  auto first = post(idle);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 200);
  // The only worker now waits on the idle connection; another client is answered once it
  // lets go, well within this client's time-out.
  httplib::Client other("127.0.0.1", service.Port());
  other.set_read_timeout(4, 0);
  other.set_write_timeout(4, 0);
  auto second = post(other);
  ASSERT_TRUE(second) << "no answer while a kept-alive connection sat idle";
  EXPECT_EQ(second->status, 200);
  // The idle client reconnects transparently.
  auto third = post(idle);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->status, 200);
}

TEST_F(HttpServiceTest, StopsAndReleasesThePort) {
  const int port = FService->Port();
  FService->Stop();
  FLogged.reset();
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(1, 0);
  EXPECT_FALSE(client.Get(kWsdlPath));
}

}  // namespace
}  // namespace vorlen
