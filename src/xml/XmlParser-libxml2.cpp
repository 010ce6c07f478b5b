// The parser of the POSIX build: libxml2, read into the SOAP layer's own model.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <climits>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/Format.h"
#include "xml/DOMParseError.h"
#include "xml/XmlParser.h"

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

void IgnoreGenericError(void*, const char*, ...) {}

// Errors libxml2 raises outside the parser context (an encoding that fails to convert) go to its
// generic handler, which writes to standard error: the service's log, a line for each, for any
// peer who sends such bytes. The parse's own handler already keeps the reason. The handler is
// per thread, so every parse sets it.
void SilenceGenericErrors() { xmlSetGenericErrorFunc(nullptr, IgnoreGenericError); }

// What one parse builds and what it met on the way. The model is built straight from libxml2's
// SAX2 events: a libxml2 tree made and freed for every answer would cost more than reading it.
struct TParseGuard {
  bool DoctypeSeen = false;
  bool HasError = false;
  std::string FirstError;
  std::exception_ptr Failure;  // thrown by a callback (out of memory); the parse stops
  TXmlDocument Document;
  TXmlNode* Current = nullptr;  // the open element
  int Depth = 0;                // of Current
  bool LimitDepth = false;      // stop at kMaxDepth (the push reader has no limit of its own)
  bool TooDeep = false;         // stopped there
};

// libxml2's own nesting limit (xmlParserMaxDepth). Its pull reader enforces it, its push reader
// does not; the model is freed and written recursively, so nesting must stay bounded.
constexpr int kMaxDepth = 256;

TParseGuard& GuardOf(void* ctx) {
  return *static_cast<TParseGuard*>(static_cast<xmlParserCtxt*>(ctx)->_private);
}

// Nothing may unwind through libxml2: a failure is kept and the parser stopped.
template <typename TAction>
void Guarded(void* ctx, TAction action) {
  try {
    action(GuardOf(ctx));
  } catch (...) {
    GuardOf(ctx).Failure = std::current_exception();
    xmlStopParser(static_cast<xmlParserCtxt*>(ctx));
  }
}

// The first error names the real fault; later ones are mostly its consequences.
void KeepFirstError(void* ctx, xmlError* error) {
  TParseGuard& guard = GuardOf(ctx);
  if (guard.HasError || !error || error->level < XML_ERR_ERROR) return;
  guard.HasError = true;
  guard.FirstError = Format("%s (line %d)",
                            TrimLineEnd(error->message ? error->message : "").c_str(), error->line);
}

// A document type declaration is where entity expansion (billion laughs) and external entities
// start; messages never need one, so parsing stops there.
void RefuseDoctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  GuardOf(ctx).DoctypeSeen = true;
  xmlStopParser(static_cast<xmlParserCtxt*>(ctx));
}

// While entities are not substituted, libxml2 hands an attribute value's "&" (from &amp; or
// &#38;) on as the reference "&#38;"; every other reference arrives decoded.
std::string AttributeValue(const xmlChar* begin, const xmlChar* end) {
  std::string value(reinterpret_cast<const char*>(begin), static_cast<size_t>(end - begin));
  static constexpr std::string_view kAmpersand = "&#38;";
  size_t found = value.find(kAmpersand);
  while (found != std::string::npos) {
    value.replace(found, kAmpersand.size(), 1, '&');
    found = value.find(kAmpersand, found + 1);
  }
  return value;
}

// Appends a node below the open element; nodes outside the document element are not kept.
void AppendChild(TParseGuard& guard, std::unique_ptr<TXmlNode> node) {
  if (guard.Current) guard.Current->Append(std::move(node));
}

void StartElement(void* ctx, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri,
                  int namespaceCount, const xmlChar** namespaces, int attributeCount, int,
                  const xmlChar** attributes) {
  Guarded(ctx, [&](TParseGuard& guard) {
    if (guard.LimitDepth && guard.Depth >= kMaxDepth) {
      guard.TooDeep = true;
      xmlStopParser(static_cast<xmlParserCtxt*>(ctx));
      return;
    }
    auto element = std::make_unique<TXmlNode>(TXmlNodeKind::nkElement);
    element->LocalName = FromXml(localName);
    element->Prefix = FromXml(prefix);
    element->NamespaceUri = FromXml(uri);
    element->Namespaces.reserve(static_cast<size_t>(namespaceCount));
    for (int i = 0; i < namespaceCount; ++i)
      element->Namespaces.push_back(
          TXmlNamespaceDecl{FromXml(namespaces[2 * i]), FromXml(namespaces[2 * i + 1])});
    // Five pointers an attribute: local name, prefix, namespace, value and the value's end.
    element->Attributes.reserve(static_cast<size_t>(attributeCount));
    for (int i = 0; i < attributeCount; ++i) {
      const xmlChar** attr = attributes + 5 * i;
      element->AddAttribute(FromXml(attr[1]), FromXml(attr[0]), FromXml(attr[2]),
                            AttributeValue(attr[3], attr[4]));
    }
    TXmlNode* opened = element.get();
    if (guard.Current) {
      guard.Current->Append(std::move(element));
    } else {
      guard.Document.Root = std::move(element);
    }
    guard.Current = opened;
    ++guard.Depth;
  });
}

void EndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  TParseGuard& guard = GuardOf(ctx);
  if (guard.Current) {
    guard.Current = guard.Current->Parent;
    --guard.Depth;
  }
}

