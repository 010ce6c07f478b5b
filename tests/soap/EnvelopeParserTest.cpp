// Hostile or broken bytes in place of a SOAP message: refused with a clear error.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "soap/OPToSoapDomConv.h"
#include "soap/SOAPExceptions.h"
#include "soap/SenderServiceIntf.h"
#include "soap/SoapServerMessages.h"
#include "soap/SoapTestSupport.h"
#include "soap/XmlParser.h"

namespace vorlen {
namespace {

using test::SenderIntf;
using test::TScratchDir;

// The message of the EDOMParseError raised by both readers; they must agree.
std::string ParseError(const std::string& xml) {
  std::string responseMessage = "(accepted)";
  std::string requestMessage = "(accepted)";
  try {
    TOPToSoapDomConvert conv;
    TMemoryStream stream(xml);
    conv.ProcessResponse(stream, SenderIntf(), smGetSession);
  } catch (const EDOMParseError& e) {
    responseMessage = e.Message();
  } catch (const std::exception& e) {
    responseMessage = std::string("(other) ") + e.what();
  }
  try {
    TMemoryStream stream(xml);
    ReadSoapRequest(stream);
  } catch (const EDOMParseError& e) {
    requestMessage = e.Message();
  } catch (const std::exception& e) {
    requestMessage = std::string("(other) ") + e.what();
  }
  EXPECT_EQ(responseMessage, requestMessage);
  return responseMessage;
}

const char* const kEnvelopeStart =
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
    "<SOAP-ENV:Body><r><return>";

TEST(EnvelopeParserTest, MalformedXmlIsRefusedWithTheParserReason) {
  // The reason is libxml2's own text for the first error, with its line.
  const auto expectReason = [](const std::string& xml, const std::string& reason) {
    const std::string message = ParseError(xml);
    EXPECT_NE(message.find(reason), std::string::npos) << message;
  };
  expectReason("", "Document is empty (line 1)");
  expectReason(std::string(kEnvelopeStart) + "S1</r></SOAP-ENV:Body></SOAP-ENV:Envelope>",
               "Opening and ending tag mismatch: return line 1 and r");
  expectReason(
      std::string(kEnvelopeStart) + "&nbsp;</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>",
      "Entity 'nbsp' not defined (line 1)");
  expectReason("<a>\n\n\xFF</a>", "Input is not proper UTF-8");
  expectReason("<a>\n\n\xFF</a>", "(line 3)");
  expectReason(
      std::string(kEnvelopeStart) + "<x:v>1</x:v></return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>",
      "Namespace prefix x on v is not defined");
}

TEST(EnvelopeParserTest, DocumentTypeDeclarationsAreRefused) {
  const std::string refused = "Document type declarations are not accepted in SOAP messages";
  // Billion laughs: expanding it would need gigabytes.
  std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol \"lol\">\n";
  laughs += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n";
  for (int i = 2; i <= 9; ++i) {
    laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&lol" + std::to_string(i - 1) + ";";
    laughs += "\">\n";
  }
  laughs += "]>\n" + std::string(kEnvelopeStart) +
            "&lol9;</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  EXPECT_EQ(ParseError(laughs), refused);

  // External entity naming a local file: the file's text must never come back.
  const TScratchDir dir;
  dir.Write("secret.txt", "TOP-SECRET-CONTENT");
  const std::string xxe = "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" +
                          dir.File("secret.txt") + "\">]>\n" + kEnvelopeStart +
                          "&x;</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  const std::string message = ParseError(xxe);
  EXPECT_EQ(message, refused);
  EXPECT_EQ(message.find("TOP-SECRET"), std::string::npos);

  // Even a harmless declaration or an external DTD is refused: messages never carry one.
  EXPECT_EQ(ParseError("<!DOCTYPE r>" + std::string(kEnvelopeStart) +
                       "x</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>"),
            refused);
  EXPECT_EQ(
      ParseError("<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/x.dtd\">" + std::string(kEnvelopeStart) +
                 "x</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>"),
      refused);
}

TEST(EnvelopeParserTest, ParsersInSeveralThreadsKeepTheirOwnResultsAndErrors) {
  // The reference service reads requests on several threads; a reason or a value must never
  // leak from one parse into another.
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &mismatches] {
      const std::string session = "S" + std::to_string(t);
      const std::string good = std::string(kEnvelopeStart) + session +
                               "</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>";
      const std::string bad = std::string(kEnvelopeStart) + "<t" + std::to_string(t) +
                              "></return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>";
      const std::string reason = "Opening and ending tag mismatch: t" + std::to_string(t);
      TOPToSoapDomConvert conv;
      for (int i = 0; i < 150; ++i) {
        TMemoryStream goodStream(good);
        if (std::get<std::string>(conv.ProcessResponse(goodStream, SenderIntf(), smGetSession)) !=
            session)
          ++mismatches;
        TMemoryStream badStream(bad);
        try {
          conv.ProcessResponse(badStream, SenderIntf(), smGetSession);
          ++mismatches;
        } catch (const EDOMParseError& e) {
          if (e.Message().find(reason) != 0) ++mismatches;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}

// The converter reads every answer with one parser context; nothing from one document (a
// refusal, an error, a declared entity, a name) may change how the next one is read.
TEST(EnvelopeParserTest, ReusedParserReadsEachDocumentOnItsOwn) {
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
TEST(EnvelopeParserTest, ReusedParserDropsALargeNameDictionary) {
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

TEST(EnvelopeParserTest, DeepNestingHitsTheParserLimit) {
  std::string deep = kEnvelopeStart;
  for (int i = 0; i < 300; ++i) deep += "<d>";
  for (int i = 0; i < 300; ++i) deep += "</d>";
  deep += "</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  const std::string message = ParseError(deep);
  EXPECT_NE(message.find("Excessive depth in document: 256"), std::string::npos) << message;
}

}  // namespace
}  // namespace vorlen
