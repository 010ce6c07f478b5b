// The error-resolution step where the HTTP client has no dialog of its own (libcurl): a demand
// for credentials goes to OnCredentials, an OnWinInetError handler takes over the whole step.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "runtime/Exception.h"
#include "support/RawHttpServer.h"
#include "transport/CurlRequest.h"
#include "transport/HTTPReqResp.h"
#include "transport/SOAPHTTPException.h"

namespace vorlen {
namespace {

using test::HttpResponse;
using test::TRawHttpServer;
using test::TRawReply;
using test::TRawRequest;

// 401 until the request carries the expected Basic credentials ("user:pass").
TRawReply NeedsBasicAuth(const TRawRequest& request) {
  if (request.Header("Authorization") == "Basic dXNlcjpwYXNz")
    return {HttpResponse(200, "OK", "text/xml", "<ok/>")};
  return {
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"vorlen\"\r\n"
      "Content-Type: text/html\r\nContent-Length: 9\r\n\r\n<p>no</p>"};
}

TEST(TransportBody, CredentialsDemandIsResolvedByResendOrCancel) {
  TRawHttpServer server(NeedsBasicAuth);
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/soap"));
  TMemoryStream response;

  // Nobody to ask: the status error follows.
  try {
    node.Exchange(std::string("<x/>"), response);
    ADD_FAILURE() << "401 passed";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.Message(), "Unauthorized (401) - '" + server.URL("/soap") + "'");
    EXPECT_EQ(e.HTTPStatus, 401);
  }

  // Cancelled: the silent abort.
  int asked = 0;
  node.OnCredentials = [&asked](THTTPReqResp&, THTTPRequest& request, int status, std::string&,
                                std::string&) {
    ++asked;
    EXPECT_EQ(status, 401);
    EXPECT_EQ(static_cast<TCurlRequest&>(request).AuthSchemes(), "Basic");
    return false;
  };
  EXPECT_THROW(node.Exchange(std::string("<x/>"), response), EAbort);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(node.ConnectionOpen());
  EXPECT_EQ(response.Size(), 0);

  // Given: the whole body goes again with them, and later calls keep them.
  asked = 0;
  node.OnCredentials = [&asked](THTTPReqResp&, THTTPRequest&, int, std::string& userName,
                                std::string& password) {
    ++asked;
    userName = "user";
    password = "pass";
    return true;
  };
  node.Exchange(std::string("<body/>"), response);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(response.ToString(), "<ok/>");
  node.Exchange(std::string("<again/>"), response);
  EXPECT_EQ(asked, 1);

  const std::vector<TRawRequest> requests = server.Requests();
  ASSERT_GE(requests.size(), 4u);
  std::vector<std::string> authorised;
  for (const TRawRequest& r : requests)
    if (!r.Header("Authorization").empty()) authorised.push_back(r.Body);
  EXPECT_EQ(authorised, (std::vector<std::string>{"<body/>", "<again/>"}));

  // Wrong credentials, given again and again: three rounds, then the 401 stands.
  THTTPReqResp wrong;
  wrong.SetEndpointURL(server.URL("/soap"));
  asked = 0;
  wrong.OnCredentials = [&asked](THTTPReqResp&, THTTPRequest&, int, std::string& userName,
                                 std::string& password) {
    ++asked;
    userName = "user";
    password = "wrong";
    return true;
  };
  const size_t before = server.Requests().size();
  try {
    wrong.Exchange(std::string("<x/>"), response);
    ADD_FAILURE() << "401 passed";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.HTTPStatus, 401);
  }
  EXPECT_EQ(asked, 3);
  EXPECT_LE(server.Requests().size() - before, 8u);  // libcurl may probe once per round
}

TEST(TransportBody, ProxyCredentialsDemandAndCertificateFlags) {
  TRawHttpServer proxy([](const TRawRequest& request) -> TRawReply {
    if (request.Header("Proxy-Authorization") == "Basic cHg6c2VjcmV0")
      return {HttpResponse(200, "OK", "text/xml", "<ok/>")};
    return {
        "HTTP/1.1 407 Proxy Authentication Required\r\n"
        "Proxy-Authenticate: Basic realm=\"p\"\r\nContent-Length: 0\r\n\r\n"};
  });
  THTTPReqResp node;
  const int target = test::UnusedLoopbackPort();
  node.SetEndpointURL("http://127.0.0.1:" + std::to_string(target) + "/soap");
  node.Proxy = "127.0.0.1:" + std::to_string(proxy.Port());
  std::vector<uint32_t> flags;
  node.OnBeforePost = [&flags](THTTPReqResp&, THTTPRequest& data) {
    flags.push_back(data.SecurityFlags());
  };
  int asked = 0;
  node.OnCredentials = [&asked](THTTPReqResp&, THTTPRequest&, int status, std::string& userName,
                                std::string& password) {
    ++asked;
    EXPECT_EQ(status, 407);
    userName = "px";
    password = "secret";
    return true;
  };
  TMemoryStream response;
  node.Exchange(std::string("<x/>"), response);
  EXPECT_EQ(response.ToString(), "<ok/>");
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(proxy.Requests().back().Body, "<x/>");

  // Certificate checks: off for https while soIgnoreInvalidCerts is set, on otherwise.
  node.Proxy.clear();
  node.OnCredentials = nullptr;
  TMemoryStream ignored;
  node.SetEndpointURL("https://127.0.0.1:" + std::to_string(target) + "/soap");
  EXPECT_THROW(node.Exchange(std::string("<x/>"), ignored), ESOAPHTTPException);
  node.InvokeOptions.Exclude(TSOAPInvokeOption::soIgnoreInvalidCerts);
  EXPECT_THROW(node.Exchange(std::string("<x/>"), ignored), ESOAPHTTPException);
  EXPECT_EQ(flags, (std::vector<uint32_t>{0, kSecurityIgnoreInvalidCerts, 0}));
}

TEST(TransportBody, ErrorHandlerReplacesTheCredentialsStep) {
  int answers = 0;
  TRawHttpServer server([&answers](const TRawRequest&) {
    ++answers;
    return TRawReply{HttpResponse(200, "OK", "text/xml", "<r" + std::to_string(answers) + "/>")};
  });
  THTTPReqResp node;
  node.SetEndpointURL(server.URL("/soap"));
  std::vector<uint32_t> seen;
  node.OnWinInetError = [&seen](uint32_t lastError, THTTPRequest& request) -> uint32_t {
    seen.push_back(lastError);
    EXPECT_EQ(request.StatusCode(), 200);
    return seen.size() == 1 ? kErrorForceRetry : kErrorProceed;
  };
  TMemoryStream response("prefix:");
  response.SetPosition(7);
  node.Exchange(std::string("<x/>"), response);
  // The first answer was dropped when the request went out again.
  EXPECT_EQ(response.ToString(), "prefix:<r2/>");
  EXPECT_EQ(seen, (std::vector<uint32_t>{0, 0}));

  node.OnWinInetError = [](uint32_t, THTTPRequest&) { return kErrorCancelled; };
  EXPECT_THROW(node.Exchange(std::string("<x/>"), response), EAbort);
  EXPECT_FALSE(node.ConnectionOpen());

  // An unknown authority is answered by a resend without the authority check.
  TCurlRequest request(nullptr, "https://h/");
  node.OnWinInetError = nullptr;
  EXPECT_EQ(node.ResolveTransportError(kErrorInvalidCA, request), kErrorForceRetry);
  EXPECT_EQ(request.SecurityFlags(), kSecurityIgnoreUnknownCA);
}

}  // namespace
}  // namespace vorlen
