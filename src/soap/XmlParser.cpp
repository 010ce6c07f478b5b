#include "soap/XmlParser.h"

#include <libxml/parser.h>

#include <climits>
#include <mutex>
#include <string>

#include "runtime/Format.h"
#include "soap/SOAPExceptions.h"
#include "soap/XmlDocument.h"

namespace vorlen {

namespace {

// Names a reused parser context may hold before it is replaced by a fresh one.
constexpr int kMaxKeptNames = 4096;

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

void InitLibXml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

void TXmlParserCtxtDeleter::operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }

TXmlDocPtr ParseXml(std::string_view bytes) { return TXmlParser().Parse(bytes); }

TXmlDocPtr TXmlParser::Parse(std::string_view bytes) {
  InitLibXml();
  if (bytes.size() > static_cast<size_t>(INT_MAX)) {
    throw EDOMParseError(Format("XML document of %zu bytes is too large", bytes.size()));
  }
  if (!FContext) {
    FContext.reset(xmlNewParserCtxt());
    if (!FContext) throw EDOMParseError("Out of memory creating the XML parser");
  }
  xmlParserCtxt* ctxt = FContext.get();
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
  TXmlDocPtr doc(xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                   nullptr, options));
  ctxt->_private = nullptr;
  const bool wellFormed = ctxt->wellFormed != 0;
  // The context's name dictionary keeps every name it has seen; a peer sending ever new names
  // must not make it grow without end, so a large one is dropped with its context.
  if (xmlDictSize(ctxt->dict) > kMaxKeptNames) FContext.reset();
  if (guard.DoctypeSeen) {
    throw EDOMParseError("Document type declarations are not accepted in SOAP messages");
  }
  if (!doc || !wellFormed || guard.HasError) {
    if (guard.HasError) throw EDOMParseError(guard.FirstError);
    throw EDOMParseError("The XML document is not well-formed");
  }
  return doc;
}

}  // namespace vorlen
