#include "soap/XmlDocument.h"

#include <libxml/chvalid.h>
#include <libxml/parser.h>
#include <libxml/xmlsave.h>

#include <climits>
#include <mutex>

#include "runtime/Format.h"
#include "soap/SOAPExceptions.h"

namespace vorlen {

namespace {

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

std::string FromXml(const xmlChar* text) {
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

// libxml2's global set-up is not safe to race on.
void InitLibXml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

struct TParserCtxtDeleter {
  void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};

struct TSaveBuffer {
  xmlBuffer* Buffer = xmlBufferCreate();
  ~TSaveBuffer() {
    if (Buffer) xmlBufferFree(Buffer);
  }
};

std::string TrimLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

struct TParseGuard {
  bool DoctypeSeen = false;
  bool HasError = false;
  std::string FirstError;
};

// The first error names the real fault; later ones are mostly its consequences.
void KeepFirstError(void* ctx, xmlError* error) {
  auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
  auto* guard = static_cast<TParseGuard*>(ctxt->_private);
  if (guard->HasError || !error || error->level < XML_ERR_ERROR) return;
  guard->HasError = true;
  guard->FirstError = Format("%s (line %d)",
                             TrimLineEnd(error->message ? error->message : "").c_str(),
                             error->line);
}

// A document type declaration is where entity expansion (billion laughs) and external entities
// start; messages never need one, so parsing stops there.
void RefuseDoctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
  static_cast<TParseGuard*>(ctxt->_private)->DoctypeSeen = true;
  xmlStopParser(ctxt);
}

}  // namespace

TXmlDocPtr NewXmlDocument() {
  InitLibXml();
  TXmlDocPtr doc(xmlNewDoc(X("1.0")));
  if (!doc) throw Exception("Out of memory creating an XML document");
  return doc;
}

TXmlDocPtr ParseXml(std::string_view bytes) {
  InitLibXml();
  if (bytes.size() > static_cast<size_t>(INT_MAX)) {
    throw EDOMParseError(Format("XML document of %zu bytes is too large", bytes.size()));
  }
  std::unique_ptr<xmlParserCtxt, TParserCtxtDeleter> ctxt(xmlNewParserCtxt());
  if (!ctxt) throw EDOMParseError("Out of memory creating the XML parser");
  TParseGuard guard;
  ctxt->_private = &guard;
  ctxt->sax->internalSubset = RefuseDoctype;
  ctxt->sax->externalSubset = RefuseDoctype;
  ctxt->sax->serror = KeepFirstError;
  // No XML_PARSE_NOENT, DTDLOAD, DTDATTR or HUGE: only the predefined entities, no fetching,
  // default limits.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  TXmlDocPtr doc(xmlCtxtReadMemory(ctxt.get(), bytes.data(), static_cast<int>(bytes.size()),
                                   nullptr, nullptr, options));
  if (guard.DoctypeSeen) {
    throw EDOMParseError("Document type declarations are not accepted in SOAP messages");
  }
  if (!doc || !ctxt->wellFormed || guard.HasError) {
    if (guard.HasError) throw EDOMParseError(guard.FirstError);
    throw EDOMParseError("The XML document is not well-formed");
  }
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
  std::string text = Format("<?xml version=\"%s\"?>\n",
                            doc->version ? reinterpret_cast<const char*>(doc->version) : "1.0");
  xmlNode* root = xmlDocGetRootElement(doc);
  if (root) text += NodeXml(root);
  text += '\n';
  return text;
}

std::string NodeXml(xmlNode* node) {
  TSaveBuffer buffer;
  if (!buffer.Buffer) throw Exception("Out of memory serialising XML");
  xmlSaveCtxt* save = xmlSaveToBuffer(buffer.Buffer, "UTF-8", XML_SAVE_NO_DECL);
  if (!save) throw Exception("Cannot serialise XML");
  const long written = xmlSaveTree(save, node);
  xmlSaveClose(save);
  if (written < 0) throw Exception("Cannot serialise XML");
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
