// Request envelopes as the server receives them, byte for byte.
#include <gtest/gtest.h>

#include <climits>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "mime/ContentId.h"
#include "soap/OPToSoapDomConvert.h"
#include "soap/SOAPExceptions.h"
#include "soap/SenderServiceIntf.h"
#include "soap/SoapEnvelope.h"
#include "soap/SoapTestSupport.h"
#include "xml/XmlWriter.h"

namespace vorlen {
namespace {

using test::kEnvelopeOpen;
using test::SenderIntf;
using test::TFixedContentIds;

std::string Request(TOPToSoapDomConvert& conv, int method, const std::vector<TParamValue>& args) {
  std::unique_ptr<TMemoryStream> stream = conv.InvContextToMsg(SenderIntf(), method, args);
  EXPECT_EQ(stream->Position(), 0);
  return stream->ToString();
}

const std::string kHead =
    std::string(kEnvelopeOpen) +
    "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">";
const char* const kTail = "</SOAP-ENV:Body></SOAP-ENV:Envelope>\n";

TEST(EnvelopeRequestTest, FiveOperationsByteForByte) {
  TOPToSoapDomConvert conv;
  EXPECT_EQ(conv.Options, 0x221Au);
  EXPECT_EQ(conv.Encoding, "");

  EXPECT_EQ(Request(conv, smGetSession, {}),
            kHead + "<NS1:GetSession xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\"/>" + kTail);

  EXPECT_EQ(Request(conv, smMergeFile, {int32_t{0}, std::string("vorarch.rar"), std::string("S1")}),
            "<?xml version=\"1.0\"?>\n"
            "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
            "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">"
            "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
            "<NS1:MergeFile xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
            "<Parts xsi:type=\"xsd:int\">0</Parts>"
            "<FileName xsi:type=\"xsd:string\">vorarch.rar</FileName>"
            "<Sess xsi:type=\"xsd:string\">S1</Sess>"
            "</NS1:MergeFile></SOAP-ENV:Body></SOAP-ENV:Envelope>\n");

  EXPECT_EQ(Request(conv, smUnZip, {std::string("S1")}),
            kHead +
                "<NS1:UnZip xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
                "<Sess xsi:type=\"xsd:string\">S1</Sess></NS1:UnZip>" +
                kTail);

  EXPECT_EQ(Request(conv, smDelTempFiles, {std::string("S1")}),
            kHead +
                "<NS1:DelTempFiles xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
                "<Sess xsi:type=\"xsd:string\">S1</Sess></NS1:DelTempFiles>" +
                kTail);

  TFixedContentIds ids({"0F8E6A2C-1B3D-4E5F-8A7B-9C0D1E2F3A4B"});
  TMemoryStream part(std::string_view("PART"));
  TSOAPAttachment attachment;
  attachment.SetSourceStream(&part, TStreamOwnership::owReference);
  EXPECT_EQ(Request(conv, smUploadFilePart,
                    {std::string("S1"), std::string("vorarch.rar.0"), std::string("1A2B3C4D"),
                     &attachment}),
            kHead +
                "<NS1:UploadFilePart xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
                "<Sess xsi:type=\"xsd:string\">S1</Sess>"
                "<PartName xsi:type=\"xsd:string\">vorarch.rar.0</PartName>"
                "<Hash xsi:type=\"xsd:string\">1A2B3C4D</Hash>"
                "<FilePart href=\"cid:0F8E6A2C-1B3D-4E5F-8A7B-9C0D1E2F3A4B\"/>"
                "</NS1:UploadFilePart>" +
                kTail);
  ASSERT_EQ(conv.Attachments().size(), 1u);
  const TSOAPAttachmentData& queued = *conv.Attachments().front();
  EXPECT_EQ(queued.ContentId, "0F8E6A2C-1B3D-4E5F-8A7B-9C0D1E2F3A4B");
  ASSERT_EQ(queued.Headers.size(), 1u);
  EXPECT_EQ(queued.Headers.front(), "Content-ID: <0F8E6A2C-1B3D-4E5F-8A7B-9C0D1E2F3A4B>");
}

TEST(EnvelopeRequestTest, TextIsEscapedAndSentAsUtf8) {
  TOPToSoapDomConvert conv;
  // "Пратка" is six Cyrillic letters; a carriage return must survive as a reference.
  EXPECT_EQ(Request(conv, smMergeFile,
                    {int32_t{-2147483647 - 1}, std::string("a&b<c>\"d' Пратка.rar"),
                     std::string("x\ry\tz")}),
            kHead +
                "<NS1:MergeFile xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
                "<Parts xsi:type=\"xsd:int\">-2147483648</Parts>"
                "<FileName xsi:type=\"xsd:string\">a&amp;b&lt;c&gt;\"d' "
                "\xD0\x9F\xD1\x80\xD0\xB0\xD1\x82\xD0\xBA\xD0\xB0.rar</FileName>"
                "<Sess xsi:type=\"xsd:string\">x&#13;y\tz</Sess>"
                "</NS1:MergeFile>" +
                kTail);
  EXPECT_EQ(Request(conv, smMergeFile, {int32_t{17}, std::string(""), std::string("S")}),
            kHead +
                "<NS1:MergeFile xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
                "<Parts xsi:type=\"xsd:int\">17</Parts>"
                "<FileName xsi:type=\"xsd:string\"/>"
                "<Sess xsi:type=\"xsd:string\">S</Sess>"
                "</NS1:MergeFile>" +
                kTail);
}

TEST(EnvelopeRequestTest, AttachmentParameterForms) {
  TOPToSoapDomConvert conv;
  // An empty hash (the details file) keeps its element and type; a null attachment is nil.
  EXPECT_EQ(Request(conv, smUploadFilePart,
                    {std::string("S1"), std::string("sendDetails.txt"), std::string(""),
                     static_cast<TSOAPAttachment*>(nullptr)}),
            kHead +
                "<NS1:UploadFilePart xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
                "<Sess xsi:type=\"xsd:string\">S1</Sess>"
                "<PartName xsi:type=\"xsd:string\">sendDetails.txt</PartName>"
                "<Hash xsi:type=\"xsd:string\"/>"
                "<FilePart xsi:nil=\"true\"/>"
                "</NS1:UploadFilePart>" +
                kTail);
  EXPECT_TRUE(conv.Attachments().empty());

  // Every call names its attachment anew, and the previous call's queue is gone.
  TMemoryStream part(std::string_view("abc"));
  TSOAPAttachment attachment;
  attachment.SetSourceStream(&part, TStreamOwnership::owReference);
  std::set<std::string> hrefs;
  for (int i = 0; i < 2; ++i) {
    const std::string xml =
        Request(conv, smUploadFilePart,
                {std::string("S1"), std::string("p"), std::string("h"), &attachment});
    ASSERT_EQ(conv.Attachments().size(), 1u);
    const std::string id = conv.Attachments().front()->ContentId;
    EXPECT_NE(xml.find("<FilePart href=\"cid:" + id + "\"/>"), std::string::npos) << xml;
    hrefs.insert(id);
  }
  EXPECT_EQ(hrefs.size(), 2u);
}

TEST(EnvelopeRequestTest, ContentIdsAreVersion4GuidsInRegistryForm) {
  const std::regex form("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
  std::set<std::string> seen;
  for (int i = 0; i < 64; ++i) {
    const std::string id = NewContentId();
    EXPECT_TRUE(std::regex_match(id, form)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 64u);
  {
    TFixedContentIds ids({"FIXED"});
    EXPECT_EQ(NewContentId(), "FIXED");
  }
  EXPECT_TRUE(std::regex_match(NewContentId(), form));

  // Every thread draws from a generator of its own, seeded on its own: no two threads may
  // produce the same ids.
  std::vector<std::vector<std::string>> drawn(4);
  std::vector<std::thread> threads;
  for (auto& ids : drawn) {
    threads.emplace_back([&ids] {
      for (int i = 0; i < 200; ++i) ids.push_back(NewContentId());
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::string> all;
  for (const auto& ids : drawn) {
    for (const std::string& id : ids) {
      EXPECT_TRUE(std::regex_match(id, form)) << id;
      all.insert(id);
    }
  }
  EXPECT_EQ(all.size(), 800u);
}

TEST(EnvelopeRequestTest, BadArgumentsAreRefusedAndQueueNothing) {
  TOPToSoapDomConvert conv;
  TMemoryStream part(std::string_view("abc"));
  TSOAPAttachment attachment;
  attachment.SetSourceStream(&part, TStreamOwnership::owReference);
  const auto expectRefused = [&](int method, const std::vector<TParamValue>& args,
                                 const std::string& message) {
    try {
      conv.InvContextToMsg(SenderIntf(), method, args);
      ADD_FAILURE() << "accepted: " << message;
    } catch (const ESOAPDomConvertError& e) {
      EXPECT_EQ(e.Message(), message);
    }
    EXPECT_TRUE(conv.Attachments().empty());
  };
  expectRefused(smUnZip, {}, "UnZip expects 1 argument(s), 0 given");
  expectRefused(smMergeFile, {std::string("0"), std::string("f"), std::string("S")},
                "Argument Parts of MergeFile must be a 32-bit integer value");
  expectRefused(smUploadFilePart,
                {std::string("S"), std::string("p"), std::string("h"), std::string("bytes")},
                "Argument FilePart of UploadFilePart must be an attachment value");
  expectRefused(smUploadFilePart, {std::string("S"), std::string("p"), &attachment, &attachment},
                "Argument Hash of UploadFilePart must be a text value");
  expectRefused(smUnZip, {std::string("S\x01")},
                "Argument Sess of UnZip is not valid UTF-8 text or holds characters that XML "
                "cannot carry");
  expectRefused(smUnZip, {std::string("S\xC3")},
                "Argument Sess of UnZip is not valid UTF-8 text or holds characters that XML "
                "cannot carry");
  expectRefused(7, {}, "Interface ISenderService has no operation at index 7");

  // An attachment queued before a later argument fails must not stay queued for sending.
  TIntfMetaData probe;
  probe.Name = "IProbe";
  probe.Namespace = "urn:probe";
  probe.MDA = {{"Put",
                0,
                {{"Data", TParamType::ptAttachment}, {"Count", TParamType::ptInteger}},
                TParamType::ptBoolean}};
  try {
    conv.InvContextToMsg(probe, 0, {&attachment, std::string("3")});
    ADD_FAILURE() << "accepted a text for Count";
  } catch (const ESOAPDomConvertError& e) {
    EXPECT_EQ(e.Message(), "Argument Count of Put must be a 32-bit integer value");
  }
  EXPECT_TRUE(conv.Attachments().empty());
  EXPECT_EQ(conv.InvContextToMsg(probe, 0, {&attachment, int32_t{3}})->Size() > 0, true);
  EXPECT_EQ(conv.Attachments().size(), 1u);

  conv.Options |= ToOptions(TSOAPConvertOption::soDocument);
  expectRefused(smGetSession, {}, "Document/literal messages are not supported");
  conv.Options = kDefaultConvertOptions;
  conv.Encoding = "windows-1251";
  expectRefused(smGetSession, {},
                "Message encoding windows-1251 is not supported; requests are sent as UTF-8");
}

TEST(EnvelopeRequestTest, StringLiteralArgumentsAreText) {
  // A literal must not silently become a Boolean argument.
  const TParamValue value("S1");
  ASSERT_TRUE(std::holds_alternative<std::string>(value));
  TOPToSoapDomConvert conv;
  EXPECT_NE(Request(conv, smUnZip, {"S1"}).find("<Sess xsi:type=\"xsd:string\">S1</Sess>"),
            std::string::npos);
}

TEST(EnvelopeRequestTest, UntypedOptionDropsTypeAttributes) {
  TOPToSoapDomConvert conv;
  conv.Options |= ToOptions(TSOAPConvertOption::soSendUntyped);
  EXPECT_EQ(Request(conv, smUnZip, {std::string("S1")}),
            kHead +
                "<NS1:UnZip xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
                "<Sess>S1</Sess></NS1:UnZip>" +
                kTail);
}

// Requests are written straight as text; the same request built as a tree and serialised must
// give the same bytes, whatever the values and options.
std::string RequestAsTree(const TIntfMethEntry& method, const std::vector<TParamValue>& args,
                          bool typed, const std::string& contentId) {
  TXmlDocument doc;
  const TEnvelopeWriter envelope = StartEnvelope(doc);
  TXmlNode& operation = AddNamespacedElement(*envelope.Body, method.Name, SenderIntf().Namespace);
  SetEncodingStyle(*envelope.Body);
  for (size_t i = 0; i < args.size(); ++i) {
    TXmlNode& element = operation.AddElement(method.Params[i].Name);
    if (const auto* attachment = std::get_if<TSOAPAttachment*>(&args[i])) {
      if (*attachment == nullptr)
        AddEnvelopeAttribute(element, kXsiPrefix, "nil", "true");
      else
        element.AddAttribute("", "href", "", "cid:" + contentId);
      continue;
    }
    std::string text;
    if (const auto* value = std::get_if<std::string>(&args[i])) text = *value;
    if (const auto* value = std::get_if<int32_t>(&args[i])) text = std::to_string(*value);
    static const char* const kTypes[] = {"xsd:string", "xsd:int", "xsd:boolean"};
    if (typed) {
      AddEnvelopeAttribute(element, kXsiPrefix, "type",
                           kTypes[static_cast<int>(method.Params[i].Type)]);
    }
    element.AddText(text);
  }
  return SerializeXmlDocument(doc);
}

TEST(EnvelopeRequestTest, WrittenTextEqualsTheSerialisedTree) {
  const std::vector<std::string> texts = {"",
                                          "S-1",
                                          "&<>\"'",
                                          "a]]>b",
                                          "\t\r\n tab",
                                          "\xD0\xA4\xD0\xB0\xD0\xB9\xD0\xBB",
                                          std::string(5000, 'x')};
  const std::string id = "0F1E2D3C-4B5A-4968-8776-655443322110";
  TSOAPAttachment part;
  TMemoryStream bytes("abc");
  part.SetSourceStream(&bytes, TStreamOwnership::owReference);
  for (const bool typed : {true, false}) {
    TOPToSoapDomConvert conv;
    if (!typed) conv.Options |= ToOptions(TSOAPConvertOption::soSendUntyped);
    for (const std::string& text : texts) {
      const std::vector<std::pair<int, std::vector<TParamValue>>> calls = {
          {smGetSession, {}},
          {smUploadFilePart, {text, "part" + text, text, &part}},
          {smUploadFilePart, {text, text, std::string(), static_cast<TSOAPAttachment*>(nullptr)}},
          {smMergeFile, {int32_t{INT32_MIN}, text, text}},
          {smMergeFile, {int32_t{0}, text, text}},
          {smUnZip, {text}},
          {smDelTempFiles, {text}}};
      for (const auto& [method, args] : calls) {
        TFixedContentIds ids({id});
        EXPECT_EQ(Request(conv, method, args),
                  RequestAsTree(SenderIntf().MDA[static_cast<size_t>(method)], args, typed, id));
      }
    }
  }
}

}  // namespace
}  // namespace vorlen
