// The error-resolution step on WinINet: a 401 answered by an OnWinInetError handler, which
// stands in for the platform's credentials dialog.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/Exception.h"
#include "support/RawHttpServer.h"
#include "transport/HTTPReqResp.h"
#include "transport/SOAPHTTPException.h"

namespace vorlen {
namespace {

using test::HttpResponse;
using test::TRawHttpServer;
using test::TRawReply;
using test::TRawRequest;

// 401 until the request carries the Basic credentials "user:pass". WinINet remembers given
// credentials per host and realm for the whole process, so each leg has a realm of its own.
TRawHttpServer::THandler NeedsBasicAuth(const std::string& realm) {
  return [realm](const TRawRequest& request) -> TRawReply {
    if (request.Header("Authorization") == "Basic dXNlcjpwYXNz")
      return {HttpResponse(200, "OK", "text/xml", "<ok/>")};
    return {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"" + realm +
            "\"\r\nContent-Type: text/html\r\nContent-Length: 9\r\n\r\n<p>no</p>"};
  };
}

TEST(TransportWinInet, CredentialsDemandIsResolvedByResendOrCancel) {
  TRawHttpServer server(NeedsBasicAuth("vorlen"));
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/soap"));

  // Cancelled: the silent abort, nothing read, the handles closed.
  node.OnWinInetError = [](uint32_t, THTTPRequest& request) -> uint32_t {
    return request.StatusCode() == 401 ? kErrorCancelled : kErrorProceed;
  };
  TMemoryStream response;
  EXPECT_THROW(node.Exchange(std::string("<first/>"), response), EAbort);
  EXPECT_EQ(response.Size(), 0);
  EXPECT_FALSE(node.ConnectionOpen());

  std::vector<int> seen;
  node.OnWinInetError = [&seen](uint32_t, THTTPRequest& request) -> uint32_t {
    seen.push_back(request.StatusCode());
    if (request.StatusCode() != 401) return kErrorProceed;
    request.SetCredentials("user", "pass");
    return kErrorForceRetry;
  };
  node.Exchange(std::string("<body/>"), response);
  EXPECT_EQ(response.ToString(), "<ok/>");
  EXPECT_EQ(seen, (std::vector<int>{401, 200}));
  // Every round carries the whole body; WinINet may take one more round of its own to answer
  // the challenge with the credentials.
  std::vector<TRawRequest> requests = server.Requests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests[0].Body, "<first/>");
  requests.erase(requests.begin());
  for (const TRawRequest& r : requests) EXPECT_EQ(r.Body, "<body/>");
  EXPECT_EQ(requests.front().Header("Authorization"), "");
  EXPECT_EQ(requests.back().Header("Authorization"), "Basic dXNlcjpwYXNz");

  // A block post asks the step after each write only, so the 401 comes back as the status.
  TRawHttpServer blocks(NeedsBasicAuth("blocks"));
  node.SetEndpointURL(blocks.URL("/soap"));
  seen.clear();
  node.OnWinInetError = [&seen](uint32_t, THTTPRequest& request) -> uint32_t {
    seen.push_back(request.StatusCode());
    return kErrorProceed;
  };
  try {
    node.Exchange(std::string(40000, 'b'), response);
    ADD_FAILURE() << "401 passed";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.Message(), "Unauthorized (401) - '" + blocks.URL("/soap") + "'");
    EXPECT_EQ(e.HTTPStatus, 401);
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 0}));
}

}  // namespace
}  // namespace vorlen
