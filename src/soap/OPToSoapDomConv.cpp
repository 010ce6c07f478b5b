#include "soap/OPToSoapDomConv.h"

#include <cstdint>
#include <map>
#include <stdexcept>

#include "runtime/Format.h"
#include "soap/AttachmentQueue.h"
#include "soap/ContentId.h"
#include "soap/SOAPExceptions.h"
#include "soap/SoapEnvelope.h"
#include "soap/XmlDocument.h"

namespace vorlen {

namespace {

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

const char* XsdTypeName(TParamType type) {
  switch (type) {
    case TParamType::ptString:
      return "xsd:string";
    case TParamType::ptInteger:
      return "xsd:int";
    case TParamType::ptBoolean:
      return "xsd:boolean";
    case TParamType::ptAttachment:
      break;
  }
  return "";
}

const char* KindName(TParamType type) {
  switch (type) {
    case TParamType::ptString:
      return "a text";
    case TParamType::ptInteger:
      return "a 32-bit integer";
    case TParamType::ptBoolean:
      return "a Boolean";
    case TParamType::ptAttachment:
      return "an attachment";
  }
  return "";
}

std::string ToLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// "#" + id of every element with an id attribute, lower case: hrefs are matched ignoring case.
using TRefMap = std::map<std::string, xmlNode*>;

void CollectIds(xmlNode* node, TRefMap& refs) {
  for (; node; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    std::string id;
    if (FindAttribute(node, "id", id)) refs.emplace(ToLower("#" + id), node);
    CollectIds(node->children, refs);
  }
}

std::vector<xmlNode*> ChildElements(xmlNode* parent) {
  std::vector<xmlNode*> elements;
  for (xmlNode* child = parent->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) elements.push_back(child);
  }
  return elements;
}

// The element's text when it holds only text, else the XML of its child nodes.
std::string ValueText(xmlNode* element) {
  bool onlyText = true;
  for (xmlNode* child = element->children; child; child = child->next) {
    if (child->type != XML_TEXT_NODE && child->type != XML_CDATA_SECTION_NODE) {
      onlyText = false;
      break;
    }
  }
  if (onlyText) return NodeText(element);
  std::string text;
  for (xmlNode* child = element->children; child; child = child->next) text += NodeXml(child);
  return text;
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20; }

bool ToBoolean(const std::string& text) {
  if (text.empty()) return false;
  size_t first = 0, last = text.size();
  while (first < last && IsBlankOrControl(text[first])) ++first;
  while (last > first && IsBlankOrControl(text[last - 1])) --last;
  const std::string trimmed = text.substr(first, last - first);
  if (SameText(trimmed, "true") || trimmed == "1") return true;
  if (SameText(trimmed, "false") || trimmed == "0") return false;
  // Guessing would turn an unreadable answer into a silent false (or true).
  throw ESOAPDomConvertError(Format("'%s' is not a valid Boolean value", text.c_str()));
}

int32_t ToInteger(const std::string& text) {
  size_t first = 0, last = text.size();
  while (first < last && IsBlankOrControl(text[first])) ++first;
  while (last > first && IsBlankOrControl(text[last - 1])) --last;
  const std::string trimmed = text.substr(first, last - first);
  size_t used = 0;
  long long value = 0;
  try {
    value = std::stoll(trimmed, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (trimmed.empty() || used != trimmed.size() || value < INT32_MIN || value > INT32_MAX) {
    throw ESOAPDomConvertError(Format("'%s' is not a valid integer value", text.c_str()));
  }
  return static_cast<int32_t>(value);
}

bool MustUnderstand(xmlNode* entry) {
  for (xmlAttr* attr = entry->properties; attr; attr = attr->next) {
    if (xmlStrcmp(attr->name, X("mustUnderstand")) != 0) continue;
    xmlChar* raw = xmlNodeListGetString(entry->doc, attr->children, 1);
    const std::string value = raw ? reinterpret_cast<const char*>(raw) : "";
    xmlFree(raw);
    if (value == "1" || SameText(value, "true")) return true;
  }
  return false;
}

[[noreturn]] void RaiseFault(xmlNode* fault) {
  xmlNode* code = nullptr;
  xmlNode* text = nullptr;
  xmlNode* detail = nullptr;
  xmlNode* actor = nullptr;
  for (xmlNode* child = fault->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    const std::string name = LocalName(child);
    if (SameText(name, "faultcode")) code = child;
    else if (SameText(name, "faultstring")) text = child;
    else if (SameText(name, "detail")) detail = child;
    else if (SameText(name, "faultactor")) actor = child;
  }
  throw ERemotableException(text ? NodeText(text) : std::string(),
                            code ? NodeText(code) : std::string(),
                            actor ? NodeText(actor) : std::string(),
                            detail ? NodeXml(detail) : std::string());
}

bool HasNonBlankText(xmlNode* parent) {
  for (xmlNode* child = parent->children; child; child = child->next) {
    if (child->type != XML_TEXT_NODE && child->type != XML_CDATA_SECTION_NODE) continue;
    for (const xmlChar* c = child->content; c && *c; ++c) {
      if (!IsBlankOrControl(static_cast<char>(*c))) return true;
    }
  }
  return false;
}

ESOAPDomConvertError NoReturnElement(xmlNode* received) {
  return ESOAPDomConvertError(
      Format("SOAP Response Packet: element matching function return not found, received "
             "\"%s\"",
             NodeXml(received).c_str()));
}

TParamValue EmptyResult(TParamType type) {
  if (type == TParamType::ptBoolean) return false;
  return std::string();
}

}  // namespace

std::unique_ptr<TMemoryStream> TOPToSoapDomConvert::InvContextToMsg(
    const TIntfMetaData& intf, int methIndex, const std::vector<TParamValue>& args) {
  FAttachments.clear();
  if (methIndex < 0 || methIndex >= static_cast<int>(intf.MDA.size())) {
    throw ESOAPDomConvertError(
        Format("Interface %s has no operation at index %d", intf.Name.c_str(), methIndex));
  }
  const TIntfMethEntry& method = intf.MDA[static_cast<size_t>(methIndex)];
  if (args.size() != method.Params.size()) {
    throw ESOAPDomConvertError(Format("%s expects %zu argument(s), %zu given", method.Name.c_str(),
                                      method.Params.size(), args.size()));
  }
  if (HasOption(Options, TSOAPConvertOption::soDocument) ||
      HasOption(Options, TSOAPConvertOption::soLiteralParams)) {
    throw ESOAPDomConvertError("Document/literal messages are not supported");
  }
  if (!Encoding.empty() && !SameText(Encoding, "utf-8")) {
    throw ESOAPDomConvertError(
        Format("Message encoding %s is not supported; requests are sent as UTF-8",
               Encoding.c_str()));
  }
  const bool typed = !HasOption(Options, TSOAPConvertOption::soSendUntyped);

  try {
    TXmlDocPtr doc = NewXmlDocument();
    const TEnvelopeWriter writer = StartEnvelope(doc.get());
    xmlNode* operation = AddNamespacedElement(writer.Body, method.Name, intf.Namespace);
    SetEncodingStyle(writer, writer.Body);

    for (size_t i = 0; i < args.size(); ++i) {
      const TParamInfo& param = method.Params[i];
      const TParamValue& arg = args[i];
      const auto mismatch = [&] {
        return ESOAPDomConvertError(Format("Argument %s of %s must be %s value",
                                           param.Name.c_str(), method.Name.c_str(),
                                           KindName(param.Type)));
      };
      xmlNode* element = AddPlainChild(operation, param.Name.c_str());
      if (param.Type == TParamType::ptAttachment) {
        if (!std::holds_alternative<TSOAPAttachment*>(arg)) throw mismatch();
        TSOAPAttachment* attachment = std::get<TSOAPAttachment*>(arg);
        if (!attachment) {
          xmlNewNsProp(element, writer.Xsi, X("nil"), X("true"));
          continue;
        }
        const std::string contentId = NewContentId();
        xmlNewProp(element, X("href"), X(("cid:" + contentId).c_str()));
        AddAttachment(FAttachments, *attachment, contentId);
        continue;
      }
      std::string text;
      switch (param.Type) {
        case TParamType::ptString:
          if (!std::holds_alternative<std::string>(arg)) throw mismatch();
          text = std::get<std::string>(arg);
          if (!IsXmlText(text)) {
            throw ESOAPDomConvertError(
                Format("Argument %s of %s is not valid UTF-8 text or holds characters that "
                       "XML cannot carry",
                       param.Name.c_str(), method.Name.c_str()));
          }
          break;
        case TParamType::ptInteger:
          if (!std::holds_alternative<int32_t>(arg)) throw mismatch();
          text = std::to_string(std::get<int32_t>(arg));
          break;
        case TParamType::ptBoolean:
          if (!std::holds_alternative<bool>(arg)) throw mismatch();
          text = std::get<bool>(arg) ? "true" : "false";
          break;
        case TParamType::ptAttachment:
          break;
      }
      if (typed) xmlNewNsProp(element, writer.Xsi, X("type"), X(XsdTypeName(param.Type)));
      AddText(element, text);
    }

    auto stream = std::make_unique<TMemoryStream>();
    const std::string bytes = SerializeXmlDocument(doc.get());
    stream->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    stream->SetPosition(0);
    return stream;
  } catch (...) {
    // A request that was not written must not leave attachments queued for sending.
    FAttachments.clear();
    throw;
  }
}

TParamValue TOPToSoapDomConvert::ProcessResponse(TStream& response, const TIntfMetaData& intf,
                                                 int methIndex) {
  if (methIndex < 0 || methIndex >= static_cast<int>(intf.MDA.size())) {
    throw ESOAPDomConvertError(
        Format("Interface %s has no operation at index %d", intf.Name.c_str(), methIndex));
  }
  const TParamType resultType = intf.MDA[static_cast<size_t>(methIndex)].ResultType;

  TXmlDocPtr doc = FParser.Parse(ReadRest(response));
  TRefMap refs;
  CollectIds(xmlDocGetRootElement(doc.get()), refs);
  xmlNode* envelope = CheckEnvelope(doc.get(), "Invalid SOAP Response");

  xmlNode* header = nullptr;
  xmlNode* body = nullptr;
  for (xmlNode* child = envelope->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    const std::string name = LocalName(child);
    if (name == "Header") {
      if (header) throw ESOAPDomConvertError("Invalid SOAP response");
      header = child;
      for (xmlNode* entry : ChildElements(header)) {
        // No header types are known to this client, so every entry is unrecognised.
        if (MustUnderstand(entry)) {
          throw ERemotableException(
              Format("Soap header %s with attribute 'mustUnderstand' set to true was not handled",
                     LocalName(entry).c_str()),
              "MustUnderstand");
        }
      }
    } else if (name == "Body") {
      if (body) throw ESOAPDomConvertError("Invalid SOAP response");
      body = child;
    }
  }
  // An Envelope without Body carries no answer at all; reading it as an empty result would
  // report an unknown outcome as a plain false.
  if (!body) throw ESOAPDomConvertError("Invalid SOAP Response");

  const std::vector<xmlNode*> bodyElements = ChildElements(body);
  if (bodyElements.empty()) {
    // Only an empty Body means "no result"; text such as an error page pasted into the Body
    // would otherwise come back as an empty session or a plain false.
    if (HasNonBlankText(body)) throw NoReturnElement(body);
    return EmptyResult(resultType);
  }
  xmlNode* responseElement = bodyElements.front();
  if (LocalName(responseElement) == "Fault") RaiseFault(responseElement);

  const std::vector<xmlNode*> children = ChildElements(responseElement);
  xmlNode* returnElement = nullptr;
  if (children.size() == 1) {
    returnElement = children.front();
  } else {
    for (xmlNode* child : children) {
      const std::string name = LocalName(child);
      if (SameText(name, "Result") || SameText(name, "Return")) {
        returnElement = child;
        break;
      }
    }
  }
  if (!returnElement) throw NoReturnElement(responseElement);

  xmlNode* valueElement = returnElement;
  std::string href;
  if (FindAttribute(returnElement, "href", href)) {
    auto found = refs.find(ToLower(href));
    if (found != refs.end()) valueElement = found->second;
  }
  const std::string text = ValueText(valueElement);
  if (resultType == TParamType::ptBoolean) return ToBoolean(text);
  if (resultType == TParamType::ptString) return text;
  if (resultType == TParamType::ptInteger) return ToInteger(text);
  throw ESOAPDomConvertError(Format("Results of kind %s cannot be read", KindName(resultType)));
}

}  // namespace vorlen
