#include "soap/SoapEnvelope.h"

#include "runtime/Format.h"
#include "soap/SOAPExceptions.h"
#include "soap/XmlDocument.h"

namespace vorlen {

const char* const kSoapEnvelopeNS = "http://schemas.xmlsoap.org/soap/envelope/";
const char* const kSoapEncodingNS = "http://schemas.xmlsoap.org/soap/encoding/";
const char* const kXmlSchemaNS = "http://www.w3.org/2001/XMLSchema";
const char* const kXmlSchemaInstanceNS = "http://www.w3.org/2001/XMLSchema-instance";

namespace {

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

xmlNs* Declare(xmlNode* node, const char* uri, const char* prefix) {
  xmlNs* ns = xmlNewNs(node, X(uri), X(prefix));
  if (!ns) throw Exception(Format("Cannot declare the XML prefix %s", prefix));
  return ns;
}

}  // namespace

TEnvelopeWriter StartEnvelope(xmlDoc* doc) {
  TEnvelopeWriter writer{};
  writer.Envelope = xmlNewDocNode(doc, nullptr, X("Envelope"), nullptr);
  if (!writer.Envelope) throw Exception("Out of memory building XML");
  xmlDocSetRootElement(doc, writer.Envelope);
  writer.SoapEnv = Declare(writer.Envelope, kSoapEnvelopeNS, "SOAP-ENV");
  xmlSetNs(writer.Envelope, writer.SoapEnv);
  Declare(writer.Envelope, kXmlSchemaNS, "xsd");
  writer.Xsi = Declare(writer.Envelope, kXmlSchemaInstanceNS, "xsi");
  Declare(writer.Envelope, kSoapEncodingNS, "SOAP-ENC");
  writer.Body = AddPlainChild(writer.Envelope, "Body");
  xmlSetNs(writer.Body, writer.SoapEnv);
  return writer;
}

xmlNode* AddNamespacedElement(xmlNode* parent, const std::string& localName,
                              const std::string& nsUri) {
  xmlNode* element = AddPlainChild(parent, localName.c_str());
  std::string prefix;
  for (int counter = 1;; ++counter) {
    prefix = Format("NS%d", counter);
    if (!xmlSearchNs(element->doc, element, X(prefix.c_str()))) break;
  }
  xmlSetNs(element, Declare(element, nsUri.c_str(), prefix.c_str()));
  return element;
}

void SetEncodingStyle(const TEnvelopeWriter& writer, xmlNode* element) {
  if (!xmlNewNsProp(element, writer.SoapEnv, X("encodingStyle"), X(kSoapEncodingNS))) {
    throw Exception("Out of memory building XML");
  }
}

xmlNode* CheckEnvelope(xmlDoc* doc, const char* invalidMessage) {
  xmlNode* root = xmlDocGetRootElement(doc);
  if (!root) throw ESOAPDomConvertError(invalidMessage);
  const std::string name = LocalName(root);
  const std::string uri = NamespaceUri(root);
  if (name != "Envelope" || uri != kSoapEnvelopeNS) {
    throw ESOAPDomConvertError(Format("DocumentElement %s:%s expected, %s:%s found",
                                      kSoapEnvelopeNS, "Envelope", uri.c_str(), name.c_str()));
  }
  if (!root->children) throw ESOAPDomConvertError(invalidMessage);
  return root;
}

}  // namespace vorlen
