#include <gtest/gtest.h>

#include "mime/MimeAttachmentHandler.h"
#include "support/RawHttpServer.h"
#include "transport/HTTPReqResp.h"
#include "transport/SOAPHTTPException.h"
#include "transport/TransportTestUtil.h"
#include "transport/WireHead.h"

namespace vorlen {
namespace {

using test::HttpResponse;
using test::TRawHttpServer;
using test::TRawReply;
using test::TRawRequest;
using test::WireHead;

const char* const kOkEnvelope = "<ok/>";

const TRawHttpServer::THandler Utf8XmlOk =
    test::Always(HttpResponse(200, "OK", "text/xml; charset=utf-8", kOkEnvelope));

TEST(TransportWire, PlainAndMultipartRequestsByteForByte) {
  TRawHttpServer server(Utf8XmlOk);
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/FileUploader/Sender_Server.dll/soap/ISenderService"));

  node.PrepareCall(test::SenderIntf(), smGetSession, nullptr);
  TMemoryStream response;
  node.Exchange(std::string("<env>\xD0\x96</env>"), response);
  EXPECT_EQ(response.ToString(), kOkEnvelope);
  EXPECT_EQ(node.ResponseContentType(), "text/xml; charset=utf-8");
  EXPECT_EQ(node.MimeBoundary(), "");

  TMimeAttachmentHandler handler;
  TMemoryStream envelope("<e/>");
  TSoapDataList attachments;
  attachments.push_back(std::make_unique<TSOAPAttachmentData>());
  attachments[0]->SetSourceString("abc");
  attachments[0]->ContentType = "application/binary";
  attachments[0]->Encoding = "binary";
  attachments[0]->Headers = {"Content-ID: <1>"};
  handler.CreateMimeStream(envelope, attachments);
  node.SetMimeBoundary(handler.MIMEBoundary());
  node.PrepareCall(test::SenderIntf(), smUploadFilePart, &handler);
  handler.FinalizeStream();
  TMemoryStream response2;
  node.Exchange(handler.GetMIMEStream(), response2);
  EXPECT_EQ(response2.ToString(), kOkEnvelope);

  const std::vector<TRawRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Head,
            WireHead("/FileUploader/Sender_Server.dll/soap/ISenderService",
                     "SOAPAction: \"urn:SenderServiceIntf-ISenderService#GetSession\"\r\n"
                     "Content-Type: text/xml; charset=\"utf-8\"\r\n",
                     "Vorlen Sender SOAP 1.2", server.Port(), 13));
  EXPECT_EQ(requests[0].Body, "<env>\xD0\x96</env>");

  EXPECT_EQ(requests[1].Head,
            WireHead("/FileUploader/Sender_Server.dll/soap/ISenderService",
                     "MIME-Version: 1.0\r\n"
                     "SOAPAction: \"urn:SenderServiceIntf-ISenderService#UploadFilePart\"\r\n"
                     "Content-Type: multipart/related; boundary=MIME_boundaryB0R9532143182121\r\n",
                     "Vorlen Sender SOAP 1.2", server.Port(), 448));
  EXPECT_EQ(requests[1].Body,
            "\r\n--MIME_boundaryB0R9532143182121\r\n"
            "Content-Type: text/xml; charset=\"utf-8\"\r\n"
            "SOAPAction: \"urn:SenderServiceIntf-ISenderService#UploadFilePart\"\r\n"
            "Content-ID: <http://tempuri.org/rootpart.xml>\r\n"
            "Content-Location: http://tempuri.org/rootpart.xml\r\n"
            "Content-Length: 4\r\n"
            "\r\n"
            "<e/>\r\n"
            "\r\n--MIME_boundaryB0R9532143182121\r\n"
            "Content-ID: <1>\r\n"
            "Content-Length: 3\r\n"
            "Content-Type: application/binary\r\n"
            "Content-transfer-encoding: binary\r\n"
            "\r\n"
            "abc\r\n--MIME_boundaryB0R9532143182121--");
  // Both calls went over one kept-alive connection.
  EXPECT_EQ(requests[0].Connection, 1);
  EXPECT_EQ(requests[1].Connection, 1);
  EXPECT_TRUE(node.ConnectionOpen());
}

TEST(TransportWire, HeaderOptions) {
  TRawHttpServer server(Utf8XmlOk);
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/s"));
  node.Agent = "Agent X";
  node.UseUTF8InHeader = false;
  node.InvokeOptions.Include(TSOAPInvokeOption::soNoValueForEmptySOAPAction);
  TMemoryStream response;
  node.Exchange(std::string(), response);  // empty action, empty body
  node.InvokeOptions.Include(TSOAPInvokeOption::soNoSOAPActionHeader);
  node.Exchange(std::string("x"), response);

  const std::vector<TRawRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Head,
            WireHead("/s", test::kEmptySOAPActionLine + "Content-Type: text/xml\r\n", "Agent X",
                     server.Port(), 0));
  EXPECT_EQ(requests[1].Head,
            WireHead("/s", "Content-Type: text/xml\r\n", "Agent X", server.Port(), 1));
}

