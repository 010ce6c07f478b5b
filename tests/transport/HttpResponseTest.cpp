#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/GeneratedStream.h"
#include "support/RawHttpServer.h"
#include "transport/HTTPReqResp.h"
#include "transport/SOAPHTTPException.h"
#include "transport/TransportTestUtil.h"
#include "transport/WireHead.h"

namespace vorlen {
namespace {

using test::Always;
using test::HttpResponse;
using test::TRawHttpServer;
using test::TRawReply;
using test::TRawRequest;

TEST(TransportResponse, StatusErrorsCarryReasonStatusAndURLWithoutTheBody) {
  TRawHttpServer server(Always(HttpResponse(404, "Nothing Here", "text/html", "<h1>404</h1>")));
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/soap"));
  TMemoryStream response("keep");
  response.SetPosition(4);
  try {
    node.Exchange(std::string("<x/>"), response);
    ADD_FAILURE() << "404 passed";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.Message(), "Nothing Here (404) - '" + server.URL("/soap") + "'");
    EXPECT_EQ(e.HTTPStatus, 404);
  }
  EXPECT_EQ(response.ToString(), "keep");
  EXPECT_FALSE(node.ConnectionOpen());

  for (int status : {302, 304, 400, 503}) {
    if (status == 302 && !test::kRedirectsReachTheTransport) continue;
    TRawHttpServer other(Always("HTTP/1.1 " + std::to_string(status) +
                                " Some Reason\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n"));
    node.SetEndpointURL(other.URL("/s"));
    try {
      node.Exchange(std::string("<x/>"), response);
      ADD_FAILURE() << status << " passed";
    } catch (const ESOAPHTTPException& e) {
      EXPECT_EQ(e.Message(),
                "Some Reason (" + std::to_string(status) + ") - '" + other.URL("/s") + "'");
      EXPECT_EQ(e.HTTPStatus, status);
    }
  }
}

TEST(TransportResponse, ContentTypeIsCheckedAfterTheWholeBody) {
  THTTPReqResp node;
  {
    // A 500 with a SOAP fault is read like any answer.
    TRawHttpServer server(Always(HttpResponse(500, "Internal Server Error", "text/xml", "<f/>")));
    node.SetEndpointURL(server.URL("/soap"));
    TMemoryStream response;
    node.Exchange(std::string("<x/>"), response);
    EXPECT_EQ(response.ToString(), "<f/>");
    EXPECT_EQ(node.ResponseContentType(), "text/xml");
  }
  struct TCase {
    int Status;
    const char* ContentType;
  };
  for (const TCase& c : {TCase{500, "text/html"}, TCase{200, "TEXT/PLAIN"}}) {
    TRawHttpServer server(Always(HttpResponse(c.Status, "Reason", c.ContentType, "page body")));
    node.SetEndpointURL(server.URL("/soap"));
    TMemoryStream response;
    try {
      node.Exchange(std::string("<x/>"), response);
      ADD_FAILURE() << c.ContentType << " passed";
    } catch (const ESOAPHTTPException& e) {
      EXPECT_EQ(e.Message(), std::string("Received content of invalid Content-Type setting: ") +
                                 c.ContentType + " - SOAP expects \"text/xml\"");
      EXPECT_EQ(e.HTTPStatus, 0);
    }
    EXPECT_EQ(response.ToString(), "page body");
    EXPECT_FALSE(node.ConnectionOpen());
  }
  {
    TRawHttpServer server(Always(HttpResponse(200, "OK", "text/plain; charset=utf-8", "t")));
    node.SetEndpointURL(server.URL("/soap"));
    TMemoryStream response;
    node.Exchange(std::string("<x/>"), response);
    EXPECT_EQ(response.ToString(), "t");
  }
  {
    // An empty 200 is accepted; what it means is the SOAP layer's matter.
    TRawHttpServer server(Always(HttpResponse(200, "OK", "text/xml", "")));
    node.SetEndpointURL(server.URL("/soap"));
    TMemoryStream response;
    node.Exchange(std::string("<x/>"), response);
    EXPECT_EQ(response.Size(), 0);
  }
}

TEST(TransportResponse, MultipartAnswerSetsTheBoundaryAndEveryChunkIsReported) {
  const std::string body(100000, 'b');
  TRawHttpServer server(Always(HttpResponse(
      200, "OK", "multipart/related; type=\"text/xml\"; boundary=\"MIME_b1\"; start=\"<r>\"",
      body)));
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/soap"));
  node.SetMimeBoundary("request boundary");
  int64_t reported = 0;
  node.OnReceivingData = [&reported](int64_t read, int64_t total) {
    EXPECT_EQ(read, total);
    reported += read;
  };
  TMemoryStream request("<x/>");
  std::unique_ptr<TStream> response = node.Exchange(request);
  EXPECT_EQ(response->Size(), 100000);
  EXPECT_EQ(reported, 100000);
  EXPECT_EQ(node.MimeBoundary(), "MIME_b1");
}

TEST(TransportResponse, TransportFailuresNameTheTextURLAndAction) {
  const int port = test::UnusedLoopbackPort();
  THTTPReqResp node;
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/soap";
  node.SetEndpointURL(url);
  node.PrepareCall(test::SenderIntf(), smGetSession, nullptr);
  TMemoryStream response;
  try {
    node.Exchange(std::string("<x/>"), response);
    ADD_FAILURE() << "connection refused passed";
  } catch (const ESOAPHTTPException& e) {
    const std::string tail =
        " - URL:" + url + " - SOAPAction:urn:SenderServiceIntf-ISenderService#GetSession";
    ASSERT_GT(e.Message().size(), tail.size());
    EXPECT_EQ(e.Message().substr(e.Message().size() - tail.size()), tail);
    const std::string text = e.Message().substr(0, e.Message().size() - tail.size());
    EXPECT_NE(text.find("onnect"), std::string::npos) << text;
    EXPECT_EQ(e.Message().find('\n'), std::string::npos);
    EXPECT_EQ(e.HTTPStatus, 0);
  }
  EXPECT_FALSE(node.ConnectionOpen());

  // Nothing bound at all: the same format, with an empty URL.
  THTTPReqResp unbound;
  try {
    unbound.Exchange(std::string("<x/>"), response);
    ADD_FAILURE() << "a call without URL went out";
  } catch (const ESOAPHTTPException& e) {
    const std::string tail = " - URL: - SOAPAction:\"\"";
    ASSERT_GT(e.Message().size(), tail.size());
    EXPECT_EQ(e.Message().substr(e.Message().size() - tail.size()), tail);
  }
}

TEST(TransportResponse, ReceiveTimeoutSetByThePrePostHookEndsASilentCall) {
  TRawHttpServer server([](const TRawRequest&) { return TRawReply{"", false, true}; });
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/soap"));
  node.ReceiveTimeoutMs = 100000;
  int hookCalls = 0;
  node.OnBeforePost = [&hookCalls](THTTPReqResp& transport, THTTPRequest& data) {
    ++hookCalls;
    EXPECT_EQ(transport.URLPath(), "/soap");
    if (test::kRequestTimeoutsReadBack) {
      EXPECT_EQ(data.ReceiveTimeoutMs(), 100000);
    }
    data.SetReceiveTimeoutMs(300);
  };
  TMemoryStream response;
  try {
    node.Exchange(std::string("<x/>"), response);
    ADD_FAILURE() << "a call without answer returned";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.Message(),
              test::kReceiveTimedOutText + " - URL:" + server.URL("/soap") + " - SOAPAction:\"\"");
    EXPECT_EQ(e.HTTPStatus, 0);
  }
  EXPECT_EQ(hookCalls, 1);
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_FALSE(node.ConnectionOpen());
}

