// Hostile or broken bytes in place of a SOAP message: refused with a clear error.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "soap/OPToSoapDomConv.h"
#include "soap/SOAPExceptions.h"
#include "soap/SenderServiceIntf.h"
#include "soap/SoapServerMessages.h"

namespace vorlen {
namespace {

const TIntfMetaData& SenderIntf() {
  RegisterSenderService();
  const TIntfMetaData* intf = InvRegistry().GetInterfaceInfo(IID_ISenderService);
  if (!intf) throw Exception("ISenderService is not registered");
  return *intf;
}

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
  expectReason(std::string(kEnvelopeStart) +
                   "&nbsp;</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>",
               "Entity 'nbsp' not defined (line 1)");
  expectReason("<a>\n\n\xFF</a>", "Input is not proper UTF-8");
  expectReason("<a>\n\n\xFF</a>", "(line 3)");
  expectReason(std::string(kEnvelopeStart) +
                   "<x:v>1</x:v></return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>",
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
  const std::filesystem::path secret =
      std::filesystem::temp_directory_path() / "vorlen-c1-xxe-secret.txt";
  {
    std::ofstream out(secret);
    out << "TOP-SECRET-CONTENT";
  }
  const std::string xxe = "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" +
                          secret.string() + "\">]>\n" + kEnvelopeStart +
                          "&x;</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  const std::string message = ParseError(xxe);
  EXPECT_EQ(message, refused);
  EXPECT_EQ(message.find("TOP-SECRET"), std::string::npos);
  std::filesystem::remove(secret);

  // Even a harmless declaration or an external DTD is refused: messages never carry one.
  EXPECT_EQ(ParseError("<!DOCTYPE r>" + std::string(kEnvelopeStart) +
                       "x</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>"),
            refused);
  EXPECT_EQ(ParseError("<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/x.dtd\">" +
                       std::string(kEnvelopeStart) +
                       "x</return></r></SOAP-ENV:Body></SOAP-ENV:Envelope>"),
            refused);
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
