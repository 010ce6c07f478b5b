// The parser of the Windows build: XmlLite, the XML reader Windows itself ships, read into the
// SOAP layer's own model. MinGW has its header but no import library, so xmllite.dll is loaded
// at run time.
#include <shlwapi.h>
#include <windows.h>

#include <xmllite.h>

#include <climits>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/Format.h"
#include "runtime/WindowsText.h"
#include "xml/DOMParseError.h"
#include "xml/XmlParser.h"

namespace vorlen {

namespace {

// libxml2 reads 257 nested elements and refuses a 258th; XmlLite counts from one further.
constexpr LONG_PTR kMaxDepth = 258;

const char* const kDoctypeRefused = "Document type declarations are not accepted in SOAP messages";

struct TReleaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
template <typename T>
using TComPtr = std::unique_ptr<T, TReleaser>;

using TCreateXmlReader = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

TCreateXmlReader CreateXmlReaderFunction() {
  static TCreateXmlReader function = [] {
    HMODULE module = LoadLibraryW(L"xmllite.dll");
    if (!module) return TCreateXmlReader(nullptr);
    // Through void(*)(): GetProcAddress's type says nothing about the function's real one.
    return reinterpret_cast<TCreateXmlReader>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "CreateXmlReader")));
  }();
  if (!function) {
    throw EDOMParseError("The XML parser of Windows (xmllite.dll) cannot be loaded: " +
                         LastErrorText());
  }
  return function;
}

const char* ReasonOf(HRESULT hr) {
  switch (static_cast<unsigned long>(hr)) {
    case MX_E_INPUTEND:
      return "Unexpected end of the document";
    case MX_E_ENCODING:
      return "Input is not proper text in its encoding";
    case MX_E_ENCODINGSWITCH:
      return "The encoding cannot be switched";
    case MX_E_ENCODINGSIGNATURE:
      return "Unrecognised encoding or byte-order mark";
    case WC_E_SEMICOLON:
      return "A reference lacks its ';'";
    case WC_E_GREATERTHAN:
      return "'>' expected";
    case WC_E_QUOTE:
      return "A quote expected";
    case WC_E_EQUAL:
      return "'=' expected";
    case WC_E_LESSTHAN:
      return "'<' is not allowed in an attribute value";
    case WC_E_XMLCHARACTER:
      return "A character XML does not allow";
    case WC_E_NAMECHARACTER:
      return "A character a name cannot hold";
    case WC_E_SYNTAX:
      return "Syntax error";
    case WC_E_CDSECT:
      return "Malformed CDATA section";
    case WC_E_COMMENT:
      return "Malformed comment";
    case WC_E_NAME:
      return "A name expected";
    case WC_E_ROOTELEMENT:
      return "Extra content after the document element";
    case WC_E_ELEMENTMATCH:
      return "Opening and ending tag mismatch";
    case WC_E_UNIQUEATTRIBUTE:
      return "Attribute given twice";
    case WC_E_XMLDECL:
      return "Malformed XML declaration";
    case WC_E_ENCNAME:
      return "Unsupported encoding";
    case WC_E_UNDECLAREDENTITY:
      return "Entity not defined";
    case WC_E_PI:
      return "Malformed processing instruction";
    case WC_E_MOREDATA:
      return "Extra content at the end of the document";
    case NC_E_UNDECLAREDPREFIX:
      return "Namespace prefix is not defined";
    case NC_E_QNAMECOLON:
    case NC_E_NAMECOLON:
      return "Malformed qualified name";
    case NC_E_EMPTYURI:
      return "A prefix bound to an empty namespace name";
    case NC_E_XMLPREFIXRESERVED:
    case NC_E_XMLNSPREFIXRESERVED:
    case NC_E_XMLURIRESERVED:
    case NC_E_XMLNSURIRESERVED:
      return "Reserved namespace prefix or name misused";
    case SC_E_MAXELEMENTDEPTH:
      return "Excessive depth in document: 256";
    case SC_E_MAXENTITYEXPANSION:
      return "Too many entity expansions";
    case XML_E_INVALID_DECIMAL:
    case XML_E_INVALID_HEXIDECIMAL:
    case XML_E_INVALID_UNICODE:
      return "Invalid character reference";
    default:
      return nullptr;
  }
}

std::string Utf8Of(const WCHAR* text, UINT length) {
  return text ? Utf8FromWide(std::wstring_view(text, length)) : std::string();
}

// The reader's current name parts and value as UTF-8.
struct TNameParts {
  std::string QualifiedName, Prefix, LocalName, NamespaceUri, Value;
};