// A body of any size made on the fly, so that a test can send more than the system buffers
// take in without holding it in memory.
using test::TGeneratedStream;

TEST(TransportResponse, SendTimeoutEndsABodyThatNobodyReads) {
  test::TDeafListener deaf;
  THTTPReqResp node;
  node.SetEndpointURL(deaf.URL("/soap"));
  node.SendTimeoutMs = 300;
  int64_t posted = 0;
  node.OnPostingData = [&posted](int64_t sent, int64_t) { posted = sent; };
  // Far more than the system buffers of both ends take in.
  TGeneratedStream body(int64_t{32} * 1024 * 1024);
  TMemoryStream response;
  try {
    node.Exchange(body, response);
    ADD_FAILURE() << "a body nobody read was sent";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.Message(),
              test::kSendTimedOutText + " - URL:" + deaf.URL("/soap") + " - SOAPAction:\"\"");
    EXPECT_EQ(e.HTTPStatus, 0);
  }
  EXPECT_GT(posted, 0);
  EXPECT_LT(posted, body.Size());
  EXPECT_FALSE(node.ConnectionOpen());
}

TEST(TransportResponse, BodiesLongerThanSixteenMebibytesAreRefused) {
  constexpr size_t kLimit = 16u << 20;
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n";
  const std::string full = head + "\r\n" + std::string(kLimit, 'x');
  THTTPReqResp node;

  // A body that ends with the connection may take up the whole limit.
  TRawHttpServer fits([&](const TRawRequest&) { return TRawReply{full, true}; });
  node.SetEndpointURL(fits.URL("/soap"));
  TMemoryStream response;
  node.Exchange(std::string("<x/>"), response);
  EXPECT_EQ(response.Size(), static_cast<int64_t>(kLimit));

  // One byte more and the call fails with the transport's text, holding no more than the limit.
  TRawHttpServer over([&](const TRawRequest&) { return TRawReply{full + "y", true}; });
  node.SetEndpointURL(over.URL("/soap"));
  TMemoryStream longer;
  try {
    node.Exchange(std::string("<x/>"), longer);
    ADD_FAILURE() << "a body over the limit was taken";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.Message(), "The response is longer than 16777216 bytes - URL:" + over.URL("/soap") +
                               " - SOAPAction:\"\"");
    EXPECT_EQ(e.HTTPStatus, 0);
  }
  EXPECT_LE(longer.Size(), static_cast<int64_t>(kLimit));
  EXPECT_FALSE(node.ConnectionOpen());

  // A body announced at 2 GiB is refused before any of it is kept.
  TRawHttpServer announced([&](const TRawRequest&) {
    return TRawReply{head + "Content-Length: 2147483648\r\n\r\n" + std::string(1000, 'z'), true};
  });
  node.SetEndpointURL(announced.URL("/soap"));
  TMemoryStream huge;
  try {
    node.Exchange(std::string("<x/>"), huge);
    ADD_FAILURE() << "a body announced at 2 GiB was read";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.Message(), "The response is longer than 16777216 bytes - URL:" +
                               announced.URL("/soap") + " - SOAPAction:\"\"");
  }
  EXPECT_EQ(huge.Size(), 0);
}

