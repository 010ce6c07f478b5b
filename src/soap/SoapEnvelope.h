// The SOAP 1.1 envelope shared by requests, responses and faults: namespaces, the skeleton every
// message starts from, and the checks every reader makes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "xml/XmlWriter.h"
#include "xml/XmlNode.h"

namespace vorlen {

extern const char* const kSoapEnvelopeNS;       // "http://schemas.xmlsoap.org/soap/envelope/"
extern const char* const kSoapEncodingNS;       // "http://schemas.xmlsoap.org/soap/encoding/"
extern const char* const kXmlSchemaNS;          // "http://www.w3.org/2001/XMLSchema"
extern const char* const kXmlSchemaInstanceNS;  // "http://www.w3.org/2001/XMLSchema-instance"

// The parts of a new envelope that writers add to.
struct TEnvelopeWriter {
  TXmlNode* Envelope;
  TXmlNode* Body;
};

extern const char* const kSoapEnvPrefix;  // "SOAP-ENV"
extern const char* const kXsiPrefix;      // "xsi"

// The declarations every envelope carries, in order: SOAP-ENV, xsd, xsi and SOAP-ENC.
const std::vector<TXmlNamespaceDecl>& EnvelopeNamespaces();
// "NS" followed by the first counter from 1 whose prefix is not taken.
std::string GeneratedPrefix(const std::function<bool(const std::string&)>& taken);
// The prefix AddNamespacedElement gives an element appended to a new envelope's Body.
std::string BodyChildPrefix();
// Writes the start of SOAP-ENV:Envelope with its declarations and of SOAP-ENV:Body, as
// StartEnvelope builds them.
void StartEnvelope(TXmlWriter& writer);

// Makes doc's document element SOAP-ENV:Envelope declaring, in this order, SOAP-ENV, xsd, xsi
// and SOAP-ENC, and appends an empty SOAP-ENV:Body.
TEnvelopeWriter StartEnvelope(TXmlDocument& doc);
// Appends to parent an element in namespace nsUri whose prefix, "NS" + counter from 1, is
// declared on the element itself; the counter skips prefixes already in scope.
TXmlNode& AddNamespacedElement(TXmlNode& parent, const std::string& localName,
                               const std::string& nsUri);
// Sets SOAP-ENV:encodingStyle to the SOAP 1.1 encoding namespace.
void SetEncodingStyle(TXmlNode& element);
// Adds prefix:localName="value" to element, the prefix being one of the envelope's.
void AddEnvelopeAttribute(TXmlNode& element, const char* prefix, const std::string& localName,
                          const std::string& value);
// Appends an element in the SOAP envelope namespace.
TXmlNode& AddSoapEnvElement(TXmlNode& parent, const std::string& localName);

// The document element, checked to be a SOAP 1.1 Envelope with child nodes; raises
// ESOAPDomConvertError with the message that tells what is wrong.
const TXmlNode& CheckEnvelope(const TXmlDocument& doc, const char* invalidMessage);

}  // namespace vorlen
