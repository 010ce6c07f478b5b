// The service side: requests read, responses and faults written, and both ends agreeing.
#include <gtest/gtest.h>

#include "mime/ContentId.h"
#include "soap/OPToSoapDomConvert.h"
#include "soap/SOAPExceptions.h"
#include "soap/SenderServiceIntf.h"
#include "soap/SoapServerMessages.h"
#include "soap/SoapTestSupport.h"

namespace vorlen {
namespace {

using test::kEnvelopeOpen;
using test::SenderIntf;
using test::TFixedContentIds;

TSoapRequest ReadRequest(const std::string& xml) {
  TMemoryStream stream(xml);
  return ReadSoapRequest(stream);
}

TParamValue ReadResponse(const std::string& xml, int method) {
  TOPToSoapDomConvert conv;
  TMemoryStream stream(xml);
  return conv.ProcessResponse(stream, SenderIntf(), method);
}

TEST(ServerMessagesTest, OnlyTheOperationsOwnParametersAreCollected) {
  const std::string body =
      std::string(kEnvelopeOpen) +
      "<SOAP-ENV:Body><NS1:UnZip xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
      "<Sess>s1</Sess><Extra>1</Extra><Extra>2</Extra></NS1:UnZip></SOAP-ENV:Body>"
      "</SOAP-ENV:Envelope>";
  TMemoryStream stream(body);
  const TSoapRequest request = ReadSoapRequest(stream, &SenderIntf());
  ASSERT_EQ(request.Params.size(), 1u);
  EXPECT_EQ(request.Params[0].Text, "s1");
  // Without the interface every child is a parameter.
  EXPECT_EQ(ReadRequest(body).Params.size(), 3u);
  std::string unknown = body;
  for (size_t at; (at = unknown.find("UnZip")) != std::string::npos;)
    unknown.replace(at, 5, "Nope");
  TMemoryStream other(unknown);
  EXPECT_EQ(ReadSoapRequest(other, &SenderIntf()).Params.size(), 0u);
}

TEST(ServerMessagesTest, ResponseAndFaultBytes) {
  EXPECT_EQ(
      WriteSoapResponse("GetSession", "urn:SenderServiceIntf-ISenderService", "xsd:string",
                        "S&1<\xD0\xAF>"),
      std::string(kEnvelopeOpen) +
          "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
          "<NS1:GetSessionResponse xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
          "<return xsi:type=\"xsd:string\">S&amp;1&lt;\xD0\xAF&gt;</return>"
          "</NS1:GetSessionResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>\n");
  EXPECT_EQ(WriteSoapFault("SOAP-ENV:Server", "Missing chunk 3 & \xD0\xAF"),
            std::string(kEnvelopeOpen) +
                "<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode>"
                "<faultstring>Missing chunk 3 &amp; \xD0\xAF</faultstring></SOAP-ENV:Fault>"
                "</SOAP-ENV:Body></SOAP-ENV:Envelope>\n");
  EXPECT_THROW(WriteSoapResponse("UnZip", "urn:x", "xsd:string", "bad\x02"), ESOAPDomConvertError);
  EXPECT_THROW(WriteSoapFault("SOAP-ENV:Server", "\xC0"), ESOAPDomConvertError);
}

TEST(ServerMessagesTest, WrittenResponsesReadBackByTheClient) {
  const std::string ns = "urn:SenderServiceIntf-ISenderService";
  EXPECT_EQ(
      std::get<std::string>(ReadResponse(
          WriteSoapResponse("GetSession", ns, "xsd:string", " S&1 <\xD0\xAF>\n"), smGetSession)),
      " S&1 <\xD0\xAF>\n");
  EXPECT_EQ(std::get<std::string>(
                ReadResponse(WriteSoapResponse("GetSession", ns, "xsd:string", ""), smGetSession)),
            "");
  EXPECT_TRUE(std::get<bool>(
      ReadResponse(WriteSoapResponse("MergeFile", ns, "xsd:boolean", "true"), smMergeFile)));
  EXPECT_FALSE(std::get<bool>(
      ReadResponse(WriteSoapResponse("UnZip", ns, "xsd:boolean", "false"), smUnZip)));
  try {
    ReadResponse(WriteSoapFault("SOAP-ENV:Client", "Unknown session <S9>"), smDelTempFiles);
    FAIL() << "fault not raised";
  } catch (const ERemotableException& e) {
    EXPECT_EQ(e.Message(), "Unknown session <S9>");
    EXPECT_EQ(e.FaultCode, "SOAP-ENV:Client");
  }
}

TEST(ServerMessagesTest, ClientRequestsReadByTheService) {
  RegisterSenderService();
  TOPToSoapDomConvert conv;
  TSoapRequest merge = [&] {
    auto stream =
        conv.InvContextToMsg(SenderIntf(), smMergeFile,
                             {int32_t{-3}, std::string("a&<\xD0\xAF.rar"), std::string("S 1")});
    return ReadSoapRequest(*stream);
  }();
  EXPECT_EQ(merge.Operation, "MergeFile");
  EXPECT_EQ(merge.Namespace, "urn:SenderServiceIntf-ISenderService");
  ASSERT_EQ(merge.Params.size(), 3u);
  EXPECT_EQ(merge.Params[0].Name, "Parts");
  EXPECT_EQ(merge.Params[0].Text, "-3");
  ASSERT_NE(merge.Find("FileName"), nullptr);
  EXPECT_EQ(merge.Find("FileName")->Text, "a&<\xD0\xAF.rar");
  EXPECT_EQ(merge.Find("Sess")->Text, "S 1");
  EXPECT_EQ(merge.Find("sess"), nullptr);

  TMemoryStream part(std::string_view("bytes"));
  TSOAPAttachment attachment;
  attachment.SetSourceStream(&part, TStreamOwnership::owReference);
  std::unique_ptr<TMemoryStream> upload;
  {
    TFixedContentIds ids({"11111111-2222-4333-8444-555555555555"});
    upload =
        conv.InvContextToMsg(SenderIntf(), smUploadFilePart,
                             {std::string("S1"), std::string("f.0"), std::string(""), &attachment});
  }
  const TSoapRequest request = ReadSoapRequest(*upload);
  EXPECT_EQ(request.Operation, "UploadFilePart");
  ASSERT_EQ(request.Params.size(), 4u);
  EXPECT_EQ(request.Params[2].Name, "Hash");
  EXPECT_EQ(request.Params[2].Text, "");
  EXPECT_FALSE(request.Params[2].Nil);
  EXPECT_EQ(request.Params[3].Href, "cid:11111111-2222-4333-8444-555555555555");

  auto empty = conv.InvContextToMsg(SenderIntf(), smUploadFilePart,
                                    {std::string("S1"), std::string("d"), std::string(""),
                                     static_cast<TSOAPAttachment*>(nullptr)});
  const TSoapRequest nil = ReadSoapRequest(*empty);
  EXPECT_TRUE(nil.Find("FilePart")->Nil);
  EXPECT_EQ(nil.Find("FilePart")->Href, "");

  const TSoapRequest session = ReadRequest(
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body>"
      "<m:GetSession xmlns:m=\"urn:SenderServiceIntf-ISenderService\"/></e:Body></e:Envelope>");
  EXPECT_EQ(session.Operation, "GetSession");
  EXPECT_TRUE(session.Params.empty());
}

TEST(ServerMessagesTest, BadRequestsAreRefused) {
  const auto error = [](const std::string& xml) -> std::string {
    try {
      ReadRequest(xml);
    } catch (const ESOAPDomConvertError& e) {
      return e.Message();
    }
    return "(accepted)";
  };
  EXPECT_EQ(error("<Envelope><Body/></Envelope>"),
            "DocumentElement http://schemas.xmlsoap.org/soap/envelope/:Envelope expected, "
            ":Envelope found");
  EXPECT_EQ(error("<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"/>"),
            "Invalid SOAP request");
  EXPECT_EQ(error("<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                  "<e:Header/></e:Envelope>"),
            "Invalid SOAP request: no Body");
  EXPECT_EQ(error("<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                  "<e:Body> </e:Body></e:Envelope>"),
            "Invalid SOAP request: no operation element");
  EXPECT_EQ(error("<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                  "<e:Body><a/></e:Body><e:Body><b/></e:Body></e:Envelope>"),
            "Invalid SOAP request: more than one Body");
  EXPECT_THROW(ReadRequest("<e:Envelope"), EDOMParseError);
}

}  // namespace
}  // namespace vorlen