TNameParts ReadParts(IXmlReader& reader) {
  TNameParts parts;
  const WCHAR* text = nullptr;
  UINT length = 0;
  if (SUCCEEDED(reader.GetQualifiedName(&text, &length))) {
    parts.QualifiedName = Utf8Of(text, length);
  }
  if (SUCCEEDED(reader.GetPrefix(&text, &length))) parts.Prefix = Utf8Of(text, length);
  if (SUCCEEDED(reader.GetLocalName(&text, &length))) parts.LocalName = Utf8Of(text, length);
  if (SUCCEEDED(reader.GetNamespaceUri(&text, &length))) parts.NamespaceUri = Utf8Of(text, length);
  if (SUCCEEDED(reader.GetValue(&text, &length))) parts.Value = Utf8Of(text, length);
  return parts;
}

UINT LineOf(IXmlReader& reader) {
  UINT line = 0;
  if (FAILED(reader.GetLineNumber(&line)) || line == 0) line = 1;
  return line;
}

// A prefix nothing declared: some XmlLite builds (Wine's) let it pass with no namespace.
void CheckPrefixBound(const TNameParts& name, IXmlReader& reader) {
  const size_t colon = name.QualifiedName.find(':');
  if (colon == std::string::npos || !name.NamespaceUri.empty()) return;
  const UINT line = LineOf(reader);
  throw EDOMParseError(Format("Namespace prefix %s on %s is not defined (line %u)",
                              name.QualifiedName.substr(0, colon).c_str(),
                              name.QualifiedName.substr(colon + 1).c_str(), line));
}

std::unique_ptr<TXmlNode> ReadElement(IXmlReader& reader) {
  auto element = std::make_unique<TXmlNode>(TXmlNodeKind::nkElement);
  TNameParts name = ReadParts(reader);
  CheckPrefixBound(name, reader);
  element->Prefix = std::move(name.Prefix);
  element->LocalName = std::move(name.LocalName);
  element->NamespaceUri = std::move(name.NamespaceUri);
  for (HRESULT hr = reader.MoveToFirstAttribute(); hr == S_OK; hr = reader.MoveToNextAttribute()) {
    TNameParts attr = ReadParts(reader);
    if (attr.Prefix == "xmlns") {
      element->Namespaces.push_back(TXmlNamespaceDecl{attr.LocalName, attr.Value});
    } else if (attr.Prefix.empty() && attr.LocalName == "xmlns") {
      element->Namespaces.push_back(TXmlNamespaceDecl{std::string(), attr.Value});
    } else {
      CheckPrefixBound(attr, reader);
      element->AddAttribute(attr.Prefix, attr.LocalName, attr.NamespaceUri, attr.Value);
    }
  }
  reader.MoveToElement();
  return element;
}

void AppendLeaf(TXmlNode& parent, TXmlNodeKind kind, IXmlReader& reader) {
  TNameParts parts = ReadParts(reader);
  // Text arrives in pieces (around references, in blocks) and adjacent CDATA sections are one
  // node too, as libxml2 makes them.
  if ((kind == TXmlNodeKind::nkText || kind == TXmlNodeKind::nkCData) && !parent.Children.empty() &&
      parent.Children.back()->Kind == kind) {
    parent.Children.back()->Text += parts.Value;
    return;
  }
  auto node = std::make_unique<TXmlNode>(kind);
  if (kind == TXmlNodeKind::nkInstruction) node->LocalName = std::move(parts.LocalName);
  node->Text = std::move(parts.Value);
  parent.Append(std::move(node));
}

// An element still open where reading stopped, and the line its start tag is on.
struct TOpenElement {
  TXmlNode* Element;
  UINT Line;
};

[[noreturn]] void RaiseReaderError(IXmlReader& reader, HRESULT hr, bool rootSeen,
                                   const std::vector<TOpenElement>& open) {
  if (static_cast<unsigned long>(hr) == WC_E_DTDPROHIBITED) throw EDOMParseError(kDoctypeRefused);
  const UINT line = LineOf(reader);
  const char* reason = ReasonOf(hr);
  if (static_cast<unsigned long>(hr) == MX_E_INPUTEND && !rootSeen) reason = "Document is empty";
  std::string text =
      reason ? std::string(reason) : Format("XML error 0x%08lX", static_cast<unsigned long>(hr));
  // XmlLite names neither tag; the one left open is known here.
  if (static_cast<unsigned long>(hr) == WC_E_ELEMENTMATCH && !open.empty()) {
    const TXmlNode& element = *open.back().Element;
    text += Format(": %s%s%s line %u", element.Prefix.c_str(), element.Prefix.empty() ? "" : ":",
                   element.LocalName.c_str(), open.back().Line);
  }
  throw EDOMParseError(Format("%s (line %u)", text.c_str(), line));
}

}  // namespace