TEST(TransportResponse, InterimAnswersAreSkipped) {
  TRawHttpServer server(
      Always("HTTP/1.1 100 Continue\r\n\r\n" + HttpResponse(200, "OK", "text/xml", "<r/>")));
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/soap"));
  TMemoryStream response;
  node.Exchange(std::string("<x/>"), response);
  EXPECT_EQ(response.ToString(), "<r/>");
  EXPECT_EQ(node.ResponseContentType(), "text/xml");
}

TEST(TransportResponse, RegistryOptionIsInertWithoutKeyAndRegistry) {
  TRawHttpServer server(Always(HttpResponse(404, "Not Found", "text/html", "x")));
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/soap"));
  ASSERT_TRUE(node.InvokeOptions.Contains(TSOAPInvokeOption::soAutoCheckAccessPointViaUDDI));
  TMemoryStream response;
  try {
    node.Exchange(std::string("<x/>"), response);
    ADD_FAILURE() << "404 passed";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.HTTPStatus, 404);
  }
  EXPECT_EQ(server.Requests().size(), 1u);

  // With a key and a registry the lookup finds nothing new (no registry client is built in):
  // the status error's text, with status 0, and still a single request.
  node.UDDIBindingKey = "key";
  node.UDDIOperator = "http://127.0.0.1:1/uddi";
  try {
    node.Exchange(std::string("<x/>"), response);
    ADD_FAILURE() << "404 passed";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.Message(), "Not Found (404) - '" + server.URL("/soap") + "'");
    EXPECT_EQ(e.HTTPStatus, 0);
  }
  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(node.URL(), server.URL("/soap"));
}

}  // namespace
}  // namespace vorlen
