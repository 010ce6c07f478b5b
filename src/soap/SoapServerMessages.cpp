#include "soap/SoapServerMessages.h"

#include <cstdint>

#include "runtime/Format.h"
#include "soap/SOAPExceptions.h"
#include "soap/SoapEnvelope.h"
#include "soap/XmlDocument.h"

namespace vorlen {

namespace {

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

xmlNode* FirstChildElement(xmlNode* parent) {
  for (xmlNode* child = parent->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) return child;
  }
  return nullptr;
}

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
  TXmlDocPtr doc = ParseXml(ReadRest(xml));
  xmlNode* envelope = CheckEnvelope(doc.get(), "Invalid SOAP request");
  xmlNode* body = nullptr;
  for (xmlNode* child = envelope->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE || LocalName(child) != "Body") continue;
    if (body) throw ESOAPDomConvertError("Invalid SOAP request: more than one Body");
    body = child;
  }
  if (!body) throw ESOAPDomConvertError("Invalid SOAP request: no Body");
  xmlNode* operation = FirstChildElement(body);
  if (!operation) throw ESOAPDomConvertError("Invalid SOAP request: no operation element");

  TSoapRequest request;
  request.Operation = LocalName(operation);
  request.Namespace = NamespaceUri(operation);
  size_t wanted = SIZE_MAX;
  if (intf != nullptr) {
    const int method = IndexOfMethod(*intf, request.Operation);
    wanted = method < 0 ? 0 : intf->MDA[static_cast<size_t>(method)].Params.size();
  }
  for (xmlNode* child = operation->children; child && request.Params.size() < wanted;
       child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    TSoapRequestParam param;
    param.Name = LocalName(child);
    param.Text = NodeText(child);
    FindAttribute(child, "href", param.Href);
    xmlChar* nil = xmlGetNsProp(child, X("nil"), X(kXmlSchemaInstanceNS));
    if (nil) {
      const std::string value = reinterpret_cast<const char*>(nil);
      param.Nil = value == "1" || SameText(value, "true");
      xmlFree(nil);
    }
    request.Params.push_back(std::move(param));
  }
  return request;
}

std::string WriteSoapResponse(const std::string& operation, const std::string& nsUri,
                              const std::string& xsdType, const std::string& value) {
  CheckText(value, "The response value");
  TXmlDocPtr doc = NewXmlDocument();
  const TEnvelopeWriter writer = StartEnvelope(doc.get());
  xmlNode* response = AddNamespacedElement(writer.Body, operation + "Response", nsUri);
  SetEncodingStyle(writer, writer.Body);
  xmlNode* result = AddPlainChild(response, "return");
  xmlNewNsProp(result, writer.Xsi, X("type"), X(xsdType.c_str()));
  AddText(result, value);
  return SerializeXmlDocument(doc.get());
}

std::string WriteSoapFault(const std::string& faultCode, const std::string& faultString) {
  CheckText(faultCode, "The fault code");
  CheckText(faultString, "The fault string");
  TXmlDocPtr doc = NewXmlDocument();
  const TEnvelopeWriter writer = StartEnvelope(doc.get());
  xmlNode* fault = AddPlainChild(writer.Body, "Fault");
  xmlSetNs(fault, writer.SoapEnv);
  AddText(AddPlainChild(fault, "faultcode"), faultCode);
  AddText(AddPlainChild(fault, "faultstring"), faultString);
  return SerializeXmlDocument(doc.get());
}

}  // namespace vorlen
