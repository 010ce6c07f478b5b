// Writing the SOAP layer's documents as XML text, shared by every platform, and the text helpers
// the SOAP reader and writer share.
#pragma once

#include <string>
#include <string_view>

#include "runtime/Stream.h"
#include "soap/XmlNode.h"

namespace vorlen {

// The rest of stream, from its current position.
std::string ReadRest(TStream& stream);

// `<?xml version="1.0"?>`, a line end, the document element in UTF-8 without added whitespace,
// and a closing line end.
std::string SerializeXmlDocument(const TXmlDocument& doc);
// The XML text of one node (an element with its tags and content), UTF-8. Namespaces declared
// on ancestors are not repeated.
std::string NodeXml(const TXmlNode& node);

// True when text is well-formed UTF-8 made only of characters that XML 1.0 allows.
bool IsXmlText(std::string_view text);

// ASCII letters compared without regard to case.
bool SameText(std::string_view a, std::string_view b);

}  // namespace vorlen
