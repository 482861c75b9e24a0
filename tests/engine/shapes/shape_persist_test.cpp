#include <gtest/gtest.h>

#include "engine/document/document.h"
#include "engine/shapes/shape.h"
#include "platform/core/errors.h"
#include "platform/xml/xml.h"

namespace dtp {
namespace {

std::string ToXml(const TdtpShape& s) {
  xml::TXmlDocument doc;
  s.SaveToXml(doc.CreateRoot("shape"));
  return doc.WriteIndented();
}

// Every persisted value of the base class set away from its default.
void SetEverything(TdtpShape& s, int seed) {
  s.SetAllowResize(false);
  s.SetAllowMove(false);
  s.SetAllowRotate(false);
  s.SetAllowSelect(false);
  s.SetAllowDelete(false);
  s.SetAllowEdit(false);
  s.SetAnchors(saPosXProp | saSizeYProp | saRightLock | saBottomLock);
  s.SetCurb(1.5f, 2.5f, 3.5f, 4.5f);
  s.Constraints() = {1, 2, 300, 400};
  s.SetBoundsAndAngle(10.25f + seed, -3.5f, 40.125f, 20.0625f, 12.5f);
  s.SetAspectRatio(1.75f);
  s.SetFlipped(true);
  s.SetGrouped(true);
  s.SetMirrored(true);
  s.SetName("Grüße & <Karte> " + std::to_string(seed));
  s.SetPreserveAspect(true);
  s.SetAspectRatio(1.75f);
  s.SetTag(-42 - seed);
  s.SetVisible(false);
  s.SetMasterAlpha(128);
}

TEST(ShapeXml, DefaultShapeWritesOnlyClassNameAndAnchors) {
  TdtpShape s;
  EXPECT_EQ(ToXml(s), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                      "<shape>\r\n"
                      "  <ClassName>TdtpShape</ClassName>\r\n"
                      "  <Anchors>\r\n"
                      "    <default>True</default>\r\n"
                      "    <LeftLock>True</LeftLock>\r\n"
                      "    <TopLock>True</TopLock>\r\n"
                      "  </Anchors>\r\n"
                      "</shape>\r\n");
}

TEST(ShapeXml, EveryValueAwayFromItsDefaultRoundTrips) {
  TdtpShape root;
  SetEverything(root, 0);
  for (int i = 1; i <= 2; ++i) {
    auto c = std::make_unique<TdtpShape>();
    SetEverything(*c, i);
    c->AddShape(std::make_unique<TdtpShape>());
    root.AddShape(std::move(c));
  }
  const std::string text = ToXml(root);
  EXPECT_NE(text.find("<MasterAlpha>$80</MasterAlpha>"), std::string::npos);
  EXPECT_NE(text.find("<DocWidth>40.125</DocWidth>"), std::string::npos);
  EXPECT_NE(text.find("<Shape Index=\"2\">"), std::string::npos);
  EXPECT_NE(text.find("Gr\xC3\xBC\xC3\x9F"
                      "e &amp; &lt;Karte&gt;"),
            std::string::npos);

  xml::TXmlDocument doc;
  doc.Parse(text);
  TdtpShape copy;
  copy.LoadFromXml(doc.Root());
  EXPECT_EQ(ToXml(copy), text);
  EXPECT_EQ(copy.ShapeCount(), 2);
  EXPECT_EQ(copy.Shapes(1)->Tag(), -44);
  EXPECT_EQ(copy.Shapes(1)->ShapeCount(), 1);
  EXPECT_EQ(copy.Anchors(), saPosXProp | saSizeYProp | saRightLock | saBottomLock);
  EXPECT_EQ(copy.Constraints().MaxWidth, 400);
  EXPECT_FALSE(copy.Visible());
  EXPECT_EQ(copy.MasterAlpha(), 128);
  // Margins follow the stored curbs and flags.
  EXPECT_EQ(copy.OuterLeft(), root.OuterLeft());
  EXPECT_EQ(copy.OuterBottom(), root.OuterBottom());
}

TEST(ShapeXml, ReaderIgnoresCaseIndexAttributesAndUnknownElements) {
  xml::TXmlDocument doc;
  doc.Parse("<shape><classname>TdtpShape</classname><docwidth>105</docwidth>"
            "<DOCHEIGHT>1,5</DOCHEIGHT><visible>n</visible><Whatever>1</Whatever>"
            "<Shape Index=\"7\"><Tag>1</Tag></Shape>"
            "<shape Index=\"1\"><Tag>2</Tag></shape>"
            "<Shape><Tag>3</Tag></Shape></shape>");
  TdtpShape s;
  s.LoadFromXml(doc.Root());
  EXPECT_EQ(s.DocWidth(), 105);
  EXPECT_EQ(s.DocHeight(), 1.5f);
  EXPECT_FALSE(s.Visible());
  ASSERT_EQ(s.ShapeCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s.Shapes(i)->Tag(), i + 1);
}

TEST(ShapeXml, MissingAnchorsKeepTheCurrentFlags) {
  xml::TXmlDocument doc;
  doc.Parse("<shape><ClassName>TdtpShape</ClassName></shape>");
  TdtpShape s;
  s.SetAnchors(saBottomLock);
  s.LoadFromXml(doc.Root());
  EXPECT_EQ(s.Anchors(), saBottomLock);
  doc.Parse("<shape><Anchors><PosYProp>True</PosYProp></Anchors></shape>");
  s.LoadFromXml(doc.Root());
  EXPECT_EQ(s.Anchors(), saPosYProp);
}

TEST(ShapeXml, UnknownClassLoadsAsAPlainShapeWithItsGeometry) {
  xml::TXmlDocument doc;
  doc.Parse("<shape><ClassName>TdtpShape</ClassName>"
            "<Shape><ClassName>TdtpNoSuchShape</ClassName><DocLeft>3</DocLeft>"
            "<DocWidth>9</DocWidth><Special>x</Special></Shape></shape>");
  TdtpShape s;
  s.LoadFromXml(doc.Root());
  ASSERT_EQ(s.ShapeCount(), 1);
  EXPECT_EQ(s.Shapes(0)->ClassName(), "TdtpShape");
  EXPECT_EQ(s.Shapes(0)->DocLeft(), 3);
  EXPECT_EQ(s.Shapes(0)->DocWidth(), 9);
}

class TFailingShape : public TdtpShape {
public:
  static std::string StaticClassName() { return "TTestFailingShape"; }
  std::string ClassName() const override { return StaticClassName(); }
  void LoadFromXml(xml::TXmlNode node) override {
    TdtpShape::LoadFromXml(node);
    if (node.FindChild("Fail")) throw EDtpError("broken child");
  }
};

TEST(ShapeXml, AChildThatFailsIsReportedAndRemovedAndTheRestLoads) {
  RegisterShapeClass<TFailingShape>();
  TdtpDocument doc;
  std::vector<std::pair<TdtpShape*, std::string>> errors;
  doc.OnLoadError = [&](TdtpDocument*, TdtpShape* s, const std::string& e) {
    errors.emplace_back(s, e);
  };
  xml::TXmlDocument x;
  x.Parse("<shape><ClassName>TdtpShape</ClassName>"
          "<Shape><ClassName>TdtpShape</ClassName><Tag>1</Tag></Shape>"
          "<Shape><ClassName>TTestFailingShape</ClassName><Fail/></Shape>"
          "<Shape><ClassName>TTestFailingShape</ClassName><Tag>3</Tag></Shape></shape>");
  TdtpShape s;
  s.SetDocument(&doc);
  s.LoadFromXml(x.Root());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].first, &s);
  EXPECT_EQ(errors[0].second, "broken child");
  ASSERT_EQ(s.ShapeCount(), 2);
  EXPECT_EQ(s.Shapes(0)->Tag(), 1);
  EXPECT_EQ(s.Shapes(1)->Tag(), 3);
  EXPECT_EQ(s.Shapes(1)->ClassName(), "TTestFailingShape");
  // Reading is not an edit: nothing went to the undo list.
  EXPECT_EQ(doc.UndoCount(), 0);
}

