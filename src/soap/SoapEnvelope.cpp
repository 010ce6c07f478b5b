#include "soap/SoapEnvelope.h"

#include <cstring>

#include "runtime/Format.h"
#include "soap/SOAPExceptions.h"

namespace vorlen {

const char* const kSoapEnvelopeNS = "http://schemas.xmlsoap.org/soap/envelope/";
const char* const kSoapEncodingNS = "http://schemas.xmlsoap.org/soap/encoding/";
const char* const kXmlSchemaNS = "http://www.w3.org/2001/XMLSchema";
const char* const kXmlSchemaInstanceNS = "http://www.w3.org/2001/XMLSchema-instance";
const char* const kSoapEnvPrefix = "SOAP-ENV";
const char* const kXsiPrefix = "xsi";

namespace {

const char* UriOfPrefix(const char* prefix) {
  return std::strcmp(prefix, kSoapEnvPrefix) == 0 ? kSoapEnvelopeNS : kXmlSchemaInstanceNS;
}

}  // namespace

TXmlNode& AddSoapEnvElement(TXmlNode& parent, const std::string& localName) {
  TXmlNode& element = parent.AddElement(localName);
  element.Prefix = kSoapEnvPrefix;
  element.NamespaceUri = kSoapEnvelopeNS;
  return element;
}

const std::vector<TXmlNamespaceDecl>& EnvelopeNamespaces() {
  static const std::vector<TXmlNamespaceDecl> declarations{{kSoapEnvPrefix, kSoapEnvelopeNS},
                                                           {"xsd", kXmlSchemaNS},
                                                           {kXsiPrefix, kXmlSchemaInstanceNS},
                                                           {"SOAP-ENC", kSoapEncodingNS}};
  return declarations;
}

std::string GeneratedPrefix(const std::function<bool(const std::string&)>& taken) {
  for (int counter = 1;; ++counter) {
    std::string prefix = "NS" + std::to_string(counter);
    if (!taken(prefix)) return prefix;
  }
}

std::string BodyChildPrefix() {
  // In scope there: "xml" and the envelope's declarations (Body declares none).
  return GeneratedPrefix([](const std::string& prefix) {
    if (prefix == "xml") return true;
    for (const TXmlNamespaceDecl& decl : EnvelopeNamespaces())
      if (decl.Prefix == prefix) return true;
    return false;
  });
}

void StartEnvelope(TXmlWriter& writer) {
  writer.StartElement(kSoapEnvPrefix, "Envelope");
  for (const TXmlNamespaceDecl& decl : EnvelopeNamespaces())
    writer.Namespace(decl.Prefix, decl.Uri);
  writer.StartElement(kSoapEnvPrefix, "Body");
}

TEnvelopeWriter StartEnvelope(TXmlDocument& doc) {
  doc.Root = std::make_unique<TXmlNode>(TXmlNodeKind::nkElement);
  TXmlNode& envelope = *doc.Root;
  envelope.LocalName = "Envelope";
  envelope.Prefix = kSoapEnvPrefix;
  envelope.NamespaceUri = kSoapEnvelopeNS;
  envelope.Namespaces = EnvelopeNamespaces();
  return TEnvelopeWriter{&envelope, &AddSoapEnvElement(envelope, "Body")};
}

TXmlNode& AddNamespacedElement(TXmlNode& parent, const std::string& localName,
                               const std::string& nsUri) {
  TXmlNode& element = parent.AddElement(localName);
  const std::string prefix =
      GeneratedPrefix([&](const std::string& name) { return element.IsPrefixInScope(name); });
  element.Namespaces.push_back(TXmlNamespaceDecl{prefix, nsUri});
  element.Prefix = prefix;
  element.NamespaceUri = nsUri;
  return element;
}

void AddEnvelopeAttribute(TXmlNode& element, const char* prefix, const std::string& localName,
                          const std::string& value) {
  element.AddAttribute(prefix, localName, UriOfPrefix(prefix), value);
}

void SetEncodingStyle(TXmlNode& element) {
  AddEnvelopeAttribute(element, kSoapEnvPrefix, "encodingStyle", kSoapEncodingNS);
}

const TXmlNode& CheckEnvelope(const TXmlDocument& doc, const char* invalidMessage) {
  if (!doc.Root) throw ESOAPDomConvertError(invalidMessage);
  const TXmlNode& root = *doc.Root;
  if (root.LocalName != "Envelope" || root.NamespaceUri != kSoapEnvelopeNS) {
    throw ESOAPDomConvertError(Format("DocumentElement %s:%s expected, %s:%s found",
                                      kSoapEnvelopeNS, "Envelope", root.NamespaceUri.c_str(),
                                      root.LocalName.c_str()));
  }
  if (root.Children.empty()) throw ESOAPDomConvertError(invalidMessage);
  return root;
}

}  // namespace vorlen
