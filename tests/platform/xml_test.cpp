#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/core/errors.h"
#include "platform/xml/xml.h"

namespace dtp::xml {
namespace {

constexpr const char* kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

std::string Nested(int depth, std::string_view inner = {}) {
  std::string s;
  s.reserve(static_cast<size_t>(depth) * 7 + inner.size());
  for (int i = 0; i < depth; ++i) s += "<a>";
  s += inner;
  for (int i = 0; i < depth; ++i) s += "</a>";
  return s;
}

// Runs `check` on a fresh parse of the document in both written forms.
void ForBothForms(const TXmlDocument& doc, const std::function<void(TXmlNode)>& check) {
  for (const bool indented : {true, false}) {
    SCOPED_TRACE(indented ? "indented" : "compact");
    TXmlDocument back;
    back.Parse(indented ? doc.WriteIndented() : doc.WriteCompact());
    check(back.Root());
  }
}

// ---------------------------------------------------------------------------------------
// Writer layout

TEST(XmlWriter, IndentedAndCompactLayout) {
  TXmlDocument doc;
  TXmlNode root = doc.CreateRoot("Card");
  root.SetAttribute("Version", "2");
  root.WriteFloat("DocWidth", 105, 0);
  TXmlNode page = root.AddChild("Page");
  page.WriteBool("Visible", false, true);
  root.AddChild("Empty");

  EXPECT_EQ(doc.WriteIndented(), std::string(kDecl) + "\r\n"
                                                      "<Card Version=\"2\">\r\n"
                                                      "  <DocWidth>105</DocWidth>\r\n"
                                                      "  <Page>\r\n"
                                                      "    <Visible>False</Visible>\r\n"
                                                      "  </Page>\r\n"
                                                      "  <Empty/>\r\n"
                                                      "</Card>\r\n");
  EXPECT_EQ(doc.WriteCompact(), std::string(kDecl) +
                                    "\n<Card Version=\"2\"><DocWidth>105</DocWidth><Page>"
                                    "<Visible>False</Visible></Page><Empty/></Card>\n");
}

TEST(XmlWriter, BinaryIsBrokenIntoIndentedLinesOnlyWhenIndented) {
  Bytes data;
  for (int i = 0; i < 120; ++i) data.push_back(static_cast<uint8_t>(i * 7));
  const std::string base64 = EncodeBase64(data); // 160 characters: 76 + 76 + 8
  ASSERT_EQ(base64.size(), 160u);

  TXmlDocument doc;
  doc.CreateRoot("Card").AddChild("Picture").WriteBinary("Data", data);

  EXPECT_EQ(doc.WriteIndented(), std::string(kDecl) + "\r\n<Card>\r\n  <Picture>\r\n    <Data>" +
                                     base64.substr(0, 76) + "\r\n      " + base64.substr(76, 76) +
                                     "\r\n      " + base64.substr(152) +
                                     "</Data>\r\n  </Picture>\r\n</Card>\r\n");
  EXPECT_EQ(doc.WriteCompact(),
            std::string(kDecl) + "\n<Card><Picture><Data>" + base64 + "</Data></Picture></Card>\n");
  ForBothForms(doc, [&](TXmlNode root) {
    EXPECT_EQ(root.FindChild("Picture").ReadBinary("Data"), data);
    EXPECT_EQ(root.FindChild("Picture").FindChild("Data").BinaryValue(), data);
  });
}

// ---------------------------------------------------------------------------------------
// Typed values

TEST(XmlValues, ValueEqualToDefaultIsNotWritten) {
  struct Case {
    const char* name;
    std::function<void(TXmlNode, bool same)> write;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"Bool", [](TXmlNode n, bool same) { n.WriteBool("V", true, same); }, "True"},
      {"Integer", [](TXmlNode n, bool same) { n.WriteInteger("V", 5, same ? 5 : 0); }, "5"},
      {"Float", [](TXmlNode n, bool same) { n.WriteFloat("V", 2.5, same ? 2.5 : 0); }, "2.5"},
      {"Color",
       [](TXmlNode n, bool same) { n.WriteColor("V", clWindow, same ? clWindow : clBlack); },
       "$00FFFFFF"},
      {"Hex", [](TXmlNode n, bool same) { n.WriteHex("V", 128, 2, same ? 128 : 255); }, "$80"},
      {"String", [](TXmlNode n, bool same) { n.WriteString("V", "x", same ? "x" : ""); }, "x"},
      {"EmptyString", [](TXmlNode n, bool) { n.WriteString("V", ""); }, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TXmlDocument doc;
    TXmlNode root = doc.CreateRoot("R");
    c.write(root, true);
    EXPECT_TRUE(root.Elements().empty());
    c.write(root, false);
    if (c.text) {
      ASSERT_EQ(root.Elements().size(), 1u);
      EXPECT_EQ(root.FindChild("V").Value(), c.text);
    } else {
      EXPECT_TRUE(root.Elements().empty());
    }
  }
}

TEST(XmlValues, TypedValuesRoundTrip) {
  TXmlDocument doc;
  TXmlNode root = doc.CreateRoot("Card");
  root.WriteBool("Flag", true, false);
  root.WriteInteger("Count", -123456789012, 0);
  root.WriteFloat("Width", 1.5e-7, 0);
  root.WriteFloat("Height", 1234567, 0);
  root.WriteColor("Fill", 0x00123456, clWhite);
  root.WriteColor("Line", clHighlight, clBlack);
  root.WriteHex("Alpha", 128, 2, 255);

  ForBothForms(doc, [](TXmlNode r) {
    EXPECT_TRUE(r.ReadBool("Flag", false));
    EXPECT_EQ(r.ReadInteger("Count", 0), -123456789012);
    EXPECT_DOUBLE_EQ(r.ReadFloat("Width", 0), 1.5e-7);
    EXPECT_DOUBLE_EQ(r.ReadFloat("Height", 0), 1.23457e6);
    EXPECT_EQ(r.ReadColor("Fill", clWhite), 0x00123456);
    EXPECT_EQ(r.ReadColor("Line", clBlack), ColorToRGB(clHighlight));
    EXPECT_EQ(r.ReadInteger("Alpha", 255), 128);
  });
}

TEST(XmlValues, StringsRoundTripExactly) {
  const std::vector<std::string> texts = {
      "&",       "<tag>",    "a \"q\" 'b'", "a\r\nb",    "line1\nline2\r\n",  "\r",
      "Grüße 😀", "]]>",      "&amp;",       "tab\there", "  lead and trail ", "   ",
      "\n",      "\x01\x1F", "a>b",
  };
  TXmlDocument doc;
  TXmlNode root = doc.CreateRoot("Card");
  for (const std::string& t : texts) root.WriteString("Text", t);
  ForBothForms(doc, [&](TXmlNode r) {
    const std::vector<TXmlNode> read = r.Elements("Text");
    ASSERT_EQ(read.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(read[i].Value(), texts[i]) << i;
  });
}

TEST(XmlValues, AttributesRoundTripExactly) {
  const std::string value = "a\"b'c<d>&e\tf\ng\r\nh";
  TXmlDocument doc;
  doc.CreateRoot("Card").SetAttribute("Name", value);
  ForBothForms(doc, [&](TXmlNode r) { EXPECT_EQ(r.Attribute("name"), value); });
}

TEST(XmlValues, MissingOrUnreadableValuesGiveTheReadDefault) {
  TXmlDocument doc;
  doc.Parse("<Card><Flag>0</Flag><Count>12abc</Count><Width>wide</Width>"
            "<Fill>red</Fill><Empty/></Card>");
  TXmlNode r = doc.Root();
  EXPECT_TRUE(r.ReadBool("Flag", true));
  EXPECT_FALSE(r.ReadBool("Flag", false));
  EXPECT_EQ(r.ReadInteger("Count", 7), 7);
  EXPECT_DOUBLE_EQ(r.ReadFloat("Width", 2.5), 2.5);
  EXPECT_EQ(r.ReadColor("Fill", clBtnFace), clBtnFace);
  EXPECT_EQ(r.ReadInteger("Empty", 3), 3);
  EXPECT_EQ(r.ReadInteger("Missing", -1), -1);
  EXPECT_EQ(r.ReadString("Missing", "none"), "none");
  EXPECT_EQ(r.ReadString("Empty", "none"), "");
  EXPECT_TRUE(r.ReadBinary("Missing").empty());
}

TEST(XmlValues, ReadsHandWrittenForms) {
  TXmlDocument doc;
  doc.Parse("<Card>\n"
            "  <docwidth>1,5</docwidth>\n"
            "  <COLOR>$FF000005</COLOR>\n"
            "  <Visible>yes</Visible>\n"
            "  <Data>\n    Zm9v\n    YmFy\n  </Data>\n"
            "  <Hex>666F6F\n626172</Hex>\n"
            "</Card>");
  TXmlNode r = doc.Root();
  EXPECT_DOUBLE_EQ(r.ReadFloat("DocWidth", 0), 1.5);
  EXPECT_EQ(r.ReadColor("Color", clBlack), clWindow);
  EXPECT_TRUE(r.ReadBool("Visible", false));
  EXPECT_EQ(r.ReadBinary("Data"), Bytes({'f', 'o', 'o', 'b', 'a', 'r'}));
  EXPECT_EQ(r.ReadBinary("Hex", "BinHex"), Bytes({'f', 'o', 'o', 'b', 'a', 'r'}));
  EXPECT_THROW(r.ReadBinary("Visible", "BinHex"), EXmlError);
}

// ---------------------------------------------------------------------------------------
// Navigation

TEST(XmlNodes, CaseInsensitiveLookupInDocumentOrder) {
  TXmlDocument doc;
  doc.Parse("<Card><Page N=\"1\"/><Unknown><Page N=\"x\"/></Unknown><PAGE N=\"2\"/>"
            "<page N=\"3\"/><Pages/></Card>");
  TXmlNode r = doc.Root();
  EXPECT_EQ(r.Name(), "Card");
  std::vector<std::string> order;
  for (const TXmlNode& p : r.Elements("Page")) order.push_back(p.Attribute("n"));
  EXPECT_EQ(order, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(r.Elements().size(), 5u);
  EXPECT_EQ(r.FindChild("pAgE").Attribute("N"), "1");
  EXPECT_FALSE(r.FindChild("Pag"));
  EXPECT_TRUE(r.FindChild("Unknown").FindChild("Page").Parent() == r.FindChild("Unknown"));
  EXPECT_FALSE(r.Parent());
}

TEST(XmlNodes, SetAttributeReplacesInAnyCase) {
  TXmlDocument doc;
  doc.Parse("<Card id=\"1\"/>");
  TXmlNode r = doc.Root();
  r.SetAttribute("ID", "2");
  EXPECT_EQ(r.Attribute("id"), "2");
  EXPECT_EQ(doc.WriteCompact(), std::string(kDecl) + "\n<Card id=\"2\"/>\n");
  EXPECT_TRUE(r.HasAttribute("Id"));
  EXPECT_FALSE(r.HasAttribute("Idx"));
}

TEST(XmlNodes, SetValueReplacesTextAndKeepsChildren) {
  TXmlDocument doc;
  TXmlNode r = doc.CreateRoot("R");
  r.SetValue("one");
  r.AddChild("C");
  r.SetValue("two");
  EXPECT_EQ(r.Value(), "two");
  EXPECT_EQ(r.Elements().size(), 1u);
  r.SetValue("");
  EXPECT_EQ(r.Value(), "");
  EXPECT_EQ(doc.WriteCompact(), std::string(kDecl) + "\n<R><C/></R>\n");
}

TEST(XmlNodes, EmptyHandleIsHarmless) {
  TXmlNode n;
  EXPECT_FALSE(n);
  EXPECT_EQ(n.Name(), "");
  EXPECT_EQ(n.Value(), "");
  EXPECT_FALSE(n.FindChild("A"));
  EXPECT_TRUE(n.Elements().empty());
  EXPECT_TRUE(n.Elements("A").empty());
  EXPECT_FALSE(n.Parent());
  EXPECT_FALSE(n.HasAttribute("A"));
  EXPECT_EQ(n.Attribute("A"), "");
  EXPECT_TRUE(n.ReadBool("A", true));
  EXPECT_EQ(n.ReadInteger("A", 4), 4);
  EXPECT_DOUBLE_EQ(n.ReadFloat("A", 1.5), 1.5);
  EXPECT_EQ(n.ReadColor("A", clWhite), clWhite);
  EXPECT_EQ(n.ReadString("A", "d"), "d");
  EXPECT_TRUE(n.ReadBinary("A").empty());
  EXPECT_TRUE(n.BinaryValue().empty());

  EXPECT_FALSE(n.AddChild("A"));
  n.SetValue("x");
  n.SetAttribute("A", "x");
  n.WriteBool("A", true, false);
  n.WriteInteger("A", 1, 0);
  n.WriteFloat("A", 1, 0);
  n.WriteColor("A", clWhite, clBlack);
  n.WriteHex("A", 1, 2, 0);
  n.WriteString("A", "x");
  EXPECT_FALSE(n.WriteBinary("A", {1, 2, 3}));
  n.SetBinaryValue({1});
  EXPECT_EQ(n.Value(), "");

  TXmlDocument doc;
  EXPECT_FALSE(doc.Root());
  EXPECT_EQ(doc.WriteCompact(), std::string(kDecl) + "\n\n");
}

// ---------------------------------------------------------------------------------------
// Parsing

TEST(XmlParse, AcceptsDeclarationWhitespaceAndLimitDepth) {
  TXmlDocument doc;
  doc.Parse(std::string(kDecl) + "\r\n<Card>\r\n  <A>1</A>\r\n</Card>\r\n");
  EXPECT_EQ(doc.Root().Value(), "");
  EXPECT_EQ(doc.Root().ReadInteger("A", 0), 1);

  // 256 levels of elements is the limit; text inside the innermost is no extra level.
  doc.Parse(Nested(256, "deep"));
  TXmlNode n = doc.Root();
  for (int i = 1; i < 256; ++i) n = n.FindChild("a");
  EXPECT_EQ(n.Value(), "deep");
}

TEST(XmlParse, RejectsMalformedInputAndLeavesDocumentEmpty) {
  const std::string laughs = "<?xml version=\"1.0\"?>\n"
                             "<!DOCTYPE lolz [\n"
                             " <!ENTITY lol \"lol\">\n"
                             " <!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
                             " <!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">\n"
                             "]>\n"
                             "<lolz>&lol2;</lolz>";
  std::string groups = "<!DOCTYPE a [";
  for (int i = 0; i < 100000; ++i) groups += "<!ELEMENT ";
  struct Case {
    const char* name;
    std::string text;
    const char* message; // a part of the error message
  };
  const std::vector<Case> cases = {
      {"empty", "", "no root element"},
      {"declaration only", kDecl, "no root element"},
      {"unclosed", "<a><b></b>", "XML parse error"},
      {"mismatched", "<a></b>", "XML parse error at offset"},
      {"bad attribute", "<a x=1/>", "XML parse error"},
      {"bad name", "<1a/>", "XML parse error"},
      {"two roots", "<a/><b/>", "more than one root element"},
      {"text before root", "junk<a/>", "text outside the root element"},
      {"text after root", "<a/>junk", "text outside the root element"},
      {"doctype", "<!DOCTYPE a><a/>", "document type declarations are not supported"},
      {"entity bomb", laughs, "document type declarations are not supported"},
      {"nested doctype groups", groups, "XML parse error"},
      {"257 levels", Nested(257), "XML nesting too deep"},
      {"a million levels", Nested(1000000), "XML nesting too deep"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TXmlDocument doc;
    doc.Parse("<Previous><A/></Previous>");
    try {
      doc.Parse(c.text);
      ADD_FAILURE() << "no error";
    } catch (const EXmlError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_FALSE(doc.Root());
    EXPECT_EQ(doc.WriteCompact(), std::string(kDecl) + "\n\n");
  }
}

} // namespace
} // namespace dtp::xml
