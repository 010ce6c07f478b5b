#include "xml/XmlNode.h"

#include <utility>

namespace vorlen {

namespace {

void AppendContent(const TXmlNode& node, std::string& text) {
  if (node.IsText()) {
    text += node.Text;
    return;
  }
  for (const auto& child : node.Children) {
    if (child->IsText() || child->IsElement()) AppendContent(*child, text);
  }
}

}  // namespace

TXmlNode& TXmlNode::Append(std::unique_ptr<TXmlNode> child) {
  child->Parent = this;
  Children.push_back(std::move(child));
  return *Children.back();
}

TXmlNode& TXmlNode::AddElement(const std::string& localName) {
  auto element = std::make_unique<TXmlNode>(TXmlNodeKind::nkElement);
  element->LocalName = localName;
  return Append(std::move(element));
}

void TXmlNode::AddText(std::string text) {
  if (text.empty()) return;
  auto node = std::make_unique<TXmlNode>(TXmlNodeKind::nkText);
  node->Text = std::move(text);
  Append(std::move(node));
}

void TXmlNode::AddAttribute(std::string prefix, std::string localName, std::string namespaceUri,
                            std::string value) {
  Attributes.push_back(TXmlAttribute{std::move(prefix), std::move(localName),
                                     std::move(namespaceUri), std::move(value)});
}

bool TXmlNode::IsPrefixInScope(const std::string& prefix) const {
  if (prefix == "xml") return true;
  for (const TXmlNode* node = this; node; node = node->Parent) {
    for (const TXmlNamespaceDecl& decl : node->Namespaces) {
      if (decl.Prefix == prefix) return true;
    }
  }
  return false;
}

const TXmlAttribute* TXmlNode::FindAttribute(const std::string& name) const {
  for (const TXmlAttribute& attr : Attributes) {
    if (attr.LocalName == name) return &attr;
  }
  return nullptr;
}

const TXmlAttribute* TXmlNode::FindAttribute(const std::string& name,
                                             const std::string& uri) const {
  for (const TXmlAttribute& attr : Attributes) {
    if (attr.LocalName == name && attr.NamespaceUri == uri) return &attr;
  }
  return nullptr;
}

std::vector<const TXmlNode*> TXmlNode::ChildElements() const {
  std::vector<const TXmlNode*> elements;
  for (const auto& child : Children) {
    if (child->IsElement()) elements.push_back(child.get());
  }
  return elements;
}

std::string TXmlNode::Content() const {
  std::string text;
  AppendContent(*this, text);
  return text;
}

}  // namespace vorlen