// Text arrives in pieces; adjacent pieces of one kind make one node, as in libxml2's own tree.
void AddText(void* ctx, const xmlChar* text, int length, TXmlNodeKind kind) {
  Guarded(ctx, [&](TParseGuard& guard) {
    if (!guard.Current) return;
    const char* bytes = reinterpret_cast<const char*>(text);
    std::vector<std::unique_ptr<TXmlNode>>& children = guard.Current->Children;
    if (!children.empty() && children.back()->Kind == kind) {
      children.back()->Text.append(bytes, static_cast<size_t>(length));
      return;
    }
    auto node = std::make_unique<TXmlNode>(kind);
    node->Text.assign(bytes, static_cast<size_t>(length));
    guard.Current->Append(std::move(node));
  });
}

void Characters(void* ctx, const xmlChar* text, int length) {
  AddText(ctx, text, length, TXmlNodeKind::nkText);
}

void CDataBlock(void* ctx, const xmlChar* text, int length) {
  AddText(ctx, text, length, TXmlNodeKind::nkCData);
}

void Comment(void* ctx, const xmlChar* text) {
  Guarded(ctx, [&](TParseGuard& guard) {
    auto node = std::make_unique<TXmlNode>(TXmlNodeKind::nkComment);
    node->Text = FromXml(text);
    AppendChild(guard, std::move(node));
  });
}

void Instruction(void* ctx, const xmlChar* target, const xmlChar* data) {
  Guarded(ctx, [&](TParseGuard& guard) {
    auto node = std::make_unique<TXmlNode>(TXmlNodeKind::nkInstruction);
    node->LocalName = FromXml(target);
    node->Text = FromXml(data);
    AppendChild(guard, std::move(node));
  });
}

// The events the model is built from; no libxml2 document is made.
void InstallHandlers(xmlSAXHandler& sax) {
  sax.internalSubset = RefuseDoctype;
  sax.externalSubset = RefuseDoctype;
  sax.serror = KeepFirstError;
  sax.startDocument = nullptr;
  sax.endDocument = nullptr;
  sax.startElementNs = StartElement;
  sax.endElementNs = EndElement;
  sax.characters = Characters;
  sax.ignorableWhitespace = Characters;
  sax.cdataBlock = CDataBlock;
  sax.comment = Comment;
  sax.processingInstruction = Instruction;
  sax.reference = nullptr;
}

// Reads bytes into guard.Document; true when the document is well-formed and acceptable.
// xmlCtxtReadMemory and xmlCtxtResetPush reset the context's parse state, not its handlers or
// _private: they are set again for every document so nothing from an earlier parse can carry
// over. No XML_PARSE_NOENT, DTDLOAD, DTDATTR or HUGE: only the predefined entities, no
// fetching, default limits. With these handlers no libxml2 document is made.
bool ReadDocument(xmlParserCtxt* ctxt, std::string_view bytes, TParseGuard& guard, bool push) {
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  ctxt->_private = &guard;
  InstallHandlers(*ctxt->sax);
  const int size = static_cast<int>(bytes.size());
  guard.LimitDepth = push;
  if (push) {
    // One final chunk: the pull reader asks its memory input for more data at nearly every step
    // of a short answer, which costs more than the parse itself.
    const int head = std::min(size, 4);
    xmlCtxtResetPush(ctxt, bytes.data(), head, nullptr, nullptr);
    xmlCtxtUseOptions(ctxt, options);
    xmlParseChunk(ctxt, bytes.data() + head, size - head, 1);
    xmlFreeDoc(ctxt->myDoc);
    ctxt->myDoc = nullptr;
  } else {
    xmlFreeDoc(xmlCtxtReadMemory(ctxt, bytes.data(), size, nullptr, nullptr, options));
  }
  ctxt->_private = nullptr;
  return ctxt->wellFormed != 0 && !guard.HasError && !guard.DoctypeSeen && !guard.Failure &&
         !guard.TooDeep && guard.Document.Root != nullptr;
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
  SilenceGenericErrors();
  if (bytes.size() > static_cast<size_t>(INT_MAX)) {
    throw EDOMParseError(Format("XML document of %zu bytes is too large", bytes.size()));
  }
  if (!FState) {
    std::unique_ptr<TState, TStateDeleter> state(new TState);
    state->Context = xmlNewParserCtxt();
    if (!state->Context) throw EDOMParseError("Out of memory creating the XML parser");
    FState = std::move(state);
  }
  // The context's name dictionary keeps every name it has seen; a peer sending ever new names
  // must not make it grow without end, so a large one is dropped with its context.
  const auto keepContextBounded = [this] {
    if (xmlDictSize(FState->Context->dict) > kMaxKeptNames) FState.reset();
  };
  TParseGuard fast;
  if (ReadDocument(FState->Context, bytes, fast, true)) {
    keepContextBounded();
    return std::move(fast.Document);
  }
  // A refused document is read again by the pull reader, which decides: at the end of the
  // input its messages name the fault ("Document is empty", "Premature end of data in tag r")
  // where the push reader only finds "Extra content at the end of the document", and it keeps
  // the nesting limit itself. Refusals are rare, so the second reading costs nothing that
  // matters.
  if (fast.Failure) {
    keepContextBounded();
    std::rethrow_exception(fast.Failure);
  }
  TParseGuard guard;
  const bool accepted = ReadDocument(FState->Context, bytes, guard, false);
  keepContextBounded();
  if (accepted) return std::move(guard.Document);
  if (guard.Failure) std::rethrow_exception(guard.Failure);
  if (guard.DoctypeSeen || fast.DoctypeSeen) {
    throw EDOMParseError("Document type declarations are not accepted in SOAP messages");
  }
  if (guard.HasError) throw EDOMParseError(guard.FirstError);
  throw EDOMParseError("The XML document is not well-formed");
}

}  // namespace vorlen
