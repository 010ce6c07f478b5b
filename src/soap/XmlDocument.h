// libxml2 documents owned by RAII handles and the few node helpers the SOAP reader and writer
// share; the parser is in soap/XmlParser.h.
#pragma once

#include <libxml/tree.h>

#include <memory>
#include <string>
#include <string_view>

#include "runtime/Stream.h"
#include "soap/XmlParser.h"

namespace vorlen {

// An empty document with version "1.0" and no encoding.
TXmlDocPtr NewXmlDocument();

// The rest of stream, from its current position.
std::string ReadRest(TStream& stream);

// `<?xml version="1.0"?>`, a line end, the document element in UTF-8 without added whitespace,
// and a closing line end.
std::string SerializeXmlDocument(xmlDoc* doc);
// The XML text of one node (an element with its tags and content), UTF-8.
std::string NodeXml(xmlNode* node);
// The concatenated text of a node and its descendants.
std::string NodeText(xmlNode* node);
// The value of the first attribute whose local name is name, whatever its namespace.
bool FindAttribute(xmlNode* node, const char* name, std::string& value);

// Appends a new element without namespace (xmlNewChild would inherit the parent's).
xmlNode* AddPlainChild(xmlNode* parent, const char* name);
// Appends text taken literally; the serialiser escapes it.
void AddText(xmlNode* element, const std::string& text);
// True when text is well-formed UTF-8 made only of characters that XML 1.0 allows.
bool IsXmlText(std::string_view text);

std::string LocalName(const xmlNode* node);
std::string NamespaceUri(const xmlNode* node);
// ASCII letters compared without regard to case.
bool SameText(std::string_view a, std::string_view b);

}  // namespace vorlen
