#include "platform/xml/xml.h"

#include <algorithm>
#include <functional>

#include "platform/core/errors.h"
#include "platform/core/limits.h"
#include "platform/core/text.h"

namespace dtp::xml {

namespace {

bool IsText(const pugi::xml_node& n) {
  return n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata;
}

void EscapeInto(std::string& out, std::string_view s, bool attribute) {
  for (const char c : s) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      if (attribute)
        out += "&quot;";
      else
        out += c;
      break;
    default:
      // A literal CR would be folded into LF by any reader, and tabs and line feeds in
      // attributes would become blanks; character references keep them.
      if (static_cast<unsigned char>(c) < 0x20 && ((c != '\t' && c != '\n') || attribute)) {
        out += "&#";
        out += std::to_string(static_cast<unsigned char>(c));
        out += ';';
      } else {
        out += c;
      }
    }
  }
}

constexpr int kBinaryLine = 76;

} // namespace

// ---------------------------------------------------------------------------------------
// TXmlNode

std::string TXmlNode::Name() const { return m_Node.name(); }

std::string TXmlNode::Value() const {
  std::string out;
  for (pugi::xml_node c = m_Node.first_child(); c; c = c.next_sibling())
    if (IsText(c)) out += c.value();
  return out;
}

void TXmlNode::SetValue(std::string_view text) {
  if (!m_Node) return;
  for (pugi::xml_node c = m_Node.first_child(); c;) {
    pugi::xml_node next = c.next_sibling();
    if (IsText(c)) m_Node.remove_child(c);
    c = next;
  }
  if (!text.empty()) m_Node.prepend_child(pugi::node_pcdata).set_value(std::string(text).c_str());
}

TXmlNode TXmlNode::FindChild(std::string_view name) const {
  for (pugi::xml_node c = m_Node.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && SameText(c.name(), name)) return {c, m_Owner};
  return {};
}

std::vector<TXmlNode> TXmlNode::Elements() const {
  std::vector<TXmlNode> out;
  for (pugi::xml_node c = m_Node.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element) out.emplace_back(c, m_Owner);
  return out;
}

std::vector<TXmlNode> TXmlNode::Elements(std::string_view name) const {
  std::vector<TXmlNode> out;
  for (pugi::xml_node c = m_Node.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && SameText(c.name(), name)) out.emplace_back(c, m_Owner);
  return out;
}

TXmlNode TXmlNode::Parent() const {
  pugi::xml_node p = m_Node.parent();
  if (!p || p.type() != pugi::node_element) return {};
  return {p, m_Owner};
}

TXmlNode TXmlNode::AddChild(std::string_view name) {
  if (!m_Node) return {};
  return {m_Node.append_child(std::string(name).c_str()), m_Owner};
}

bool TXmlNode::HasAttribute(std::string_view name) const {
  for (pugi::xml_attribute a = m_Node.first_attribute(); a; a = a.next_attribute())
    if (SameText(a.name(), name)) return true;
  return false;
}

std::string TXmlNode::Attribute(std::string_view name) const {
  for (pugi::xml_attribute a = m_Node.first_attribute(); a; a = a.next_attribute())
    if (SameText(a.name(), name)) return a.value();
  return {};
}

void TXmlNode::SetAttribute(std::string_view name, std::string_view value) {
  if (!m_Node) return;
  // Attributes are found without regard to case, so an existing one is replaced in any
  // case rather than shadowed by a second attribute of the same name.
  pugi::xml_attribute a = m_Node.first_attribute();
  while (a && !SameText(a.name(), name)) a = a.next_attribute();
  if (!a) a = m_Node.append_attribute(std::string(name).c_str());
  a.set_value(std::string(value).c_str());
}

bool TXmlNode::ReadBool(std::string_view name, bool def) const {
  const TXmlNode c = FindChild(name);
  return c ? TextToBool(c.Value(), def) : def;
}

int64_t TXmlNode::ReadInteger(std::string_view name, int64_t def) const {
  const TXmlNode c = FindChild(name);
  return c ? TextToInt(c.Value(), def) : def;
}

double TXmlNode::ReadFloat(std::string_view name, double def) const {
  const TXmlNode c = FindChild(name);
  return c ? TextToFloat(c.Value(), def) : def;
}

TColor TXmlNode::ReadColor(std::string_view name, TColor def) const {
  return static_cast<TColor>(static_cast<uint32_t>(ReadInteger(name, def)));
}

std::string TXmlNode::ReadString(std::string_view name, std::string_view def) const {
  const TXmlNode c = FindChild(name);
  return c ? c.Value() : std::string(def);
}

Bytes TXmlNode::ReadBinary(std::string_view name, std::string_view filter) const {
  const TXmlNode c = FindChild(name);
  if (!c) return {};
  if (SameText(filter, "BinHex")) return DecodeBinHex(c.Value());
  return DecodeBase64(c.Value());
}

Bytes TXmlNode::BinaryValue() const { return DecodeBase64(Value()); }

void TXmlNode::WriteBool(std::string_view name, bool v, bool def) {
  if (v != def) AddChild(name).SetValue(BoolToText(v));
}

void TXmlNode::WriteInteger(std::string_view name, int64_t v, int64_t def) {
  if (v != def) AddChild(name).SetValue(IntToText(v));
}

void TXmlNode::WriteFloat(std::string_view name, double v, double def) {
  if (v != def) AddChild(name).SetValue(FloatToText(v));
}

void TXmlNode::WriteColor(std::string_view name, TColor v, TColor def) {
  if (v != def) AddChild(name).SetValue(ColorToText(v));
}

void TXmlNode::WriteHex(std::string_view name, uint32_t v, int minDigits, uint32_t def) {
  if (v != def) AddChild(name).SetValue(HexToText(v, minDigits));
}

