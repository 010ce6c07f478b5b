#include <gtest/gtest.h>

#include "transport/ContentType.h"
#include "transport/HTTPReqResp.h"
#include "transport/SOAPHTTPException.h"

namespace vorlen {
namespace {

TEST(TransportContentType, BoundaryFromContentType) {
  EXPECT_EQ(BoundaryFromContentType(
                "multipart/related; type=\"text/xml\"; boundary=\"MIME_b1\"; start=\"<root>\""),
            "MIME_b1");
  EXPECT_EQ(BoundaryFromContentType("Multipart/Related; boundary=xyz"), "xyz");
  EXPECT_EQ(BoundaryFromContentType("multipart/related; boundary=xyz; start=a"), "xyz");
  EXPECT_EQ(BoundaryFromContentType("multipart/related;boundary=\"a\"\"b\""), "a\"b");
  EXPECT_EQ(BoundaryFromContentType("text/xml"), "");
  EXPECT_EQ(BoundaryFromContentType("text/xml; boundary=xyz"), "");
  EXPECT_EQ(BoundaryFromContentType(""), "");
  // The parameter name is looked for in lower case only.
  EXPECT_EQ(BoundaryFromContentType("multipart/related; BOUNDARY=xyz"), "");
}

TEST(TransportContentType, OnlyPlainTextAndHtmlAreRefused) {
  THTTPReqResp node;
  node.SetEndpointURL("http://127.0.0.1:1/soap");
  EXPECT_TRUE(IsNonSoapContentType("text/plain"));
  EXPECT_TRUE(IsNonSoapContentType("TEXT/PLAIN"));
  EXPECT_TRUE(IsNonSoapContentType("Text/Html"));
  for (const char* ok : {"text/xml", "text/xml; charset=utf-8", "multipart/related; boundary=a", "",
                         "text/html; charset=utf-8", "text/plain; charset=utf-8"})
    EXPECT_FALSE(IsNonSoapContentType(ok)) << ok;
  node.CheckResponseContentType();  // empty content type passes
}

}  // namespace
}  // namespace vorlen
