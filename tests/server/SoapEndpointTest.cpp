// Whole request bodies, as the client sends them, through the SOAP side of the service.
#include "server/SoapEndpoint.h"

#include <gtest/gtest.h>

#include "server/ServerTestSupport.h"
#include "server/SessionId.h"
#include "support/Envelope.h"

namespace fs = std::filesystem;

namespace vorlen {
namespace {

using test::Envelope;
using test::ReadFile;
using test::Str;
using test::TScratchDir;

const char* const kAction = "\"urn:SenderServiceIntf-ISenderService#";

// The multipart body of one UploadFilePart call, piece by piece as the client builds it.
std::string UploadBody(const std::string& sess, const std::string& partName,
                       const std::string& hash, const std::string& bytes) {
  const std::string envelope = Envelope(
      "UploadFilePart", Str("Sess", sess) + Str("PartName", partName) + Str("Hash", hash) +
                            "<FilePart href=\"cid:6F9619FF-8B86-D011-B42D-00C04FC964FF\"/>");
  return "\r\n--MIME_boundaryB0R9532143182121\r\n"
         "Content-Type: text/xml; charset=\"utf-8\"\r\n"
         "SOAPAction: \"urn:SenderServiceIntf-ISenderService#UploadFilePart\"\r\n"
         "Content-ID: <http://tempuri.org/rootpart.xml>\r\n"
         "Content-Location: http://tempuri.org/rootpart.xml\r\n"
         "Content-Length: " +
         std::to_string(envelope.size()) +
         "\r\n"
         "\r\n" +
         envelope +
         "\r\n"
         "\r\n--MIME_boundaryB0R9532143182121\r\n"
         "Content-ID: <6F9619FF-8B86-D011-B42D-00C04FC964FF>\r\n"
         "Content-Length: " +
         std::to_string(bytes.size()) +
         "\r\n"
         "Content-Type: application/binary\r\n"
         "\r\n" +
         bytes + "\r\n--MIME_boundaryB0R9532143182121--";
}

const char* const kMultipart = "multipart/related; boundary=MIME_boundaryB0R9532143182121";
const char* const kXml = "text/xml; charset=\"utf-8\"";

class SoapEndpointTest : public ::testing::Test {
 protected:
  SoapEndpointTest() : FServer(FRoot.Path(), TServiceLimits{}), FEndpoint(FServer) {}

  TSoapReply Call(const std::string& contentType, const std::string& operation,
                  const std::string& body) {
    TMemoryStream stream(body);
    return FEndpoint.Handle(contentType, kAction + operation + "\"", stream);
  }
  std::string NewSession() {
    const TSoapReply reply = Call(kXml, "GetSession", Envelope("GetSession", ""));
    EXPECT_EQ(reply.Status, 200) << reply.Body;
    return reply.Outcome;
  }