void TXmlNode::WriteString(std::string_view name, std::string_view v, std::string_view def) {
  if (v != def) AddChild(name).SetValue(v);
}

TXmlNode TXmlNode::WriteBinary(std::string_view name, const Bytes& data) {
  TXmlNode c = AddChild(name);
  c.SetBinaryValue(data);
  return c;
}

void TXmlNode::SetBinaryValue(const Bytes& data) {
  if (!m_Node) return;
  SetValue(EncodeBase64(data));
  if (m_Owner) m_Owner->MarkBinary(m_Node);
}

// ---------------------------------------------------------------------------------------
// TXmlDocument

TXmlDocument::TXmlDocument() = default;
TXmlDocument::~TXmlDocument() = default;

void TXmlDocument::Clear() {
  m_Doc.reset();
  m_BinaryNodes.clear();
}

void TXmlDocument::Parse(std::string_view text) {
  Clear();
  // Whitespace-only text is kept where it is an element's whole content (a value of
  // blanks), not where it sits between elements. Fragment mode keeps text outside the
  // root element in the tree so that it can be rejected below instead of dropped.
  const unsigned options = pugi::parse_default | pugi::parse_doctype |
                           pugi::parse_ws_pcdata_single | pugi::parse_fragment;
  const pugi::xml_parse_result r =
      m_Doc.load_buffer(text.data(), text.size(), options, pugi::encoding_utf8);
  if (!r) {
    Clear();
    throw EXmlError(FormatMessage("XML parse error at offset %d: %s",
                                  {std::to_string(r.offset), r.description()}));
  }
  const auto fail = [this](const char* message) {
    Clear();
    throw EXmlError(message);
  };
  // Exactly one element at the top, and nothing but it.
  int roots = 0;
  for (pugi::xml_node top = m_Doc.first_child(); top; top = top.next_sibling()) {
    if (top.type() == pugi::node_doctype) fail("XML document type declarations are not supported");
    if (IsText(top)) fail("XML text outside the root element");
    if (top.type() == pugi::node_element) ++roots;
  }
  if (roots == 0) fail("XML document has no root element");
  if (roots > 1) fail("XML document has more than one root element");
  // Walk the tree without recursion and reject trees deeper than the limit. `level` is
  // the number of elements enclosing `n`; the root element is at depth 1, and text is not
  // a level of its own.
  const pugi::xml_node root = m_Doc.document_element();
  int level = 0;
  pugi::xml_node n = root;
  while (n) {
    if (n.type() == pugi::node_doctype) fail("XML document type declarations are not supported");
    if (n.first_child()) {
      n = n.first_child();
      ++level;
      if (n.type() == pugi::node_element && level + 1 > limits::kMaxXmlDepth)
        fail("XML nesting too deep");
      continue;
    }
    while (n != root && !n.next_sibling()) {
      n = n.parent();
      --level;
    }
    n = n == root ? pugi::xml_node() : n.next_sibling();
  }
}

TXmlNode TXmlDocument::Root() { return {m_Doc.document_element(), this}; }

TXmlNode TXmlDocument::CreateRoot(std::string_view name) {
  Clear();
  return {m_Doc.append_child(std::string(name).c_str()), this};
}

void TXmlDocument::MarkBinary(pugi::xml_node node) {
  m_BinaryNodes.insert(node.internal_object());
}

bool TXmlDocument::IsBinary(pugi::xml_node node) const {
  return m_BinaryNodes.count(node.internal_object()) > 0;
}

namespace {

struct Writer {
  const TXmlDocument* doc;
  bool indented;
  std::string& out;
  std::function<bool(pugi::xml_node)> isBinary;

  void Indent(int depth) {
    if (indented) out.append(static_cast<size_t>(depth) * 2, ' ');
  }
  void LineEnd() {
    if (indented) out += "\r\n";
  }

  void Text(pugi::xml_node node, const std::string& text, int depth) {
    if (!isBinary(node) || !indented) {
      EscapeInto(out, text, false);
      return;
    }
    // Base64 text needs no escaping; break it into indented lines.
    std::string plain;
    plain.reserve(text.size());
    for (const char c : text)
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') plain += c;
    for (size_t i = 0; i < plain.size(); i += kBinaryLine) {
      if (i > 0) {
        out += "\r\n";
        Indent(depth + 1);
      }
      out.append(plain, i, kBinaryLine);
    }
  }

  void Element(pugi::xml_node node, int depth) {
    Indent(depth);
    out += '<';
    out += node.name();
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
      out += ' ';
      out += a.name();
      out += "=\"";
      EscapeInto(out, a.value(), true);
      out += '"';
    }
    std::string text;
    bool hasElements = false;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
      if (IsText(c))
        text += c.value();
      else if (c.type() == pugi::node_element)
        hasElements = true;
    }
    if (text.empty() && !hasElements) {
      out += "/>";
      LineEnd();
      return;
    }
    out += '>';
    Text(node, text, depth);
    if (hasElements) {
      LineEnd();
      for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element) Element(c, depth + 1);
      Indent(depth);
    }
    out += "</";
    out += node.name();
    out += '>';
    LineEnd();
  }
};

} // namespace

void TXmlDocument::Write(std::string& out, bool indented) const {
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  out += indented ? "\r\n" : "\n";
  Writer w{this, indented, out, [this](pugi::xml_node n) { return IsBinary(n); }};
  const pugi::xml_node root = m_Doc.document_element();
  if (root) w.Element(root, 0);
  if (!indented) out += '\n';
}

std::string TXmlDocument::WriteIndented() const {
  std::string out;
  Write(out, true);
  return out;
}

std::string TXmlDocument::WriteCompact() const {
  std::string out;
  Write(out, false);
  return out;
}

} // namespace dtp::xml
