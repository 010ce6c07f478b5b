// Reading XML bytes into the SOAP layer's document model with the platform's own parser,
// hardened against hostile input. Each platform's parser lives in a file of its own.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "xml/XmlNode.h"

namespace vorlen {

// Parses bytes whose encoding is taken from a byte-order mark or the declaration (UTF-8
// otherwise). Never touches the network or the file system, expands no entities beyond the
// predefined ones and keeps the parser's depth and size limits. Raises EDOMParseError with the
// parser's reason for malformed input and for any document type declaration.
TXmlDocument ParseXml(std::string_view bytes);

// Parses exactly like ParseXml, but keeps the platform parser's state from one document to the
// next: setting one up costs more than reading a short answer. For one thread at a time; a copy
// starts with a state of its own.
class TXmlParser {
 public:
  TXmlParser();
  ~TXmlParser();
  TXmlParser(const TXmlParser&);
  TXmlParser& operator=(const TXmlParser&);

  TXmlDocument Parse(std::string_view bytes);

  // Names the kept parser state remembers from earlier documents (0 when it keeps none); it is
  // bounded, so a peer sending ever new names cannot make it grow for good.
  size_t KeptNames() const;

 private:
  struct TState;
  struct TStateDeleter {
    void operator()(TState* state) const;
  };
  std::unique_ptr<TState, TStateDeleter> FState;
};

}  // namespace vorlen
