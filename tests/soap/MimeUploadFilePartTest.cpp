// The UploadFilePart request body as the converter and the handler make it together.
#include <gtest/gtest.h>

#include "mime/ContentId.h"
#include "mime/MimeAttachmentHandler.h"
#include "soap/OPToSoapDomConvert.h"
#include "soap/SenderServiceIntf.h"
#include "soap/SoapTestSupport.h"

namespace vorlen {
namespace {

using test::ReadAll;

using test::SenderIntf;
using test::TFixedContentIds;

// One call as the proxy and the transport drive the converter and the handler.
std::string UploadFilePartBody(TOPToSoapDomConvert& conv, TSOAPAttachment* filePart) {
  std::unique_ptr<TMemoryStream> envelope = conv.InvContextToMsg(
      SenderIntf(), smUploadFilePart,
      {std::string("S-1"), std::string("vorarch.rar.0"), std::string("352441C2"), filePart});
  TMimeAttachmentHandler handler;
  handler.CreateMimeStream(*envelope, conv.Attachments());
  handler.AddSoapHeader("Content-Type: text/xml; charset=\"utf-8\"");
  handler.AddSoapHeader("SOAPAction: \"urn:SenderServiceIntf-ISenderService#UploadFilePart\"");
  handler.FinalizeStream();
  std::string body = ReadAll(handler.GetMIMEStream());
  conv.Attachments().clear();
  return body;
}

std::string ExpectedBody(const std::string& contentId) {
  return "\r\n"                                                                     // 1
         "--MIME_boundaryB0R9532143182121\r\n"                                      // 2
         "Content-Type: text/xml; charset=\"utf-8\"\r\n"                            // 3
         "SOAPAction: \"urn:SenderServiceIntf-ISenderService#UploadFilePart\"\r\n"  // 4
         "Content-ID: <http://tempuri.org/rootpart.xml>\r\n"                        // 5
         "Content-Location: http://tempuri.org/rootpart.xml\r\n"                    // 6
         "Content-Length: 663\r\n"                                                  // 7
         "\r\n"                                                                     // 8
         "<?xml version=\"1.0\"?>\n"                                                // 9
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
         "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">"
         "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
         "<NS1:UploadFilePart xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
         "<Sess xsi:type=\"xsd:string\">S-1</Sess>"
         "<PartName xsi:type=\"xsd:string\">vorarch.rar.0</PartName>"
         "<Hash xsi:type=\"xsd:string\">352441C2</Hash>"
         "<FilePart href=\"cid:" +
         contentId +
         "\"/>"
         "</NS1:UploadFilePart></SOAP-ENV:Body></SOAP-ENV:Envelope>\n"
         "\r\n"                                     // 10
         "\r\n--MIME_boundaryB0R9532143182121\r\n"  // 11
         "Content-ID: <" +
         contentId +
         ">\r\n"                                   // 12
         "Content-Length: 3\r\n"                   // 13
         "Content-Type: application/binary\r\n"    // 14
         "\r\n"                                    // 16 (no 15: a file part has no encoding line)
         "abc"                                     // 17
         "\r\n--MIME_boundaryB0R9532143182121--";  // 18
}

TEST(MimeUploadFilePart, ThreeBytePartAndItsRetryByteForByte) {
  TFixedContentIds ids(
      {"6B29FC40-CA47-4C3B-9A8E-0123456789AB", "6B29FC40-CA47-4C3B-9A8E-0123456789AC"});
  TMemoryStream partBuffer(std::string("abc"));
  TSOAPAttachment attachment;
  attachment.SetSourceStream(&partBuffer, TStreamOwnership::owReference);
  TOPToSoapDomConvert conv;
  EXPECT_EQ(UploadFilePartBody(conv, &attachment),
            ExpectedBody("6B29FC40-CA47-4C3B-9A8E-0123456789AB"));
  // The retry: same buffer, same bytes, a new content id in the href and the part header.
  attachment.SetSourceStream(&partBuffer, TStreamOwnership::owReference);
  EXPECT_EQ(UploadFilePartBody(conv, &attachment),
            ExpectedBody("6B29FC40-CA47-4C3B-9A8E-0123456789AC"));
  EXPECT_EQ(attachment.GetSourceStream(), &partBuffer);  // still the caller's, unchanged
  EXPECT_EQ(partBuffer.ToString(), "abc");
}

}  // namespace
}  // namespace vorlen