TEST(ShapeXml, FixedChildrenAreReusedWhenLoading) {
  TdtpShape s;
  s.AddShape(std::make_unique<TdtpShape>());
  TdtpShape* fixed = s.Shapes(0);
  fixed->SetFixed(true);
  xml::TXmlDocument x;
  x.Parse("<shape><Shape><Tag>5</Tag></Shape><Shape><Tag>6</Tag></Shape></shape>");
  s.LoadFromXml(x.Root());
  ASSERT_EQ(s.ShapeCount(), 2);
  EXPECT_EQ(s.Shapes(0), fixed);
  EXPECT_EQ(fixed->Tag(), 5);
}

TEST(ShapeXml, LoadWithoutANodeRaises) {
  TdtpShape s;
  try {
    s.LoadFromXml(xml::TXmlNode());
    FAIL() << "no exception";
  } catch (const EDtpError& e) {
    EXPECT_STREQ(e.what(), "XML Node is not assigned");
  }
  EXPECT_THROW(TdtpShape::CreateFromXml(xml::TXmlNode()), EDtpError);
}

TEST(ShapeXml, AdditionalInfoEventsSeeTheShapeElement) {
  TdtpDocument doc;
  doc.OnShapeSaveAdditionalInfo = [](TdtpDocument*, TdtpShape*, xml::TXmlNode n) {
    n.AddChild("AppData").SetValue("hello");
  };
  std::string seen;
  doc.OnShapeLoadAdditionalInfo = [&](TdtpDocument*, TdtpShape*, xml::TXmlNode n) {
    seen = n.ReadString("AppData");
  };
  TdtpShape s;
  s.SetDocument(&doc);
  const std::string text = ToXml(s);
  xml::TXmlDocument x;
  x.Parse(text);
  s.LoadFromXml(x.Root());
  EXPECT_EQ(seen, "hello");
}

