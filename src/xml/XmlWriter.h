// Writing the SOAP layer's documents as XML text, shared by every platform, and the text helpers
// the SOAP reader and writer share.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/Stream.h"
#include "xml/XmlNode.h"

namespace vorlen {

// The rest of stream, from its current position.
std::string ReadRest(TStream& stream);

// `<?xml version="1.0"?>`, a line end, the document element in UTF-8 without added whitespace,
// and a closing line end.
std::string SerializeXmlDocument(const TXmlDocument& doc);
// Writes a document element by element, byte for byte as SerializeXmlDocument writes the same
// tree: for a message that is sent at once and never needed as a tree. Within an element,
// namespaces come before attributes, and both before its content, as in the tree writer.
class TXmlWriter {
 public:
  TXmlWriter();  // starts with the declaration
  void StartElement(const std::string& prefix, const std::string& localName);
  void Namespace(const std::string& prefix, const std::string& uri);
  void Attribute(const std::string& prefix, const std::string& localName, const std::string& value);
  // Escaped as in the tree; an empty text writes nothing, as an empty text node is never made.
  void Text(const std::string& text);
  // An element without content is written as an empty-element tag.
  void EndElement();
  // Ends the open elements and the document; the writer is done with.
  std::string Finish();

 private:
  struct TOpenElement {
    std::string Prefix;
    std::string LocalName;
    bool HasContent;
  };
  void CloseStartTag();

  std::string FText;
  std::vector<TOpenElement> FOpen;
};

// The XML text of one node (an element with its tags and content), UTF-8. Namespaces declared
// on ancestors are not repeated.
std::string NodeXml(const TXmlNode& node);

// True when text is well-formed UTF-8 made only of characters that XML 1.0 allows.
bool IsXmlText(std::string_view text);

// ASCII letters compared without regard to case.
bool SameText(std::string_view a, std::string_view b);

}  // namespace vorlen
