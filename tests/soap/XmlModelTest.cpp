// The document model between the parser and the writer: received XML shown again as it came,
// and built documents written with the escaping readers need.
#include <gtest/gtest.h>

#include "soap/OPToSoapDomConvert.h"
#include "soap/SOAPExceptions.h"
#include "soap/SenderServiceIntf.h"
#include "soap/SoapTestSupport.h"
#include "xml/XmlWriter.h"
#include "xml/XmlParser.h"

namespace vorlen {
namespace {

const char* const kEnvelope =
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
    "<SOAP-ENV:Body>";

TEST(XmlModelTest, ReceivedElementsAreShownAgainAsTheyCame) {
  // Every kind of node, declarations after attributes, references in text and attributes.
  const std::string detail =
      "<d:detail a=\"&lt;1&gt; &amp; &quot;q&quot;\" xmlns:d=\"urn:d\">"
      "t&lt;&gt;&amp;&apos;'\"<![CDATA[<raw>&]]><!-- note --><?step one?><?bare?>"
      "<d:x xmlns=\"urn:default\" y='&#x41;'><z></z></d:x>"
      "\xD0\x96</d:detail>";
  try {
    TOPToSoapDomConvert conv;
    TMemoryStream stream(std::string(kEnvelope) + "<SOAP-ENV:Fault><faultstring>f</faultstring>" +
                         detail + "</SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>");
    conv.ProcessResponse(stream, test::SenderIntf(), smGetSession);
    ADD_FAILURE() << "no fault raised";
  } catch (const ERemotableException& e) {
    EXPECT_EQ(e.FaultDetail,
              "<d:detail xmlns:d=\"urn:d\" a=\"&lt;1&gt; &amp; &quot;q&quot;\">"
              "t&lt;&gt;&amp;''\"<![CDATA[<raw>&]]><!-- note --><?step one?><?bare?>"
              "<d:x xmlns=\"urn:default\" y=\"A\"><z/></d:x>"
              "\xD0\x96</d:detail>");
  }

  // A result holding markup comes back as the XML of its child nodes; only text is unescaped.
  TOPToSoapDomConvert conv;
  TMemoryStream mixed(std::string(kEnvelope) +
                      "<r><return>a&amp;<b c=\"1\">x</b><![CDATA[y]]>z</return></r>"
                      "</SOAP-ENV:Body></SOAP-ENV:Envelope>");
  EXPECT_EQ(std::get<std::string>(conv.ProcessResponse(mixed, test::SenderIntf(), smGetSession)),
            "a&amp;<b c=\"1\">x</b><![CDATA[y]]>z");
  TMemoryStream text(std::string(kEnvelope) +
                     "<r><return>a&amp;<![CDATA[<y>]]>z</return></r>"
                     "</SOAP-ENV:Body></SOAP-ENV:Envelope>");
  EXPECT_EQ(std::get<std::string>(conv.ProcessResponse(text, test::SenderIntf(), smGetSession)),
            "a&<y>z");
}

TEST(XmlModelTest, BuiltDocumentsAreWrittenWithTheNeededEscapes) {
  TXmlDocument doc;
  doc.Root = std::make_unique<TXmlNode>(TXmlNodeKind::nkElement);
  doc.Root->LocalName = "r";
  doc.Root->Namespaces = {{"", "urn:a"}, {"p", "urn:c"}};
  doc.Root->AddAttribute("p", "v", "urn:c", "<\"\xD0\x96\t\n\r>");
  doc.Root->AddAttribute("", "w", "", "<\"\xD0\x96>");
  TXmlNode& child = doc.Root->AddElement("c");
  child.AddText("1 < 2 && 3 > 2\r\n\xD0\x96");
  auto cdata = std::make_unique<TXmlNode>(TXmlNodeKind::nkCData);
  cdata->Text = "a]]>b";
  doc.Root->Append(std::move(cdata));
  doc.Root->AddElement("empty").AddText("");
  EXPECT_EQ(SerializeXmlDocument(doc),
            "<?xml version=\"1.0\"?>\n"
            "<r xmlns=\"urn:a\" xmlns:p=\"urn:c\" "
            "p:v=\"&lt;&quot;&#x416;&#9;&#10;&#13;&gt;\" w=\"&lt;&quot;&#x416;&gt;\">"
            "<c>1 &lt; 2 &amp;&amp; 3 &gt; 2&#13;\n\xD0\x96</c>"
            "<![CDATA[a]]]]><![CDATA[>b]]><empty/></r>\n");
  // What was written reads back to the same values (Wine's XmlLite turns references to
  // whitespace into spaces; libxml2 keeps them, see EnvelopeParserLibxml2Test).
  const TXmlDocument back = ParseXml(SerializeXmlDocument(doc));
  ASSERT_TRUE(back.Root);
  ASSERT_EQ(back.Root->Attributes.size(), 2u);
  EXPECT_EQ(back.Root->Attributes[0].NamespaceUri, "urn:c");
  EXPECT_EQ(back.Root->Attributes[1].Value, "<\"\xD0\x96>");
  EXPECT_EQ(back.Root->ChildElements().front()->Content().substr(0, 14), "1 < 2 && 3 > 2");
  EXPECT_EQ(back.Root->Children.at(1)->Text, "a]]>b");
}

}  // namespace
}  // namespace vorlen
