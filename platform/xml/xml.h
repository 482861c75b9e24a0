#pragma once
// The XML node API of the engine over pugixml. A TXmlDocument owns its tree; TXmlNode is
// a light handle that is safe to use when empty (every query answers a default, every
// write is ignored). Element names are looked up without regard to letter case.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <pugixml.hpp>

#include "platform/core/color.h"
#include "platform/xml/values.h"

namespace dtp::xml {

class TXmlDocument;

class TXmlNode {
public:
  TXmlNode() = default;
  TXmlNode(pugi::xml_node node, TXmlDocument* owner) : m_Node(node), m_Owner(owner) {}

  bool IsAssigned() const { return static_cast<bool>(m_Node); }
  explicit operator bool() const { return IsAssigned(); }
  bool operator==(const TXmlNode& other) const { return m_Node == other.m_Node; }

  std::string Name() const;
  // The element's own text: all of its text children joined.
  std::string Value() const;
  void SetValue(std::string_view text);

  // First child element whose name matches without regard to case; empty when none.
  TXmlNode FindChild(std::string_view name) const;
  // Child elements in document order; with a name, only those matching it (any case).
  std::vector<TXmlNode> Elements() const;
  std::vector<TXmlNode> Elements(std::string_view name) const;
  TXmlNode Parent() const;
  // Appends a new child element.
  TXmlNode AddChild(std::string_view name);

  bool HasAttribute(std::string_view name) const;
  std::string Attribute(std::string_view name) const;
  void SetAttribute(std::string_view name, std::string_view value);

  // Typed reading of a named child element; a missing or unreadable value gives `def`.
  bool ReadBool(std::string_view name, bool def) const;
  int64_t ReadInteger(std::string_view name, int64_t def) const;
  double ReadFloat(std::string_view name, double def) const;
  TColor ReadColor(std::string_view name, TColor def) const;
  std::string ReadString(std::string_view name, std::string_view def = {}) const;
  // Binary values: Base64 by default, BinHex when `filter` says so. A missing element gives
  // no bytes; malformed data raises EXmlError.
  Bytes ReadBinary(std::string_view name, std::string_view filter = "Base64") const;
  // This element's own text decoded as Base64.
  Bytes BinaryValue() const;

  // Typed writing: a value equal to `def` is not written.
  void WriteBool(std::string_view name, bool v, bool def);
  void WriteInteger(std::string_view name, int64_t v, int64_t def);
  void WriteFloat(std::string_view name, double v, double def);
  void WriteColor(std::string_view name, TColor v, TColor def);
  void WriteHex(std::string_view name, uint32_t v, int minDigits, uint32_t def);
  void WriteString(std::string_view name, std::string_view v, std::string_view def = {});
  // Always written (Base64); in indented documents broken into 76-character lines.
  TXmlNode WriteBinary(std::string_view name, const Bytes& data);
  void SetBinaryValue(const Bytes& data);

  pugi::xml_node Raw() const { return m_Node; }

private:
  pugi::xml_node m_Node;
  TXmlDocument* m_Owner = nullptr;
};

class TXmlDocument {
public:
  TXmlDocument();
  ~TXmlDocument();
  TXmlDocument(const TXmlDocument&) = delete;
  TXmlDocument& operator=(const TXmlDocument&) = delete;

  // Replaces the tree by the parsed text. Malformed XML, a document type declaration,
  // or nesting deeper than the limit raise EXmlError and leave the document empty.
  void Parse(std::string_view text);

  // The root element, empty when there is none.
  TXmlNode Root();
  // Clears the document and creates a root element of that name.
  TXmlNode CreateRoot(std::string_view name);
  void Clear();

  // One element per line, two spaces per level, CR LF line ends.
  std::string WriteIndented() const;
  // No whitespace inside the tree; LF after the declaration and after the root element.
  std::string WriteCompact() const;

private:
  friend class TXmlNode;
  void MarkBinary(pugi::xml_node node);
  bool IsBinary(pugi::xml_node node) const;
  void Write(std::string& out, bool indented) const;

  pugi::xml_document m_Doc;
  std::unordered_set<const void*> m_BinaryNodes;
};

} // namespace dtp::xml