struct TXmlParser::TState {
  TComPtr<IXmlReader> Reader;
};

void TXmlParser::TStateDeleter::operator()(TState* state) const { delete state; }

TXmlParser::TXmlParser() = default;
TXmlParser::~TXmlParser() = default;
TXmlParser::TXmlParser(const TXmlParser&) {}
TXmlParser& TXmlParser::operator=(const TXmlParser&) { return *this; }

// XmlLite keeps no names from one document to the next.
size_t TXmlParser::KeptNames() const { return 0; }

TXmlDocument ParseXml(std::string_view bytes) { return TXmlParser().Parse(bytes); }

TXmlDocument TXmlParser::Parse(std::string_view bytes) {
  if (bytes.size() > static_cast<size_t>(INT_MAX)) {
    throw EDOMParseError(Format("XML document of %zu bytes is too large", bytes.size()));
  }
  if (!FState) {
    std::unique_ptr<TState, TStateDeleter> state(new TState);
    IXmlReader* reader = nullptr;
    if (FAILED(CreateXmlReaderFunction()(__uuidof(IXmlReader), reinterpret_cast<void**>(&reader),
                                         nullptr)) ||
        !reader) {
      throw EDOMParseError("Cannot create the XML parser");
    }
    state->Reader.reset(reader);
    // No document type declaration (no entities of its own, nothing fetched), no resolver.
    if (FAILED(reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit)) ||
        FAILED(reader->SetProperty(XmlReaderProperty_XmlResolver, 0)) ||
        FAILED(reader->SetProperty(XmlReaderProperty_MaxElementDepth, kMaxDepth))) {
      throw EDOMParseError("Cannot set up the XML parser");
    }
    FState = std::move(state);
  }
  IXmlReader& reader = *FState->Reader;

  TComPtr<IStream> input(SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()),
                                           static_cast<UINT>(bytes.size())));
  if (!input) throw EDOMParseError("Out of memory creating the XML parser's input");
  HRESULT hr = reader.SetInput(input.get());
  // The reader lets go of the input whatever happens, so the next document starts clean.
  struct TInputRelease {
    IXmlReader& Reader;
    ~TInputRelease() { Reader.SetInput(nullptr); }
  } release{reader};
  TXmlDocument doc;
  std::vector<TOpenElement> open;
  if (FAILED(hr)) RaiseReaderError(reader, hr, false, open);

  XmlNodeType type = XmlNodeType_None;
  while ((hr = reader.Read(&type)) == S_OK) {
    TXmlNode* parent = open.empty() ? nullptr : open.back().Element;
    switch (type) {
      case XmlNodeType_Element: {
        const bool empty = reader.IsEmptyElement();
        const UINT line = LineOf(reader);
        std::unique_ptr<TXmlNode> element = ReadElement(reader);
        TXmlNode* added = element.get();
        if (parent) {
          parent->Append(std::move(element));
        } else {
          doc.Root = std::move(element);
        }
        if (!empty) open.push_back(TOpenElement{added, line});
        break;
      }
      case XmlNodeType_EndElement:
        if (!open.empty()) open.pop_back();
        break;
      case XmlNodeType_Text:
      case XmlNodeType_Whitespace:
        if (parent) AppendLeaf(*parent, TXmlNodeKind::nkText, reader);
        break;
      case XmlNodeType_CDATA:
        if (parent) AppendLeaf(*parent, TXmlNodeKind::nkCData, reader);
        break;
      case XmlNodeType_Comment:
        if (parent) AppendLeaf(*parent, TXmlNodeKind::nkComment, reader);
        break;
      case XmlNodeType_ProcessingInstruction:
        if (parent) AppendLeaf(*parent, TXmlNodeKind::nkInstruction, reader);
        break;
      case XmlNodeType_DocumentType:
        throw EDOMParseError(kDoctypeRefused);
      default:
        break;
    }
  }
  if (FAILED(hr)) RaiseReaderError(reader, hr, doc.Root != nullptr, open);
  if (!doc.Root) throw EDOMParseError("Document is empty (line 1)");
  return doc;
}

}  // namespace vorlen
