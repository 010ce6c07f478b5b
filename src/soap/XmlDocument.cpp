#include "soap/XmlDocument.h"

#include <libxml/chvalid.h>

#include "soap/SOAPExceptions.h"

namespace vorlen {

namespace {

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

std::string FromXml(const xmlChar* text) {
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

struct TSaveBuffer {
  xmlBuffer* Buffer = xmlBufferCreate();
  ~TSaveBuffer() {
    if (Buffer) xmlBufferFree(Buffer);
  }
};

}  // namespace

TXmlDocPtr NewXmlDocument() {
  InitLibXml();
  TXmlDocPtr doc(xmlNewDoc(X("1.0")));
  if (!doc) throw Exception("Out of memory creating an XML document");
  return doc;
}

std::string ReadRest(TStream& stream) {
  std::string bytes;
  char block[16384];
  for (;;) {
    const int64_t got = stream.Read(block, sizeof block);
    if (got <= 0) break;
    bytes.append(block, static_cast<size_t>(got));
  }
  return bytes;
}

std::string SerializeXmlDocument(xmlDoc* doc) {
  // Saving with an explicit UTF-8 encoding keeps non-ASCII text as itself (without one libxml2
  // writes character references), but it would also name the encoding in the declaration; the
  // declaration is therefore written here, from the document's version alone.
  std::string text = "<?xml version=\"";
  text += doc->version ? reinterpret_cast<const char*>(doc->version) : "1.0";
  text += "\"?>\n";
  xmlNode* root = xmlDocGetRootElement(doc);
  if (root) text += NodeXml(root);
  text += '\n';
  return text;
}

std::string NodeXml(xmlNode* node) {
  TSaveBuffer buffer;
  if (!buffer.Buffer) throw Exception("Out of memory serialising XML");
  // xmlNodeDump writes UTF-8 as itself, like a save context with that encoding, without
  // setting up an encoder and a save context for every node.
  if (xmlNodeDump(buffer.Buffer, node->doc, node, 0, 0) < 0)
    throw Exception("Cannot serialise XML");
  return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.Buffer)),
                     static_cast<size_t>(xmlBufferLength(buffer.Buffer)));
}

std::string NodeText(xmlNode* node) {
  xmlChar* content = xmlNodeGetContent(node);
  std::string text = FromXml(content);
  xmlFree(content);
  return text;
}

bool FindAttribute(xmlNode* node, const char* name, std::string& value) {
  for (xmlAttr* attr = node->properties; attr; attr = attr->next) {
    if (xmlStrcmp(attr->name, X(name)) == 0) {
      xmlChar* text = xmlNodeListGetString(node->doc, attr->children, 1);
      value = FromXml(text);
      xmlFree(text);
      return true;
    }
  }
  return false;
}

xmlNode* AddPlainChild(xmlNode* parent, const char* name) {
  xmlNode* child = xmlNewDocNode(parent->doc, nullptr, X(name), nullptr);
  if (!child) throw Exception("Out of memory building XML");
  xmlAddChild(parent, child);
  return child;
}

void AddText(xmlNode* element, const std::string& text) {
  if (text.empty()) return;
  xmlNode* node =
      xmlNewDocTextLen(element->doc, X(text.c_str()), static_cast<int>(text.size()));
  if (!node) throw Exception("Out of memory building XML");
  xmlAddChild(element, node);
}

bool IsXmlText(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t left = text.size() - pos;
    int length = left > 4 ? 4 : static_cast<int>(left);
    const int code = xmlGetUTF8Char(X(text.data() + pos), &length);
    if (code < 0 || length <= 0 || !xmlIsCharQ(static_cast<unsigned int>(code))) return false;
    pos += static_cast<size_t>(length);
  }
  return true;
}

std::string LocalName(const xmlNode* node) { return FromXml(node->name); }

std::string NamespaceUri(const xmlNode* node) {
  return node->ns ? FromXml(node->ns->href) : std::string();
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char ca = a[i], cb = b[i];
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca - 'A' + 'a');
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<char>(cb - 'A' + 'a');
    if (ca != cb) return false;
  }
  return true;
}

}  // namespace vorlen
