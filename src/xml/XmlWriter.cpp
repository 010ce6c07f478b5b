#include "xml/XmlWriter.h"

#include <cstdint>
#include <utility>

#include "runtime/Format.h"

namespace vorlen {

namespace {

const char* const kXmlDeclaration = "<?xml version=\"1.0\"?>\n";

// Decodes one UTF-8 sequence at text[pos]; returns its length, 0 when it is not well-formed
// (truncated, overlong, a surrogate or beyond U+10FFFF).
size_t DecodeUtf8(std::string_view text, size_t pos, uint32_t& code) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[pos + i]); };
  const uint8_t lead = byte(0);
  size_t length = 0;
  uint32_t minimum = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - pos < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool IsXmlChar(uint32_t code) {
  return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
         (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

void AppendQualifiedName(const std::string& prefix, const std::string& localName,
                         std::string& out) {
  if (!prefix.empty()) {
    out += prefix;
    out += ':';
  }
  out += localName;
}

// The reference a character needs in text (inAttribute false) or in an attribute value; null
// when it stands for itself.
const char* EscapeOf(char c, bool inAttribute) {
  switch (c) {
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '&':
      return "&amp;";
    case '\r':
      return "&#13;";
    case '"':
      return inAttribute ? "&quot;" : nullptr;
    case '\n':
      return inAttribute ? "&#10;" : nullptr;
    case '\t':
      return inAttribute ? "&#9;" : nullptr;
    default:
      return nullptr;
  }
}

// Runs of characters that stand for themselves are appended whole, not one by one.
void AppendEscapedText(const std::string& text, std::string& out) {
  size_t start = 0;
  for (size_t pos = 0; pos < text.size(); ++pos) {
    const char* escape = EscapeOf(text[pos], false);
    if (!escape) continue;
    out.append(text, start, pos - start);
    out += escape;
    start = pos + 1;
  }
  out.append(text, start, std::string::npos);
}

// Attribute values keep to ASCII: whitespace other than a space and every non-ASCII character
// become character references, so no reader can normalise them away.
void AppendEscapedAttribute(const std::string& value, std::string& out) {
  size_t start = 0;
  size_t pos = 0;
  while (pos < value.size()) {
    const char c = value[pos];
    const char* escape = EscapeOf(c, true);
    if (!escape && static_cast<uint8_t>(c) < 0x80) {
      ++pos;
      continue;
    }
    out.append(value, start, pos - start);
    uint32_t code = 0;
    size_t length = 0;
    if (escape) {
      out += escape;
      ++pos;
    } else if ((length = DecodeUtf8(value, pos, code)) > 0) {
      out += Format("&#x%X;", static_cast<unsigned>(code));
      pos += length;
    } else {
      out += c;
      ++pos;
    }
    start = pos;
  }
  out.append(value, start, std::string::npos);
}

// A namespace name in double quotes, or in single ones when it holds a double quote.
void AppendQuotedUri(const std::string& uri, std::string& out) {
  if (uri.find('"') == std::string::npos) {
    out += '"';
    out += uri;
    out += '"';
  } else if (uri.find('\'') == std::string::npos) {
    out += '\'';
    out += uri;
    out += '\'';
  } else {
    out += '"';
    for (const char c : uri) {
      if (c == '"')
        out += "&quot;";
      else
        out += c;
    }
    out += '"';
  }
}

// "]]>" cannot stand inside a CDATA section: the section is closed after "]]" and reopened.
void AppendCData(const std::string& text, std::string& out) {
  if (text.empty()) {
    out += "<![CDATA[]]>";
    return;
  }
  size_t start = 0;
  for (size_t found = text.find("]]>"); found != std::string::npos;
       found = text.find("]]>", found + 2)) {
    out += "<![CDATA[" + text.substr(start, found + 2 - start) + "]]>";
    start = found + 2;
  }
  out += "<![CDATA[" + text.substr(start) + "]]>";
}

// The pieces of an element's text, shared by the tree writer and TXmlWriter so both write the
// same bytes.
void AppendNamespaceDecl(const std::string& prefix, const std::string& uri, std::string& out) {
  if (prefix.empty()) {
    out += " xmlns=";
  } else {
    out += " xmlns:";
    out += prefix;
    out += '=';
  }
  AppendQuotedUri(uri, out);
}

void AppendAttribute(const std::string& prefix, const std::string& localName,
                     const std::string& value, std::string& out) {
  out += ' ';
  AppendQualifiedName(prefix, localName, out);
  out += "=\"";
  AppendEscapedAttribute(value, out);
  out += '"';
}

void AppendEndTag(const std::string& prefix, const std::string& localName, std::string& out) {
  out += "</";
  AppendQualifiedName(prefix, localName, out);
  out += '>';
}

void AppendNode(const TXmlNode& node, std::string& out) {
  switch (node.Kind) {
    case TXmlNodeKind::nkText:
      AppendEscapedText(node.Text, out);
      return;
    case TXmlNodeKind::nkCData:
      AppendCData(node.Text, out);
      return;
    case TXmlNodeKind::nkComment:
      out += "<!--" + node.Text + "-->";
      return;
    case TXmlNodeKind::nkInstruction:
      out += "<?" + node.LocalName;
      if (!node.Text.empty()) out += ' ' + node.Text;
      out += "?>";
      return;
    case TXmlNodeKind::nkElement:
      break;
  }
  out += '<';
  AppendQualifiedName(node.Prefix, node.LocalName, out);
  for (const TXmlNamespaceDecl& decl : node.Namespaces)
    AppendNamespaceDecl(decl.Prefix, decl.Uri, out);
  for (const TXmlAttribute& attr : node.Attributes)
    AppendAttribute(attr.Prefix, attr.LocalName, attr.Value, out);
  if (node.Children.empty()) {
    out += "/>";
    return;
  }
  out += '>';
  for (const auto& child : node.Children) AppendNode(*child, out);
  AppendEndTag(node.Prefix, node.LocalName, out);
}

}  // namespace

std::string ReadRest(TStream& stream) {
  std::string bytes;
  char block[16384];
  for (;;) {
    const int64_t got = stream.Read(block, sizeof block);
    if (got <= 0) break;
    bytes.append(block, static_cast<size_t>(got));
  }
  return bytes;
}

std::string SerializeXmlDocument(const TXmlDocument& doc) {
  std::string text;
  // Room for any message of the contract at once, so the text is not moved while it grows.
  text.reserve(1024);
  text += kXmlDeclaration;
  if (doc.Root) AppendNode(*doc.Root, text);
  text += '\n';
  return text;
}

TXmlWriter::TXmlWriter() {
  FText.reserve(1024);
  FText += kXmlDeclaration;
}

void TXmlWriter::CloseStartTag() {
  if (FOpen.empty() || FOpen.back().HasContent) return;
  FText += '>';
  FOpen.back().HasContent = true;
}

void TXmlWriter::StartElement(const std::string& prefix, const std::string& localName) {
  CloseStartTag();
  FText += '<';
  AppendQualifiedName(prefix, localName, FText);
  FOpen.push_back(TOpenElement{prefix, localName, false});
}

void TXmlWriter::Namespace(const std::string& prefix, const std::string& uri) {
  AppendNamespaceDecl(prefix, uri, FText);
}

void TXmlWriter::Attribute(const std::string& prefix, const std::string& localName,
                           const std::string& value) {
  AppendAttribute(prefix, localName, value, FText);
}

void TXmlWriter::Text(const std::string& text) {
  if (text.empty()) return;
  CloseStartTag();
  AppendEscapedText(text, FText);
}

void TXmlWriter::EndElement() {
  const TOpenElement& element = FOpen.back();
  if (element.HasContent)
    AppendEndTag(element.Prefix, element.LocalName, FText);
  else
    FText += "/>";
  FOpen.pop_back();
}

std::string TXmlWriter::Finish() {
  while (!FOpen.empty()) EndElement();
  FText += '\n';
  return std::move(FText);
}

std::string NodeXml(const TXmlNode& node) {
  std::string text;
  AppendNode(node, text);
  return text;
}

bool IsXmlText(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    uint32_t code = 0;
    const size_t length = DecodeUtf8(text, pos, code);
    if (length == 0 || !IsXmlChar(code)) return false;
    pos += length;
  }
  return true;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char ca = a[i], cb = b[i];
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca - 'A' + 'a');
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<char>(cb - 'A' + 'a');
    if (ca != cb) return false;
  }
  return true;
}

}  // namespace vorlen
