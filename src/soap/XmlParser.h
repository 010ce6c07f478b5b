// Owned libxml2 documents and a parser that refuses hostile input and can be reused.
#pragma once

#include <libxml/tree.h>

#include <memory>
#include <string_view>

namespace vorlen {

struct TXmlDocDeleter {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using TXmlDocPtr = std::unique_ptr<xmlDoc, TXmlDocDeleter>;

// libxml2's global set-up, once per process: it is not safe to race on.
void InitLibXml();

struct TXmlParserCtxtDeleter {
  void operator()(xmlParserCtxt* ctxt) const;
};

// Parses bytes whose encoding is taken from a byte-order mark or the declaration (UTF-8
// otherwise). Never touches the network or the file system, expands no entities beyond the
// predefined ones and keeps libxml2's depth and size limits. Raises EDOMParseError with the
// parser's reason for malformed input and for any document type declaration.
TXmlDocPtr ParseXml(std::string_view bytes);

// Parses exactly like ParseXml, but keeps its libxml2 parser context from
// one document to the next: setting one up costs more than reading a short answer. For one
// thread at a time; a copy starts with a context of its own. The documents it returns share the
// context's name dictionary, so they stay on the parser's thread.
class TXmlParser {
 public:
  TXmlParser() = default;
  TXmlParser(const TXmlParser&) {}
  TXmlParser& operator=(const TXmlParser&) { return *this; }

  TXmlDocPtr Parse(std::string_view bytes);

 private:
  std::unique_ptr<xmlParserCtxt, TXmlParserCtxtDeleter> FContext;
};

}  // namespace vorlen
