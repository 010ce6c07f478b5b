#include <gtest/gtest.h>

#include "soap/InvokableClassRegistry.h"
#include "mime/MimeAttachmentHandler.h"
#include "soap/SenderServiceIntf.h"
#include "transport/HTTPReqResp.h"
#include "transport/SOAPHTTPException.h"

namespace vorlen {
namespace {

TEST(TransportEndpoint, SplitsURLsIntoHostPortAndPath) {
  THTTPReqResp node;
  EXPECT_FALSE(node.URLGiven());
  EXPECT_EQ(node.Agent, "Vorlen Sender SOAP 1.2");
  EXPECT_EQ(node.SinglePostLimit, 32768);
  EXPECT_TRUE(node.UseUTF8InHeader);

  node.SetEndpointURL("http://svc.example/FileUploader/Sender_Server.dll/soap/ISenderService");
  EXPECT_TRUE(node.URLGiven());
  EXPECT_EQ(node.URLScheme(), 3);
  EXPECT_EQ(node.URLHost(), "svc.example");
  EXPECT_EQ(node.URLPort(), 80);
  EXPECT_EQ(node.URLPath(), "/FileUploader/Sender_Server.dll/soap/ISenderService");

  node.SetEndpointURL("https://svc.example/a");
  EXPECT_EQ(node.URLScheme(), 4);
  EXPECT_EQ(node.URLPort(), 443);

  node.SetEndpointURL("HTTP://127.0.0.1:8081/a/../b?x=1&y=2");
  EXPECT_EQ(node.URLScheme(), 3);
  EXPECT_EQ(node.URLHost(), "127.0.0.1");
  EXPECT_EQ(node.URLPort(), 8081);
  EXPECT_EQ(node.URLPath(), "/a/../b?x=1&y=2");
  EXPECT_EQ(node.URL(), "HTTP://127.0.0.1:8081/a/../b?x=1&y=2");

  node.SetEndpointURL("http://[::1]:9/p");
  EXPECT_EQ(node.URLHost(), "::1");
  EXPECT_EQ(node.URLPort(), 9);

  node.SetEndpointURL("http://host");
  EXPECT_EQ(node.URLPath(), "/");

  node.SetEndpointURL("");
  EXPECT_FALSE(node.URLGiven());
  EXPECT_EQ(node.URLScheme(), 0);
  EXPECT_EQ(node.URLPort(), 0);
  EXPECT_EQ(node.URLHost(), "");
  EXPECT_EQ(node.URLPath(), "");
  EXPECT_EQ(node.URL(), "");
}

TEST(TransportEndpoint, RefusesOtherSchemesAndKeepsTheOldBinding) {
  THTTPReqResp node;
  node.SetEndpointURL("http://good.example:81/x");
  for (const char* bad : {"ftp://files.example/x", "file:///etc/passwd", "localhost/x",
                          "mailto:someone@example.org", "http://"}) {
    try {
      node.SetEndpointURL(bad);
      ADD_FAILURE() << bad << " was accepted";
    } catch (const ESOAPHTTPException& e) {
      EXPECT_EQ(e.Message(), std::string("Invalid url '") + bad +
                                 "' - only supports 'http' and 'https' schemes");
      EXPECT_EQ(e.HTTPStatus, 0);
    }
    EXPECT_TRUE(node.URLGiven());
    EXPECT_EQ(node.URL(), "http://good.example:81/x");
    EXPECT_EQ(node.URLPort(), 81);
  }
}

TEST(TransportAction, ActionTextAndHeaderLine) {
  THTTPReqResp node;
  EXPECT_TRUE(node.InvokeOptions.Contains(TSOAPInvokeOption::soIgnoreInvalidCerts));
  EXPECT_TRUE(node.InvokeOptions.Contains(TSOAPInvokeOption::soAutoCheckAccessPointViaUDDI));
  EXPECT_FALSE(node.InvokeOptions.Contains(TSOAPInvokeOption::soNoValueForEmptySOAPAction));
  EXPECT_FALSE(node.InvokeOptions.Contains(TSOAPInvokeOption::soNoSOAPActionHeader));

  EXPECT_EQ(node.EffectiveAction(), "\"\"");
  EXPECT_EQ(node.SOAPActionHeaderLine(), "SOAPAction: \"\"");
  node.InvokeOptions.Include(TSOAPInvokeOption::soNoValueForEmptySOAPAction);
  EXPECT_EQ(node.EffectiveAction(), "");
  EXPECT_EQ(node.SOAPActionHeaderLine(), "SOAPAction:");
  node.SetCurrentAction("urn:a#b \"q\"");
  EXPECT_EQ(node.EffectiveAction(), "urn:a#b \"q\"");
  EXPECT_EQ(node.SOAPActionHeaderLine(), "SOAPAction: \"urn:a#b \"q\"\"");
}

TEST(TransportAction, PrepareCallTakesTheActionFromTheContract) {
  RegisterSenderService();
  const TIntfMetaData& intf = *InvRegistry().GetInterfaceInfo(IID_ISenderService);
  THTTPReqResp node;
  try {
    node.PrepareCall(intf, smGetSession, nullptr);
    ADD_FAILURE() << "a call without URL was prepared";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.Message(),
              "No WSDL or URL property was set in the THTTPRIO component. You must set the WSDL "
              "or URL property before invoking the Web Service");
  }

  node.SetEndpointURL("http://127.0.0.1:1/soap");
  node.PrepareCall(intf, smMergeFile, nullptr);
  EXPECT_EQ(node.CurrentAction(), "urn:SenderServiceIntf-ISenderService#MergeFile");
  EXPECT_EQ(node.BodyKind(), TBodyKind::bkPlain);

  TMimeAttachmentHandler handler;
  TMemoryStream envelope("<e/>");
  TSoapDataList none;
  handler.CreateMimeStream(envelope, none);
  node.PrepareCall(intf, smUploadFilePart, &handler);
  EXPECT_EQ(node.BodyKind(), TBodyKind::bkMultipart);
  EXPECT_EQ(node.MimeBoundary(), "MIME_boundaryB0R9532143182121");
  EXPECT_EQ(node.CurrentAction(), "urn:SenderServiceIntf-ISenderService#UploadFilePart");
  handler.FinalizeStream();
  TStream& body = handler.GetMIMEStream();
  std::string bytes(static_cast<size_t>(body.Size()), '\0');
  body.ReadBuffer(bytes.data(), body.Size());
  EXPECT_EQ(bytes,
            "\r\n--MIME_boundaryB0R9532143182121\r\n"
            "Content-Type: text/xml; charset=\"utf-8\"\r\n"
            "SOAPAction: \"urn:SenderServiceIntf-ISenderService#UploadFilePart\"\r\n"
            "Content-ID: <http://tempuri.org/rootpart.xml>\r\n"
            "Content-Location: http://tempuri.org/rootpart.xml\r\n"
            "Content-Length: 4\r\n"
            "\r\n"
            "<e/>\r\n"
            "\r\n--MIME_boundaryB0R9532143182121--");
}

}  // namespace
}  // namespace vorlen
