// Hostile or broken bytes in place of a SOAP message: refused with a clear error.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "soap/OPToSoapDomConvert.h"
#include "soap/ParseErrorSupport.h"
#include "soap/SOAPExceptions.h"
#include "soap/SenderServiceIntf.h"
#include "soap/SoapServerMessages.h"
#include "soap/SoapTestSupport.h"

namespace vorlen {
namespace {

using test::ExpectParseReason;
using test::kEnvelopeStart;
using test::ParseError;
using test::SenderIntf;
using test::TScratchDir;

TEST(EnvelopeParserTest, MalformedXmlIsRefusedWithTheParserReason) {
  // Where both parsers name the fault; each words the rest in its own way.
  ExpectParseReason("", "Document is empty (line 1)");
  ExpectParseReason(std::string(kEnvelopeStart) + "S1</r></SOAP-ENV:Body></SOAP-ENV:Envelope>",
                    "Opening and ending tag mismatch: return line 1");
  ExpectParseReason("<a>\n\n<b></a>", "Opening and ending tag mismatch: b line 3");
  ExpectParseReason("<a>\n\n<b></a>", "(line 3)");
  ExpectParseReason(
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

// The converter reads every answer with one parser; nothing from one document (a refusal, an
// error, a declared entity) may change how the next one is read.
TEST(EnvelopeParserTest, ReusedParserReadsEachDocumentOnItsOwn) {
  const std::string good =
      std::string(kEnvelopeStart) + "S-1</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  const std::string withEntity =
      std::string(kEnvelopeStart) + "&x;</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  TOPToSoapDomConvert conv;
  for (int i = 0; i < 3; ++i) {
    TMemoryStream goodStream(good);
    EXPECT_EQ(std::get<std::string>(conv.ProcessResponse(goodStream, SenderIntf(), smGetSession)),
              "S-1");
    TMemoryStream hostile("<!DOCTYPE r [<!ENTITY x \"declared\">]>" + withEntity);
    EXPECT_THROW(conv.ProcessResponse(hostile, SenderIntf(), smGetSession), EDOMParseError);
    // The entity of the refused document was never declared for this one.
    TMemoryStream after(withEntity);
    try {
      EXPECT_NE(std::get<std::string>(conv.ProcessResponse(after, SenderIntf(), smGetSession)),
                "declared");
    } catch (const EDOMParseError&) {}
    TMemoryStream broken("<a>\n\n<b></a>");
    EXPECT_THROW(conv.ProcessResponse(broken, SenderIntf(), smGetSession), EDOMParseError);
  }
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
