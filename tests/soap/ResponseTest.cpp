// Reading responses into results, faults and errors.
#include <gtest/gtest.h>

#include "soap/OPToSoapDomConvert.h"
#include "soap/SOAPExceptions.h"
#include "soap/SenderServiceIntf.h"
#include "soap/SoapTestSupport.h"

namespace vorlen {
namespace {

using test::SenderIntf;

const char* const kOpen =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">";
const char* const kClose = "</SOAP-ENV:Envelope>";

std::string InBody(const std::string& content) {
  return std::string(kOpen) + "<SOAP-ENV:Body>" + content + "</SOAP-ENV:Body>" + kClose;
}

TParamValue Read(const std::string& xml, int method) {
  TOPToSoapDomConvert conv;
  TMemoryStream stream(xml);
  return conv.ProcessResponse(stream, SenderIntf(), method);
}

std::string ReadText(const std::string& xml) {
  return std::get<std::string>(Read(xml, smGetSession));
}

bool ReadBool(const std::string& xml) { return std::get<bool>(Read(xml, smUnZip)); }

bool ReadReturn(const std::string& value) {
  return ReadBool(
      InBody("<NS1:UnZipResponse xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
             "<return xsi:type=\"xsd:boolean\">" +
             value + "</return></NS1:UnZipResponse>"));
}

template <typename E>
std::string ErrorOf(const std::string& xml, int method = smUnZip) {
  try {
    Read(xml, method);
  } catch (const E& e) {
    return e.Message();
  }
  return "(no " + std::string(typeid(E).name()) + ")";
}

// The fault raised for xml; fails the test when none is.
ERemotableException FaultOf(const std::string& xml, int method) {
  try {
    Read(xml, method);
  } catch (const ERemotableException& e) {
    return e;
  }
  ADD_FAILURE() << "no fault raised";
  return ERemotableException("(none)");
}

TEST(ResponseTest, ReturnElementChoice) {
  // A single child is the result whatever its name, and its text is taken as is.
  EXPECT_EQ(ReadText(InBody("<NS1:GetSessionResponse xmlns:NS1=\"urn:x\">"
                            "<anything xsi:type=\"xsd:string\"> S-42 &amp; \xD0\xAF\n</anything>"
                            "</NS1:GetSessionResponse>")),
            " S-42 & \xD0\xAF\n");
  // Among several, the first named Result or Return, ignoring case.
  EXPECT_TRUE(
      ReadBool(InBody("<NS1:UnZipResponse xmlns:NS1=\"urn:x\"><other>false</other>"
                      "<RETURN>true</RETURN><Result>false</Result></NS1:UnZipResponse>")));
  EXPECT_EQ(ReadText(InBody("<r>\n  <x>1</x>\n  <result>S9</result>\n</r>")), "S9");
  // Mixed content: the XML of the child nodes.
  EXPECT_EQ(ReadText(InBody("<r><return>a<b>c</b>d</return></r>")), "a<b>c</b>d");

  EXPECT_EQ(
      ErrorOf<ESOAPDomConvertError>(InBody("<NS1:UnZipResponse xmlns:NS1=\"urn:x\"><a>1</a><b>2</b>"
                                           "</NS1:UnZipResponse>")),
      "SOAP Response Packet: element matching function return not found, received "
      "\"<NS1:UnZipResponse xmlns:NS1=\"urn:x\"><a>1</a><b>2</b></NS1:UnZipResponse>\"");
  EXPECT_EQ(ErrorOf<ESOAPDomConvertError>(InBody("<UnZipResponse/>")),
            "SOAP Response Packet: element matching function return not found, received "
            "\"<UnZipResponse/>\"");
}

TEST(ResponseTest, HrefTakesValueFromReferencedElementAnywhere) {
  const std::string header =
      std::string(kOpen) + "<SOAP-ENV:Header><h><v id=\"H7\">from header</v></h></SOAP-ENV:Header>";
  EXPECT_TRUE(ReadBool(InBody("<r><return href=\"#1\"/></r><multi id=\"1\"> true </multi>")));
  EXPECT_EQ(
      ReadText(header + "<SOAP-ENV:Body><r><return href=\"#h7\"/></r></SOAP-ENV:Body>" + kClose),
      "from header");
  // An id placed before the Body still counts; an unknown reference leaves the element itself.
  EXPECT_EQ(ReadText(std::string(kOpen) +
                     "<x id=\"z\">early</x><SOAP-ENV:Body><r><return "
                     "href=\"#Z\"/></r></SOAP-ENV:Body>" +
                     kClose),
            "early");
  EXPECT_EQ(ReadText(InBody("<r><return href=\"cid:none\">own</return></r>")), "own");
}

TEST(ResponseTest, BooleanForms) {
  EXPECT_TRUE(ReadReturn(" TRUE "));
  EXPECT_TRUE(ReadReturn("\t\r\n1\n"));
  EXPECT_TRUE(ReadReturn("true"));
  EXPECT_FALSE(ReadReturn("False"));
  EXPECT_FALSE(ReadReturn("0"));
  EXPECT_FALSE(ReadReturn(""));
  EXPECT_FALSE(ReadBool(InBody("<r><return xsi:nil=\"true\"/></r>")));
  // An answer that is no Boolean at all is an error, not a silent false.
  EXPECT_EQ(
      ErrorOf<ESOAPDomConvertError>(InBody("<r><return xsi:type=\"xsd:boolean\">yes</return></r>")),
      "'yes' is not a valid Boolean value");
  EXPECT_EQ(ErrorOf<ESOAPDomConvertError>(InBody("<r><return>tru e</return></r>")),
            "'tru e' is not a valid Boolean value");
}

TEST(ResponseTest, EmptyBodyGivesEmptyResult) {
  EXPECT_EQ(ReadText(InBody("")), "");
  EXPECT_EQ(ReadText(std::string(kOpen) + "<SOAP-ENV:Body/>" + kClose), "");
  EXPECT_FALSE(ReadBool(InBody("")));
  EXPECT_FALSE(std::get<bool>(Read(InBody(" \n "), smMergeFile)));
  // Text without any element (an error page in the Body) is no answer, not an empty one.
  EXPECT_EQ(ErrorOf<ESOAPDomConvertError>(InBody("\n Internal error \n"), smGetSession),
            "SOAP Response Packet: element matching function return not found, received "
            "\"<SOAP-ENV:Body>\n Internal error \n</SOAP-ENV:Body>\"");
  EXPECT_EQ(ErrorOf<ESOAPDomConvertError>(InBody("<![CDATA[false]]>")),
            "SOAP Response Packet: element matching function return not found, received "
            "\"<SOAP-ENV:Body><![CDATA[false]]></SOAP-ENV:Body>\"");
}

TEST(ResponseTest, FaultBecomesRemotableException) {
  const std::string xml = InBody(
      "<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode>"
      "<FaultString>\xD0\xA1\xD0\xB5\xD1\x81\xD0\xB8\xD1\x8F &lt;S1&gt;</FaultString>"
      "<faultactor>urn:merge</faultactor>"
      "<detail><reason code=\"7\">gone</reason></detail></SOAP-ENV:Fault>");
  const ERemotableException full = FaultOf(xml, smMergeFile);
  EXPECT_EQ(full.Message(), "\xD0\xA1\xD0\xB5\xD1\x81\xD0\xB8\xD1\x8F <S1>");
  EXPECT_EQ(full.FaultCode, "SOAP-ENV:Server");
  EXPECT_EQ(full.FaultActor, "urn:merge");
  EXPECT_EQ(full.FaultDetail, "<detail><reason code=\"7\">gone</reason></detail>");
  // Absent parts stay empty; a later faultstring replaces an earlier one.
  const ERemotableException bare =
      FaultOf(InBody("<SOAP-ENV:Fault><faultstring>one</faultstring><faultstring>two</faultstring>"
                     "</SOAP-ENV:Fault>"),
              smGetSession);
  EXPECT_EQ(bare.Message(), "two");
  EXPECT_EQ(bare.FaultCode, "");
  EXPECT_EQ(bare.FaultActor, "");
  EXPECT_EQ(bare.FaultDetail, "");
}

TEST(ResponseTest, HeadersWithMustUnderstand) {
  const auto withHeader = [](const std::string& entry) {
    return std::string(kOpen) + "<SOAP-ENV:Header>" + entry +
           "</SOAP-ENV:Header><SOAP-ENV:Body><r><return>1</return></r></SOAP-ENV:Body>" + kClose;
  };
  for (const char* value : {"1", "true", "TRUE"}) {
    SCOPED_TRACE(value);
    const ERemotableException e = FaultOf(
        withHeader(std::string("<ns:Session xmlns:ns=\"urn:h\" SOAP-ENV:mustUnderstand=\"") +
                   value + "\">x</ns:Session>"),
        smUnZip);
    EXPECT_EQ(e.Message(),
              "Soap header Session with attribute 'mustUnderstand' set to true was not handled");
    EXPECT_EQ(e.FaultCode, "MustUnderstand");
  }
  EXPECT_TRUE(ReadBool(withHeader("<Session SOAP-ENV:mustUnderstand=\"0\">x</Session>")));
  EXPECT_TRUE(ReadBool(withHeader("<Session mustUnderstand=\"false\">x</Session>")));
}

TEST(ResponseTest, EnvelopeStructureErrors) {
  EXPECT_EQ(ErrorOf<ESOAPDomConvertError>(
                "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\">"
                "<soap:Body/></soap:Envelope>"),
            "DocumentElement http://schemas.xmlsoap.org/soap/envelope/:Envelope expected, "
            "http://www.w3.org/2003/05/soap-envelope:Envelope found");
  EXPECT_EQ(ErrorOf<ESOAPDomConvertError>("<html><body>502</body></html>"),
            "DocumentElement http://schemas.xmlsoap.org/soap/envelope/:Envelope expected, "
            ":html found");
  EXPECT_EQ(ErrorOf<ESOAPDomConvertError>(std::string(kOpen) + kClose), "Invalid SOAP Response");
  // No Body: the outcome is unknown, so it must not read as false.
  EXPECT_EQ(ErrorOf<ESOAPDomConvertError>(std::string(kOpen) + "<SOAP-ENV:Header/>" + kClose),
            "Invalid SOAP Response");
  EXPECT_EQ(ErrorOf<ESOAPDomConvertError>(std::string(kOpen) +
                                          "<SOAP-ENV:Body><r><return>1</return></r>"
                                          "</SOAP-ENV:Body><SOAP-ENV:Body/>" +
                                          kClose),
            "Invalid SOAP response");
  EXPECT_EQ(ErrorOf<ESOAPDomConvertError>(std::string(kOpen) +
                                          "<SOAP-ENV:Header/><SOAP-ENV:Header/>"
                                          "<SOAP-ENV:Body/>" +
                                          kClose),
            "Invalid SOAP response");
}

TEST(ResponseTest, EncodingFromByteOrderMarkOrDeclaration) {
  // UTF-16LE with a byte-order mark: <r> holding "Я1".
  const std::string ascii =
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body><r><v>";
  std::string utf16("\xFF\xFE", 2);
  for (char c : ascii) utf16 += std::string{c, '\0'};
  utf16 += std::string("\x2F\x04\x31\x00", 4);
  for (char c : std::string("</v></r></e:Body></e:Envelope>")) utf16 += std::string{c, '\0'};
  EXPECT_EQ(ReadText(utf16),
            "\xD0\xAF"
            "1");

  // Encodings named in the declaration: see EnvelopeParserLibxml2Test (Wine's XmlLite reads
  // only UTF-8 and UTF-16).

  // Reading starts at the stream's position (a multipart root part may follow other bytes).
  TOPToSoapDomConvert conv;
  TMemoryStream stream(std::string("JUNK") + InBody("<r><v>S7</v></r>"));
  stream.SetPosition(4);
  EXPECT_EQ(std::get<std::string>(conv.ProcessResponse(stream, SenderIntf(), smGetSession)), "S7");
}

}  // namespace
}  // namespace vorlen