  TScratchDir FRoot;
  TSenderServer FServer;
  TSoapEndpoint FEndpoint;
};

TEST_F(SoapEndpointTest, AnswersEachOperationInRpcEncodedForm) {
  const TSoapReply session = Call(kXml, "GetSession", Envelope("GetSession", ""));
  ASSERT_EQ(session.Status, 200);
  EXPECT_EQ(session.ContentType, "text/xml; charset=\"utf-8\"");
  EXPECT_EQ(session.Operation, "GetSession");
  const std::string sess = session.Outcome;
  ASSERT_TRUE(IsSessionId(sess));
  EXPECT_EQ(session.Body,
            "<?xml version=\"1.0\"?>\n"
            "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
            "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\"><SOAP-ENV:Body "
            "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
            "<NS1:GetSessionResponse xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
            "<return xsi:type=\"xsd:string\">" +
                sess +
                "</return></NS1:GetSessionResponse>"
                "</SOAP-ENV:Body></SOAP-ENV:Envelope>\n");

  const TSoapReply upload =
      Call(kMultipart, "UploadFilePart", UploadBody(sess, "vorarch._000", "352441C2", "abc"));
  ASSERT_EQ(upload.Status, 200) << upload.Body;
  EXPECT_EQ(upload.Outcome, "true");
  EXPECT_EQ(upload.Session, sess);
  EXPECT_EQ(ReadFile(FRoot.Path() / sess / "parts" / "vorarch._000"), "abc");

  const TSoapReply merge =
      Call(kXml, "MergeFile",
           Envelope("MergeFile", "<Parts xsi:type=\"xsd:int\">1</Parts>" +
                                     Str("FileName", "vorarch.rar") + Str("Sess", sess)));
  EXPECT_EQ(merge.Status, 200);
  EXPECT_EQ(merge.Body,
            "<?xml version=\"1.0\"?>\n"
            "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
            "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\"><SOAP-ENV:Body "
            "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
            "<NS1:MergeFileResponse xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
            "<return xsi:type=\"xsd:boolean\">false</return></NS1:MergeFileResponse>"
            "</SOAP-ENV:Body></SOAP-ENV:Envelope>\n");

  const TSoapReply merged =
      Call(kXml, "MergeFile",
           Envelope("MergeFile", "<Parts xsi:type=\"xsd:int\">0</Parts>" +
                                     Str("FileName", "vorarch.rar") + Str("Sess", sess)));
  EXPECT_EQ(merged.Outcome, "true");
  EXPECT_EQ(ReadFile(FRoot.Path() / sess / "delivered" / "vorarch.rar"), "abc");
  EXPECT_EQ(Call(kXml, "UnZip", Envelope("UnZip", Str("Sess", sess))).Outcome, "false");
  EXPECT_EQ(Call(kXml, "DelTempFiles", Envelope("DelTempFiles", Str("Sess", sess))).Outcome,
            "true");
  // Received attachments never outlive their request.
  EXPECT_EQ(test::FilesBelow(FServer.IncomingDir()), std::set<std::string>{});
}

TEST_F(SoapEndpointTest, ZeroByteAndRejectedPartsLeaveNoCacheFiles) {
  const std::string sess = NewSession();
  const TSoapReply empty =
      Call(kMultipart, "UploadFilePart", UploadBody(sess, "x._001", "00000000", ""));
  EXPECT_EQ(empty.Outcome, "true") << empty.Body;
  EXPECT_EQ(fs::file_size(FRoot.Path() / sess / "parts" / "x._001"), 0u);
  const TSoapReply wrong =
      Call(kMultipart, "UploadFilePart", UploadBody(sess, "x._002", "352441C3", "abc"));
  EXPECT_EQ(wrong.Outcome, "false");
  const TSoapReply evil =
      Call(kMultipart, "UploadFilePart", UploadBody(sess, "../x._002", "", "abc"));
  EXPECT_EQ(evil.Outcome, "false");
  EXPECT_FALSE(fs::exists(FRoot.Path() / sess / "parts" / "x._002"));
  EXPECT_FALSE(fs::exists(FRoot.Path() / sess / "x._002"));
  EXPECT_EQ(test::FilesBelow(FServer.IncomingDir()), std::set<std::string>{});
}

TEST_F(SoapEndpointTest, BadRequestsAreClientFaults) {
  const std::string sess = NewSession();
  struct TCase {
    const char* What;
    std::string ContentType, Action, Body, FaultString;
  };
  const std::string merge = Envelope("MergeFile", "<Parts xsi:type=\"xsd:int\">0</Parts>" +
                                                      Str("FileName", "f.rar") + Str("Sess", sess));
  const std::string upload = UploadBody(sess, "f._000", "", "abc");
  const TCase cases[] = {
      {"wrong action", kXml, "UnZip", merge,
       "SOAPAction '\"urn:SenderServiceIntf-ISenderService#UnZip\"' does not match operation "
       "MergeFile"},
      {"not XML", kXml, "MergeFile", "this is not xml", ""},
      {"unknown operation", kXml, "Format", Envelope("Format", Str("Sess", sess)),
       "Unknown operation {urn:SenderServiceIntf-ISenderService}Format"},
      {"missing parameter", kXml, "MergeFile",
       Envelope("MergeFile", Str("FileName", "f.rar") + Str("Sess", sess)),
       "Missing parameter Parts"},
      {"non-numeric Parts", kXml, "MergeFile",
       Envelope("MergeFile", "<Parts xsi:type=\"xsd:int\">1e3</Parts>" + Str("FileName", "f") +
                                 Str("Sess", sess)),
       "Parameter Parts: '1e3' is not a 32-bit integer"},
      {"Parts beyond 32 bits", kXml, "MergeFile",
       Envelope("MergeFile", "<Parts xsi:type=\"xsd:int\">2147483648</Parts>" +
                                 Str("FileName", "f") + Str("Sess", sess)),
       "Parameter Parts: '2147483648' is not a 32-bit integer"},
      {"unknown session", kXml, "UnZip", Envelope("UnZip", Str("Sess", "nosuchsession")),
       "Unknown session 'nosuchsession'"},
      {"content type", "application/json", "UnZip", Envelope("UnZip", Str("Sess", sess)),
       "Unsupported content type 'application/json'"},
      {"upload without attachment", kXml, "UploadFilePart",
       Envelope("UploadFilePart", Str("Sess", sess) + Str("PartName", "f._000") + Str("Hash", "") +
                                      "<FilePart xsi:nil=\"true\"/>"),
       "Parameter FilePart carries no attachment"},
      {"truncated multipart", kMultipart, "UploadFilePart", upload.substr(0, upload.size() - 40),
       ""},
      {"multipart cut in the envelope", kMultipart, "UploadFilePart", upload.substr(0, 300), ""},
      {"attachment named wrongly", kMultipart, "UploadFilePart",
       [&] {
         std::string body = upload;
         body.replace(body.find("<6F9619FF"), 9, "<00000000");
         return body;
       }(),
       "Attachment 'cid:6F9619FF-8B86-D011-B42D-00C04FC964FF' of parameter FilePart not found in "
       "the request"},
  };
  for (const TCase& c : cases) {
    TMemoryStream body(c.Body);
    const TSoapReply reply = FEndpoint.Handle(c.ContentType, kAction + c.Action + "\"", body);
    EXPECT_EQ(reply.Status, 500) << c.What;
    EXPECT_NE(reply.Body.find("<faultcode>SOAP-ENV:Client</faultcode>"), std::string::npos)
        << c.What << ": " << reply.Body;
    if (!c.FaultString.empty()) {
      std::string escaped;
      for (char ch : c.FaultString)
        escaped += ch == '"' ? std::string("&quot;") : std::string(1, ch);
      const bool found =
          reply.Body.find("<faultstring>" + c.FaultString + "</faultstring>") !=
              std::string::npos ||
          reply.Body.find("<faultstring>" + escaped + "</faultstring>") != std::string::npos;
      EXPECT_TRUE(found) << c.What << ": " << reply.Body;
    }
    EXPECT_EQ(reply.Outcome.rfind("fault SOAP-ENV:Client: ", 0), 0u) << c.What;
  }
  EXPECT_FALSE(fs::exists(FRoot.Path() / sess / "parts" / "f._000"));
  EXPECT_EQ(test::FilesBelow(FServer.IncomingDir()), std::set<std::string>{});
  // Still serving.
  EXPECT_TRUE(IsSessionId(NewSession()));
}

// Envelopes are refused by size before any XML is parsed: padding that parses cheaply proves
// that the size alone decides.
TEST_F(SoapEndpointTest, EnvelopesOver64KiBAreRefusedUnread) {
  const std::string envelope = Envelope("GetSession", "");
  std::string atLimit = envelope;
  atLimit.append(65536 - atLimit.size(), ' ');
  EXPECT_EQ(Call(kXml, "GetSession", atLimit).Status, 200);
  const TSoapReply over = Call(kXml, "GetSession", atLimit + " ");
  EXPECT_EQ(over.Outcome, "fault SOAP-ENV:Client: Envelope larger than 65536 bytes");

  std::string upload = UploadBody(NewSession(), "f._000", "", "abc");
  const size_t root = upload.find("</SOAP-ENV:Envelope>\n") + 21;
  const std::string padding(65536, ' ');
  upload.insert(root, padding);
  const std::string length = "Content-Length: ";
  const size_t at = upload.find(length) + length.size();
  const size_t end = upload.find("\r\n", at);
  upload.replace(at, end - at, std::to_string(std::stoul(upload.substr(at, end - at)) + 65536));
  const TSoapReply rootOver = Call(kMultipart, "UploadFilePart", upload);
  EXPECT_EQ(rootOver.Outcome, "fault SOAP-ENV:Client: Root part larger than 65536 bytes");
  EXPECT_EQ(test::FilesBelow(FServer.IncomingDir()), std::set<std::string>{});
}

TEST_F(SoapEndpointTest, ActionMayComeWithoutQuotesButNotEmpty) {
  TMemoryStream body(Envelope("GetSession", ""));
  EXPECT_EQ(FEndpoint.Handle(kXml, "urn:SenderServiceIntf-ISenderService#GetSession", body).Status,
            200);
  TMemoryStream again(Envelope("GetSession", ""));
  EXPECT_EQ(FEndpoint.Handle(kXml, "", again).Status, 500);
}

}  // namespace
}  // namespace vorlen

namespace vorlen {
namespace {

TEST(SoapEndpointLimits, TooManySessionsIsAServerFaultThatSaysSo) {
  TScratchDir root;
  TSenderServer server(root.Path(), TServiceLimits{16, 1000, 1});
  TSoapEndpoint endpoint(server);
  auto getSession = [&] {
    TMemoryStream body(Envelope("GetSession", ""));
    return endpoint.Handle(kXml, std::string(kAction) + "GetSession\"", body);
  };
  EXPECT_EQ(getSession().Status, 200);
  const TSoapReply refused = getSession();
  EXPECT_EQ(refused.Status, 500);
  EXPECT_EQ(refused.ContentType, "text/xml; charset=\"utf-8\"");
  EXPECT_EQ(refused.Body,
            "<?xml version=\"1.0\"?>\n"
            "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
            "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">"
            "<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode>"
            "<faultstring>The service keeps no more than 1 open sessions</faultstring>"
            "</SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>\n");
  EXPECT_EQ(refused.Outcome,
            "fault SOAP-ENV:Server: The service keeps no more than 1 open sessions");
}

}  // namespace
}  // namespace vorlen