// The kept handle is given only what changed since its last request: every change must still
// reach the wire, and a setting taken back must be gone from it.
TEST(TransportWire, SettingsChangedBetweenCallsReachTheWire) {
  TRawHttpServer server(Utf8XmlOk);
  TRawHttpServer proxy(Utf8XmlOk);
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/s"));
  TMemoryStream response;
  node.SetCurrentAction("urn:A");
  node.Exchange(std::string("1"), response);
  node.Agent = "Agent B";
  node.SetCurrentAction("urn:B");
  node.Exchange(std::string("2"), response);
  if (test::kProxySettingsFollowedExactly) {
    node.Proxy = "http://127.0.0.1:" + std::to_string(proxy.Port());
    node.Exchange(std::string("3"), response);
    node.Proxy.clear();
  }
  node.SetCurrentAction("");
  node.Exchange(std::string("4"), response);

  const std::vector<TRawRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].Head, WireHead("/s",
                                       "SOAPAction: \"urn:A\"\r\n"
                                       "Content-Type: text/xml; charset=\"utf-8\"\r\n",
                                       "Vorlen Sender SOAP 1.2", server.Port(), 1));
  EXPECT_EQ(requests[1].Head, WireHead("/s",
                                       "SOAPAction: \"urn:B\"\r\n"
                                       "Content-Type: text/xml; charset=\"utf-8\"\r\n",
                                       "Agent B", server.Port(), 1));
  EXPECT_EQ(requests[1].Body, "2");
  EXPECT_EQ(requests[1].Connection, requests[0].Connection);
  EXPECT_EQ(requests[2].Head, WireHead("/s",
                                       "SOAPAction: \"\"\r\n"
                                       "Content-Type: text/xml; charset=\"utf-8\"\r\n",
                                       "Agent B", server.Port(), 1));
  EXPECT_EQ(requests[2].Body, "4");

  if (!test::kProxySettingsFollowedExactly) return;
  const std::vector<TRawRequest> proxied = proxy.Requests();
  ASSERT_EQ(proxied.size(), 1u);
  EXPECT_EQ(proxied[0].RequestLine(),
            "POST http://127.0.0.1:" + std::to_string(server.Port()) + "/s HTTP/1.1");
  EXPECT_EQ(proxied[0].Body, "3");
}

TEST(TransportWire, ConnectionIsReusedUntilACallFails) {
  int calls = 0;
  TRawHttpServer server([&calls](const TRawRequest&) -> TRawReply {
    ++calls;
    if (calls == 3) return {HttpResponse(404, "Not Found", "text/html", "<p>gone</p>")};
    return {HttpResponse(200, "OK", "text/xml", "<r/>")};
  });
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/soap"));
  TMemoryStream response;
  node.Exchange(std::string("1"), response);
  node.Exchange(std::string("2"), response);
  EXPECT_THROW(node.Exchange(std::string("3"), response), ESOAPHTTPException);
  EXPECT_FALSE(node.ConnectionOpen());
  node.Exchange(std::string("4"), response);
  EXPECT_TRUE(node.ConnectionOpen());

  std::vector<TRawRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].Connection, 1);
  EXPECT_EQ(requests[1].Connection, 1);
  EXPECT_EQ(requests[2].Connection, 1);
  // New handles; over a new TCP connection unless the HTTP client pools them.
  EXPECT_EQ(requests[3].Connection, test::kClosedHandlesEndTheConnection ? 2 : 1);

  // A new endpoint also starts a new connection.
  node.SetEndpointURL(server.URL("/other"));
  EXPECT_FALSE(node.ConnectionOpen());
  node.Exchange(std::string("5"), response);
  requests = server.Requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[4].Connection, test::kClosedHandlesEndTheConnection ? 3 : 1);
  EXPECT_EQ(requests[4].RequestLine(), "POST /other HTTP/1.1");
}

TEST(TransportWire, ExplicitProxyGetsTheAbsoluteTarget) {
  TRawHttpServer proxy(Utf8XmlOk);
  THTTPReqResp node;
  // The target port has no listener: only the proxy can answer.
  const int target = test::UnusedLoopbackPort();
  node.SetEndpointURL("http://127.0.0.1:" + std::to_string(target) + "/soap");
  node.Proxy = "http://127.0.0.1:" + std::to_string(proxy.Port());
  TMemoryStream response;
  node.Exchange(std::string("<x/>"), response);
  EXPECT_EQ(response.ToString(), kOkEnvelope);
  const std::vector<TRawRequest> requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].RequestLine(),
            "POST http://127.0.0.1:" + std::to_string(target) + "/soap HTTP/1.1");
  EXPECT_EQ(requests[0].Body, "<x/>");

  // A bypassed host is reached directly, so the call fails at the closed target port.
  if (!test::kProxySettingsFollowedExactly) return;
  node.ProxyByPass = "<local>";
  EXPECT_THROW(node.Exchange(std::string("<x/>"), response), ESOAPHTTPException);
  EXPECT_EQ(proxy.Requests().size(), 1u);
}

}  // namespace
}  // namespace vorlen
