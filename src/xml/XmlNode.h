// The SOAP layer's own document model: what both platforms' parsers read into and the shared
// writer serialises. Elements keep their prefix, namespace and declarations as written, so a
// received element can be shown again the way it came.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vorlen {

enum class TXmlNodeKind { nkElement, nkText, nkCData, nkComment, nkInstruction };

// xmlns:Prefix="Uri"; an empty Prefix is the default namespace (xmlns="Uri").
struct TXmlNamespaceDecl {
  std::string Prefix;
  std::string Uri;
};

struct TXmlAttribute {
  std::string Prefix;  // empty: no namespace
  std::string LocalName;
  std::string NamespaceUri;  // resolved from Prefix
  std::string Value;         // as read: references replaced, not escaped
};

class TXmlNode {
 public:
  explicit TXmlNode(TXmlNodeKind kind) : Kind(kind) {}
  TXmlNode(const TXmlNode&) = delete;
  TXmlNode& operator=(const TXmlNode&) = delete;

  TXmlNodeKind Kind;
  std::string LocalName;                      // an element's local name, an instruction's target
  std::string Prefix;                         // an element's prefix, empty when it has none
  std::string NamespaceUri;                   // an element's namespace, empty when it has none
  std::vector<TXmlNamespaceDecl> Namespaces;  // declared on this element, in order
  std::vector<TXmlAttribute> Attributes;      // in order, declarations excluded
  std::vector<std::unique_ptr<TXmlNode>> Children;
  std::string Text;  // the content of text, CDATA, comment and instruction nodes
  TXmlNode* Parent = nullptr;

  bool IsElement() const { return Kind == TXmlNodeKind::nkElement; }
  bool IsText() const { return Kind == TXmlNodeKind::nkText || Kind == TXmlNodeKind::nkCData; }

  // Appends a child and returns it; the node owns it.
  TXmlNode& Append(std::unique_ptr<TXmlNode> child);
  // Appends an element without namespace.
  TXmlNode& AddElement(const std::string& localName);
  // Appends text taken literally (the writer escapes it); nothing for empty text.
  void AddText(std::string text);
  // Texts are taken over: pass temporaries to save a copy.
  void AddAttribute(std::string prefix, std::string localName, std::string namespaceUri,
                    std::string value);

  // The namespace prefix bound in scope here (on this element or an ancestor).
  bool IsPrefixInScope(const std::string& prefix) const;
  // The first attribute whose local name is name, whatever its namespace; nullptr if none.
  const TXmlAttribute* FindAttribute(const std::string& name) const;
  // The attribute with that local name in that namespace; nullptr if none.
  const TXmlAttribute* FindAttribute(const std::string& name, const std::string& uri) const;
  // Child elements in order.
  std::vector<const TXmlNode*> ChildElements() const;
  // The concatenated text and CDATA of this node and its descendants.
  std::string Content() const;
};

struct TXmlDocument {
  std::unique_ptr<TXmlNode> Root;  // the document element
};

}  // namespace vorlen
