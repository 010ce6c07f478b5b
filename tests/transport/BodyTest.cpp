#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "runtime/Exception.h"
#include "support/Pattern.h"
#include "support/RawHttpServer.h"
#include "transport/HTTPReqResp.h"
#include "transport/SOAPHTTPException.h"
#include "transport/TransportTestUtil.h"

namespace vorlen {
namespace {

using test::HttpResponse;
using test::Pattern;
using test::TRawHttpServer;
using test::TRawReply;
using test::TRawRequest;

const TRawHttpServer::THandler XmlOk = test::Always(HttpResponse(200, "OK", "text/xml", "<ok/>"));

TEST(TransportBody, SinglePostUpToTheLimitThenBlocks) {
  TRawHttpServer server(XmlOk);
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/soap"));
  std::vector<std::pair<int64_t, int64_t>> posted;
  node.OnPostingData = [&posted](int64_t sent, int64_t total) { posted.emplace_back(sent, total); };

  const std::string exact = Pattern(32768);
  TMemoryStream response;
  node.Exchange(exact, response);
  EXPECT_TRUE(posted.empty()) << "a body of 32768 bytes goes in one piece";

  const std::string larger = Pattern(32769);
  TMemoryStream request(larger);
  request.SetPosition(100);  // the whole stream is sent whatever its position
  node.Exchange(request, response);
  EXPECT_EQ(posted, (std::vector<std::pair<int64_t, int64_t>>{{32768, 32769}, {32769, 32769}}));

  posted.clear();
  node.SinglePostLimit = 1000;
  const std::string small = Pattern(2500);
  node.Exchange(small, response);
  EXPECT_EQ(posted,
            (std::vector<std::pair<int64_t, int64_t>>{{1000, 2500}, {2000, 2500}, {2500, 2500}}));

  const std::vector<TRawRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].Header("Content-Length"), "32768");
  EXPECT_EQ(requests[0].Body, exact);
  EXPECT_EQ(requests[1].Header("Content-Length"), "32769");
  EXPECT_EQ(requests[1].Body, larger);
  EXPECT_EQ(requests[2].Body, small);
  for (const TRawRequest& r : requests) {
    EXPECT_EQ(r.Header("Transfer-Encoding"), "");
    EXPECT_EQ(r.Header("Expect"), "");
    EXPECT_EQ(r.Header("Accept"), "");
    EXPECT_EQ(r.Connection, 1);
  }
}

// Claims more bytes than it delivers.
class TShortStream : public TStream {
 public:
  explicit TShortStream(const std::string& bytes) : FData(bytes) {}
  int64_t Read(void* buffer, int64_t count) override { return FData.Read(buffer, count); }
  int64_t Write(const void* buffer, int64_t count) override { return FData.Write(buffer, count); }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FData.Seek(offset, origin); }
  int64_t Size() override { return FData.Size() + 5000; }

 private:
  TMemoryStream FData;
};

TEST(TransportBody, StreamThatEndsEarlyFailsTheCall) {
  TRawHttpServer server(XmlOk);
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/soap"));
  TShortStream request(Pattern(40000));
  TMemoryStream response;
  try {
    node.Exchange(request, response);
    ADD_FAILURE() << "a short body was sent";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.Message(), "Invalid HTTP Request: Length is 0");
    EXPECT_EQ(e.HTTPStatus, 0);
  }
  EXPECT_FALSE(node.ConnectionOpen());
  EXPECT_EQ(response.Size(), 0);
  // The transport stays usable.
  node.Exchange(std::string("<x/>"), response);
  EXPECT_EQ(response.ToString(), "<ok/>");
}

TEST(TransportBody, EventsThatThrowEndTheCallWithTheirException) {
  TRawHttpServer server(XmlOk);
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/soap"));
  node.OnPostingData = [](int64_t, int64_t) { throw Exception("stop posting"); };
  TMemoryStream response;
  try {
    node.Exchange(Pattern(40000), response);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "stop posting");
  }
  node.OnPostingData = nullptr;
  node.OnReceivingData = [](int64_t, int64_t) { throw Exception("stop reading"); };
  try {
    node.Exchange(std::string("<x/>"), response);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "stop reading");
  }
  EXPECT_FALSE(node.ConnectionOpen());
}

}  // namespace
}  // namespace vorlen
