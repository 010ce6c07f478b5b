// The parser of the POSIX build: libxml2, read into the SOAP layer's own model.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <climits>
#include <mutex>
#include <string>

#include "runtime/Format.h"
#include "soap/SOAPExceptions.h"
#include "soap/XmlParser.h"

namespace vorlen {

namespace {

// Names a reused parser context may hold before it is replaced by a fresh one.
constexpr int kMaxKeptNames = 4096;

std::string FromXml(const xmlChar* text) {
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

std::string TrimLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// libxml2's global set-up, once per process: it is not safe to race on.
void InitLibXml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

struct TXmlDocDeleter {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using TLibXmlDocPtr = std::unique_ptr<xmlDoc, TXmlDocDeleter>;

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
  guard->FirstError = Format(
      "%s (line %d)", TrimLineEnd(error->message ? error->message : "").c_str(), error->line);
}

// A document type declaration is where entity expansion (billion laughs) and external entities
// start; messages never need one, so parsing stops there.
void RefuseDoctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
  static_cast<TParseGuard*>(ctxt->_private)->DoctypeSeen = true;
  xmlStopParser(ctxt);
}

std::unique_ptr<TXmlNode> ConvertElement(const xmlNode* source) {
  auto element = std::make_unique<TXmlNode>(TXmlNodeKind::nkElement);
  element->LocalName = FromXml(source->name);
  if (source->ns) {
    element->Prefix = FromXml(source->ns->prefix);
    element->NamespaceUri = FromXml(source->ns->href);
  }
  for (const xmlNs* ns = source->nsDef; ns; ns = ns->next) {
    element->Namespaces.push_back(TXmlNamespaceDecl{FromXml(ns->prefix), FromXml(ns->href)});
  }
  for (const xmlAttr* attr = source->properties; attr; attr = attr->next) {
    xmlChar* value = xmlNodeListGetString(source->doc, attr->children, 1);
    element->AddAttribute(attr->ns ? FromXml(attr->ns->prefix) : std::string(), FromXml(attr->name),
                          attr->ns ? FromXml(attr->ns->href) : std::string(), FromXml(value));
    xmlFree(value);
  }
  for (const xmlNode* child = source->children; child; child = child->next) {
    TXmlNodeKind kind;
    switch (child->type) {
      case XML_ELEMENT_NODE:
        element->Append(ConvertElement(child));
        continue;
      case XML_TEXT_NODE:
        kind = TXmlNodeKind::nkText;
        break;
      case XML_CDATA_SECTION_NODE:
        kind = TXmlNodeKind::nkCData;
        break;
      case XML_COMMENT_NODE:
        kind = TXmlNodeKind::nkComment;
        break;
      case XML_PI_NODE:
        kind = TXmlNodeKind::nkInstruction;
        break;
      default:
        continue;
    }
    auto node = std::make_unique<TXmlNode>(kind);
    if (kind == TXmlNodeKind::nkInstruction) node->LocalName = FromXml(child->name);
    node->Text = FromXml(child->content);
    element->Append(std::move(node));
  }
  return element;
}

}  // namespace

struct TXmlParser::TState {
  xmlParserCtxt* Context = nullptr;
  ~TState() {
    if (Context) xmlFreeParserCtxt(Context);
  }
};

void TXmlParser::TStateDeleter::operator()(TState* state) const { delete state; }

TXmlParser::TXmlParser() = default;
TXmlParser::~TXmlParser() = default;
TXmlParser::TXmlParser(const TXmlParser&) {}
TXmlParser& TXmlParser::operator=(const TXmlParser&) { return *this; }

size_t TXmlParser::KeptNames() const {
  return FState ? static_cast<size_t>(xmlDictSize(FState->Context->dict)) : 0;
}

TXmlDocument ParseXml(std::string_view bytes) { return TXmlParser().Parse(bytes); }

TXmlDocument TXmlParser::Parse(std::string_view bytes) {
  InitLibXml();
  if (bytes.size() > static_cast<size_t>(INT_MAX)) {
    throw EDOMParseError(Format("XML document of %zu bytes is too large", bytes.size()));
  }
  if (!FState) {
    std::unique_ptr<TState, TStateDeleter> state(new TState);
    state->Context = xmlNewParserCtxt();
    if (!state->Context) throw EDOMParseError("Out of memory creating the XML parser");
    FState = std::move(state);
  }
  xmlParserCtxt* ctxt = FState->Context;
  // xmlCtxtReadMemory resets the context's parse state, not its handlers or _private: they are
  // set again for every document so nothing from an earlier parse can carry over.
  TParseGuard guard;
  ctxt->_private = &guard;
  ctxt->sax->internalSubset = RefuseDoctype;
  ctxt->sax->externalSubset = RefuseDoctype;
  ctxt->sax->serror = KeepFirstError;
  // No XML_PARSE_NOENT, DTDLOAD, DTDATTR or HUGE: only the predefined entities, no fetching,
  // default limits.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  TLibXmlDocPtr doc(xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                      nullptr, options));
  ctxt->_private = nullptr;
  const bool wellFormed = ctxt->wellFormed != 0;
  // The context's name dictionary keeps every name it has seen; a peer sending ever new names
  // must not make it grow without end, so a large one is dropped with its context.
  if (xmlDictSize(ctxt->dict) > kMaxKeptNames) FState.reset();
  if (guard.DoctypeSeen) {
    throw EDOMParseError("Document type declarations are not accepted in SOAP messages");
  }
  if (!doc || !wellFormed || guard.HasError) {
    if (guard.HasError) throw EDOMParseError(guard.FirstError);
    throw EDOMParseError("The XML document is not well-formed");
  }
  TXmlDocument result;
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (root) result.Root = ConvertElement(root);
  return result;
}

}  // namespace vorlen
