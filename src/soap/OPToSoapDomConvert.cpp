#include "soap/OPToSoapDomConvert.h"

#include <cstdint>
#include <map>
#include <stdexcept>

#include "runtime/Format.h"
#include "mime/AttachmentQueue.h"
#include "mime/ContentId.h"
#include "soap/SOAPExceptions.h"
#include "soap/SoapEnvelope.h"
#include "xml/XmlWriter.h"

namespace vorlen {

namespace {

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
using TRefMap = std::map<std::string, const TXmlNode*>;

void CollectIds(const TXmlNode& element, TRefMap& refs) {
  if (const TXmlAttribute* id = element.FindAttribute("id")) {
    refs.emplace(ToLower("#" + id->Value), &element);
  }
  for (const TXmlNode* child : element.ChildElements()) CollectIds(*child, refs);
}

// The element's text when it holds only text, else the XML of its child nodes.
std::string ValueText(const TXmlNode& element) {
  bool onlyText = true;
  for (const auto& child : element.Children) {
    if (!child->IsText()) {
      onlyText = false;
      break;
    }
  }
  if (onlyText) return element.Content();
  std::string text;
  for (const auto& child : element.Children) text += NodeXml(*child);
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

bool MustUnderstand(const TXmlNode& entry) {
  for (const TXmlAttribute& attr : entry.Attributes) {
    if (attr.LocalName != "mustUnderstand") continue;
    if (attr.Value == "1" || SameText(attr.Value, "true")) return true;
  }
  return false;
}

[[noreturn]] void RaiseFault(const TXmlNode& fault) {
  const TXmlNode* code = nullptr;
  const TXmlNode* text = nullptr;
  const TXmlNode* detail = nullptr;
  const TXmlNode* actor = nullptr;
  for (const TXmlNode* child : fault.ChildElements()) {
    const std::string& name = child->LocalName;
    if (SameText(name, "faultcode"))
      code = child;
    else if (SameText(name, "faultstring"))
      text = child;
    else if (SameText(name, "detail"))
      detail = child;
    else if (SameText(name, "faultactor"))
      actor = child;
  }
  throw ERemotableException(
      text ? text->Content() : std::string(), code ? code->Content() : std::string(),
      actor ? actor->Content() : std::string(), detail ? NodeXml(*detail) : std::string());
}

bool HasNonBlankText(const TXmlNode& parent) {
  for (const auto& child : parent.Children) {
    if (!child->IsText()) continue;
    for (const char c : child->Text) {
      if (!IsBlankOrControl(c)) return true;
    }
  }
  return false;
}

ESOAPDomConvertError NoReturnElement(const TXmlNode& received) {
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
    throw ESOAPDomConvertError(Format(
        "Message encoding %s is not supported; requests are sent as UTF-8", Encoding.c_str()));
  }
  const bool typed = !HasOption(Options, TSOAPConvertOption::soSendUntyped);

  try {
    // Written straight as text, byte for byte what the tree of these elements would give: the
    // request is sent at once and never needed as a tree.
    TXmlWriter xml;
    StartEnvelope(xml);
    xml.Attribute(kSoapEnvPrefix, "encodingStyle", kSoapEncodingNS);
    const std::string prefix = BodyChildPrefix();
    xml.StartElement(prefix, method.Name);
    xml.Namespace(prefix, intf.Namespace);

    for (size_t i = 0; i < args.size(); ++i) {
      const TParamInfo& param = method.Params[i];
      const TParamValue& arg = args[i];
      const auto mismatch = [&] {
        return ESOAPDomConvertError(Format("Argument %s of %s must be %s value", param.Name.c_str(),
                                           method.Name.c_str(), KindName(param.Type)));
      };
      xml.StartElement(std::string(), param.Name);
      if (param.Type == TParamType::ptAttachment) {
        if (!std::holds_alternative<TSOAPAttachment*>(arg)) throw mismatch();
        TSOAPAttachment* attachment = std::get<TSOAPAttachment*>(arg);
        if (!attachment) {
          xml.Attribute(kXsiPrefix, "nil", "true");
        } else {
          const std::string contentId = NewContentId();
          xml.Attribute(std::string(), "href", "cid:" + contentId);
          AddAttachment(FAttachments, *attachment, contentId);
        }
        xml.EndElement();
        continue;
      }
      std::string text;
      switch (param.Type) {
        case TParamType::ptString:
          if (!std::holds_alternative<std::string>(arg)) throw mismatch();
          if (!IsXmlText(std::get<std::string>(arg))) {
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
      if (typed) xml.Attribute(kXsiPrefix, "type", XsdTypeName(param.Type));
      xml.Text(param.Type == TParamType::ptString ? std::get<std::string>(arg) : text);
      xml.EndElement();
    }
    return std::make_unique<TMemoryStream>(xml.Finish());
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

  const TXmlDocument doc = FParser.Parse(ReadRest(response));
  const TXmlNode& envelope = CheckEnvelope(doc, "Invalid SOAP Response");

  const TXmlNode* header = nullptr;
  const TXmlNode* body = nullptr;
  for (const TXmlNode* child : envelope.ChildElements()) {
    const std::string& name = child->LocalName;
    if (name == "Header") {
      if (header) throw ESOAPDomConvertError("Invalid SOAP response");
      header = child;
      for (const TXmlNode* entry : header->ChildElements()) {
        // No header types are known to this client, so every entry is unrecognised.
        if (MustUnderstand(*entry)) {
          throw ERemotableException(
              Format("Soap header %s with attribute 'mustUnderstand' set to true was not handled",
                     entry->LocalName.c_str()),
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

  const std::vector<const TXmlNode*> bodyElements = body->ChildElements();
  if (bodyElements.empty()) {
    // Only an empty Body means "no result"; text such as an error page pasted into the Body
    // would otherwise come back as an empty session or a plain false.
    if (HasNonBlankText(*body)) throw NoReturnElement(*body);
    return EmptyResult(resultType);
  }
  const TXmlNode& responseElement = *bodyElements.front();
  if (responseElement.LocalName == "Fault") RaiseFault(responseElement);

  const std::vector<const TXmlNode*> children = responseElement.ChildElements();
  const TXmlNode* returnElement = nullptr;
  if (children.size() == 1) {
    returnElement = children.front();
  } else {
    for (const TXmlNode* child : children) {
      const std::string& name = child->LocalName;
      if (SameText(name, "Result") || SameText(name, "Return")) {
        returnElement = child;
        break;
      }
    }
  }
  if (!returnElement) throw NoReturnElement(responseElement);

  const TXmlNode* valueElement = returnElement;
  if (const TXmlAttribute* href = returnElement->FindAttribute("href")) {
    // The reference map is made only for an answer that refers to another element.
    TRefMap refs;
    if (doc.Root) CollectIds(*doc.Root, refs);
    auto found = refs.find(ToLower(href->Value));
    if (found != refs.end()) valueElement = found->second;
  }
  const std::string text = ValueText(*valueElement);
  if (resultType == TParamType::ptBoolean) return ToBoolean(text);
  if (resultType == TParamType::ptString) return text;
  if (resultType == TParamType::ptInteger) return ToInteger(text);
  throw ESOAPDomConvertError(Format("Results of kind %s cannot be read", KindName(resultType)));
}

}  // namespace vorlen
