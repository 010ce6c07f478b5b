#include "soap/SoapServerMessages.h"

#include <cstdint>

#include "runtime/Format.h"
#include "soap/SOAPExceptions.h"
#include "soap/SoapEnvelope.h"
#include "xml/XmlWriter.h"
#include "xml/XmlParser.h"

namespace vorlen {

namespace {

void CheckText(const std::string& text, const char* what) {
  if (!IsXmlText(text)) {
    throw ESOAPDomConvertError(
        Format("%s is not valid UTF-8 text or holds characters that XML cannot carry", what));
  }
}

}  // namespace

const TSoapRequestParam* TSoapRequest::Find(const std::string& name) const {
  for (const TSoapRequestParam& param : Params) {
    if (param.Name == name) return &param;
  }
  return nullptr;
}

TSoapRequest ReadSoapRequest(TStream& xml, const TIntfMetaData* intf) {
  const TXmlDocument doc = ParseXml(ReadRest(xml));
  const TXmlNode& envelope = CheckEnvelope(doc, "Invalid SOAP request");
  const TXmlNode* body = nullptr;
  for (const TXmlNode* child : envelope.ChildElements()) {
    if (child->LocalName != "Body") continue;
    if (body) throw ESOAPDomConvertError("Invalid SOAP request: more than one Body");
    body = child;
  }
  if (!body) throw ESOAPDomConvertError("Invalid SOAP request: no Body");
  const std::vector<const TXmlNode*> bodyElements = body->ChildElements();
  if (bodyElements.empty())
    throw ESOAPDomConvertError("Invalid SOAP request: no operation element");
  const TXmlNode& operation = *bodyElements.front();

  TSoapRequest request;
  request.Operation = operation.LocalName;
  request.Namespace = operation.NamespaceUri;
  size_t wanted = SIZE_MAX;
  if (intf != nullptr) {
    const int method = IndexOfMethod(*intf, request.Operation);
    wanted = method < 0 ? 0 : intf->MDA[static_cast<size_t>(method)].Params.size();
  }
  for (const auto& child : operation.Children) {
    if (request.Params.size() >= wanted) break;
    if (!child->IsElement()) continue;
    TSoapRequestParam param;
    param.Name = child->LocalName;
    param.Text = child->Content();
    if (const TXmlAttribute* href = child->FindAttribute("href")) param.Href = href->Value;
    if (const TXmlAttribute* nil = child->FindAttribute("nil", kXmlSchemaInstanceNS)) {
      param.Nil = nil->Value == "1" || SameText(nil->Value, "true");
    }
    request.Params.push_back(std::move(param));
  }
  return request;
}

std::string WriteSoapResponse(const std::string& operation, const std::string& nsUri,
                              const std::string& xsdType, const std::string& value) {
  CheckText(value, "The response value");
  TXmlDocument doc;
  const TEnvelopeWriter writer = StartEnvelope(doc);
  TXmlNode& response = AddNamespacedElement(*writer.Body, operation + "Response", nsUri);
  SetEncodingStyle(*writer.Body);
  TXmlNode& result = response.AddElement("return");
  AddEnvelopeAttribute(result, kXsiPrefix, "type", xsdType);
  result.AddText(value);
  return SerializeXmlDocument(doc);
}

std::string WriteSoapFault(const std::string& faultCode, const std::string& faultString) {
  CheckText(faultCode, "The fault code");
  CheckText(faultString, "The fault string");
  TXmlDocument doc;
  const TEnvelopeWriter writer = StartEnvelope(doc);
  TXmlNode& fault = AddSoapEnvElement(*writer.Body, "Fault");
  fault.AddElement("faultcode").AddText(faultCode);
  fault.AddElement("faultstring").AddText(faultString);
  return SerializeXmlDocument(doc);
}

}  // namespace vorlen
