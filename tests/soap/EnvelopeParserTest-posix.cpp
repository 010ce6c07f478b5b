// What only libxml2, the POSIX build's parser, tells: its own texts and its name dictionary.
#include <gtest/gtest.h>

#include "soap/ParseErrorSupport.h"
#include "xml/XmlWriter.h"
#include "xml/XmlParser.h"

namespace vorlen {
namespace {

using test::ExpectParseReason;
using test::kEnvelopeStart;
using test::ParseError;
using test::SenderIntf;

TEST(EnvelopeParserLibxml2Test, MalformedXmlIsRefusedWithTheParserReason) {
  // The reason is libxml2's own text for the first error, with its line.
  ExpectParseReason(std::string(kEnvelopeStart) + "S1</r></SOAP-ENV:Body></SOAP-ENV:Envelope>",
                    "Opening and ending tag mismatch: return line 1 and r");
  ExpectParseReason(
      std::string(kEnvelopeStart) + "&nbsp;</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>",
      "Entity 'nbsp' not defined (line 1)");
  ExpectParseReason("<a>\n\n\xFF</a>", "Input is not proper UTF-8");
  ExpectParseReason("<a>\n\n\xFF</a>", "(line 3)");
  // A lone surrogate in UTF-16 fails libxml2's conversion, which it reports outside the parse:
  // nothing of it may reach standard error (the service's log).
  testing::internal::CaptureStderr();
  EXPECT_NE(ParseError(std::string("\xFF\xFE<\0a\0\0\xD8/\0>\0", 12)), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Answers are read from the parser's events; text arriving in pieces makes one node, and a
// refused answer still gets the reason that names its fault.
TEST(EnvelopeParserLibxml2Test, ModelFromEventsAndReasonsAtTheEndOfInput) {
  const std::string x(20000, 'x');
  const TXmlDocument doc =
      ParseXml("<r a=\"&amp;#38;&#38;&lt;&#x416;\">" + x + "&amp;y<![CDATA[c]]><![CDATA[d]]></r>");
  ASSERT_TRUE(doc.Root);
  ASSERT_EQ(doc.Root->Attributes.size(), 1u);
  EXPECT_EQ(doc.Root->Attributes[0].Value, "&#38;&<\xD0\x96");
  ASSERT_EQ(doc.Root->Children.size(), 2u);
  EXPECT_EQ(doc.Root->Children[0]->Text, x + "&y");
  EXPECT_EQ(doc.Root->Children[1]->Kind, TXmlNodeKind::nkCData);
  EXPECT_EQ(doc.Root->Children[1]->Text, "cd");

  ExpectParseReason(std::string(kEnvelopeStart) + "S1", "Premature end of data in tag return");
  ExpectParseReason("<r", "Couldn't find end of Start Tag r line 1 (line 1)");
  ExpectParseReason("   ", "Start tag expected, '<' not found (line 1)");
  // The nesting limit holds however the answer is read: 257 levels pass, 258 do not.
  const auto nested = [](int levels) {
    std::string xml;
    for (int i = 0; i < levels; ++i) xml += "<a>";
    for (int i = 0; i < levels; ++i) xml += "</a>";
    return xml;
  };
  EXPECT_NO_THROW(ParseXml(nested(257)));
  EXPECT_THROW(ParseXml(nested(258)), EDOMParseError);
}

// The converter reads every answer with one parser context; nothing from one document (a
// refusal, an error, a declared entity, a name) may change how the next one is read.
TEST(EnvelopeParserLibxml2Test, ReusedParserReadsEachDocumentOnItsOwn) {
  const std::string good =
      std::string(kEnvelopeStart) + "S-1</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  const std::string withEntity =
      std::string(kEnvelopeStart) + "&x;</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  const auto parseError = [](TXmlParser& parser, const std::string& xml) -> std::string {
    try {
      parser.Parse(xml);
    } catch (const EDOMParseError& e) {
      return e.Message();
    }
    return "(accepted)";
  };
  TXmlParser parser;
  EXPECT_EQ(parseError(parser, good), "(accepted)");
  EXPECT_EQ(parseError(parser, "<!DOCTYPE r [<!ENTITY x \"declared\">]>" + withEntity),
            "Document type declarations are not accepted in SOAP messages");
  // The entity of the refused document was never declared for this one.
  EXPECT_EQ(parseError(parser, withEntity), "Entity 'x' not defined (line 1)");
  EXPECT_EQ(parseError(parser, "<a><b></a>"),
            "Opening and ending tag mismatch: b line 1 and a (line 1)");
  const TXmlDocument doc = parser.Parse(good);
  ASSERT_TRUE(doc.Root);
  EXPECT_EQ(doc.Root->Content(), "S-1");
  // An error on a later line reports that line, not one counted on from an earlier document.
  EXPECT_EQ(parseError(parser, "<a>\n\n<b></a>"),
            "Opening and ending tag mismatch: b line 3 and a (line 3)");

  // A converter keeps its context across calls, and its hardening with it.
  TOPToSoapDomConvert conv;
  for (int i = 0; i < 3; ++i) {
    TMemoryStream goodStream(good);
    EXPECT_EQ(std::get<std::string>(conv.ProcessResponse(goodStream, SenderIntf(), smGetSession)),
              "S-1");
    TMemoryStream hostile("<!DOCTYPE r [<!ENTITY x \"declared\">]>" + withEntity);
    EXPECT_THROW(conv.ProcessResponse(hostile, SenderIntf(), smGetSession), EDOMParseError);
  }
}

// The context's name dictionary keeps every name it has read; a peer sending ever new names
// must not make it grow for good.
TEST(EnvelopeParserLibxml2Test, ReusedParserDropsALargeNameDictionary) {
  TXmlParser parser;
  parser.Parse("<a/>");
  const size_t kept = parser.KeptNames();
  parser.Parse("<b/>");
  EXPECT_GT(parser.KeptNames(), kept);  // one context, one dictionary, b added

  std::string many = "<r>";
  for (int i = 0; i < 5000; ++i) many += "<n" + std::to_string(i) + "/>";
  many += "</r>";
  const TXmlDocument big = parser.Parse(many);
  ASSERT_TRUE(big.Root);
  EXPECT_EQ(big.Root->Children.size(), 5000u);
  EXPECT_EQ(parser.KeptNames(), 0u);  // the context that learned them is gone
  const TXmlDocument after = parser.Parse("<c/>");
  ASSERT_TRUE(after.Root);
  EXPECT_LT(parser.KeptNames(), 100u);  // a fresh context, with a dictionary of its own
  EXPECT_EQ(after.Root->LocalName, "c");
}

// Two things Wine's XmlLite does not do: references to whitespace in attribute values and text
// are kept as the characters they name, and encodings beyond UTF-8 and UTF-16 are read.
TEST(EnvelopeParserLibxml2Test, WhitespaceReferencesAndDeclaredEncodings) {
  const TXmlDocument doc = ParseXml("<r v=\"&#9;&#10;&#13;\">a&#13;</r>");
  ASSERT_TRUE(doc.Root);
  EXPECT_EQ(doc.Root->Attributes.at(0).Value, "\t\n\r");
  EXPECT_EQ(doc.Root->Content(), "a\r");
  EXPECT_EQ(NodeXml(*doc.Root), "<r v=\"&#9;&#10;&#13;\">a&#13;</r>");

  // ISO-8859-5 named in the declaration: 0xCF is "Я".
  TOPToSoapDomConvert conv;
  TMemoryStream stream(
      "<?xml version=\"1.0\" encoding=\"ISO-8859-5\"?>"
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\">"
      "<e:Body><r><v>\xCF</v></r></e:Body></e:Envelope>");
  EXPECT_EQ(std::get<std::string>(conv.ProcessResponse(stream, SenderIntf(), smGetSession)),
            "\xD0\xAF");
}

}  // namespace
}  // namespace vorlen