TEST(ShapeBinaryForm, RoundTripAndAssign) {
  TdtpShape root;
  SetEverything(root, 0);
  root.AddShape(std::make_unique<TdtpShape>());
  root.Shapes(0)->SetName("inner");
  const Bytes form = root.SaveToString();
  // Without storage: a zero resource count, then the XML block.
  ASSERT_GE(form.size(), 8u);
  EXPECT_EQ(form[0] | form[1] | form[2] | form[3], 0);

  TdtpShape copy;
  copy.LoadFromString(form);
  EXPECT_EQ(copy.SaveToString(), form);
  EXPECT_EQ(ToXml(copy), ToXml(root));

  int changes = 0;
  root.OnChange = [&](TdtpShape*) { ++changes; };
  TdtpShape assigned;
  assigned.AddShape(std::make_unique<TdtpShape>()); // replaced by Assign
  assigned.Assign(root);
  EXPECT_EQ(ToXml(assigned), ToXml(root));
  assigned.SetName("changed");
  EXPECT_EQ(changes, 1) << "events come along with Assign";

  TdtpShape untouched;
  untouched.LoadFromString({});
  EXPECT_EQ(untouched.ShapeCount(), 0);
}

Bytes Int32(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
          static_cast<uint8_t>(u >> 24)};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

TEST(ShapeBinaryForm, LyingLengthsRaiseAndLeaveTheShapeUsable) {
  const std::string xmlText = "<shape><DocWidth>5</DocWidth></shape>";
  const Bytes good = Concat({Int32(0), Int32(static_cast<int32_t>(xmlText.size())), Text(xmlText)});
  struct Case {
    const char* what;
    Bytes form;
  };
  const Case cases[] = {
      {"too short for the count", {1, 0}},
      {"negative resource count", Concat({Int32(-1), Int32(0)})},
      {"huge resource count", Concat({Int32(0x7FFFFFFF), Int32(0)})},
      {"name longer than the data", Concat({Int32(1), Int32(1000), Text("TMP")})},
      {"negative name length", Concat({Int32(1), Int32(-5), Int32(0), Int32(0)})},
      {"data length 2^31 - 1", Concat({Int32(1), Int32(3), Text("abc"), Int32(0x7FFFFFFF)})},
      {"xml length missing", Int32(0)},
      {"xml length beyond the end", Concat({Int32(0), Int32(500), Text("<shape/>")})},
      {"negative xml length", Concat({Int32(0), Int32(-1)})},
      {"truncated good form", Bytes(good.begin(), good.end() - 3)},
      {"malformed xml", Concat({Int32(0), Int32(9), Text("<shape><a")})},
  };
  for (const Case& c : cases) {
    TdtpShape s;
    s.SetBounds(1, 2, 3, 4);
    s.AddShape(std::make_unique<TdtpShape>());
    EXPECT_THROW(s.LoadFromString(c.form), EDtpError) << c.what;
    EXPECT_EQ(s.DocWidth(), 3) << c.what;
    EXPECT_EQ(s.ShapeCount(), 1) << c.what;
    s.LoadFromString(good); // still usable
    EXPECT_EQ(s.DocWidth(), 5) << c.what;
  }
}

} // namespace
} // namespace dtp
