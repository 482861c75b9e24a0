#include <gtest/gtest.h>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "platform/xml/xml.h"

namespace dtp {
namespace {

TEST(Page, NewPageDefaults) {
  TdtpPage page;
  EXPECT_EQ(page.ClassName(), "TdtpPage");
  EXPECT_EQ(page.DocWidth(), 210);
  EXPECT_EQ(page.DocHeight(), 297);
  EXPECT_TRUE(page.IsDefaultPage());
  EXPECT_TRUE(page.ContentLoaded());
  EXPECT_EQ(page.OuterRight(), 1);
  EXPECT_EQ(page.OuterBottom(), 1);
  EXPECT_EQ(page.OuterLeft(), 0);
  // Without a document a default page reports its own fields.
  EXPECT_EQ(page.MarginLeft(), 10);
  EXPECT_EQ(page.GridColor(), 0xFFFFC0);
  EXPECT_EQ(page.HelperMethod(), hmNone);
  EXPECT_FALSE(page.ShowMargins());
  EXPECT_EQ(page.ViewStyle(), vsNormal);
  EXPECT_EQ(page.Index(), -1);
  EXPECT_EQ(page.Title(), "Page 0");
}

TEST(Page, TitleAndIndex) {
  TdtpDocument doc;
  doc.SetPageCount(3);
  EXPECT_EQ(doc.Pages(2)->Title(), "Page 3");
  EXPECT_EQ(doc.Pages(2)->Index(), 2);
  doc.Pages(2)->SetName("Innenseite");
  EXPECT_EQ(doc.Pages(2)->Title(), "Innenseite");
  EXPECT_EQ(doc.Pages(2)->GetDisplayName(), "Innenseite");
}

TEST(Page, FirstOwnMarginCopiesTheDefaultsOfThatMoment) {
  TdtpDocument doc;
  doc.SetDefaultMarginTop(7);
  doc.SetDefaultPageColor(0x123456);
  TdtpPage* page = doc.CurrentPage();
  EXPECT_EQ(page->MarginTop(), 7);
  page->SetMarginLeft(3);
  EXPECT_FALSE(page->IsDefaultPage());
  EXPECT_EQ(page->MarginLeft(), 3);
  EXPECT_EQ(page->MarginTop(), 7);
  EXPECT_EQ(page->MarginRight(), 10);
  EXPECT_EQ(page->PageColor(), 0x123456);
  doc.SetDefaultMarginTop(20);
  doc.SetDefaultPageColor(0);
  EXPECT_EQ(page->MarginTop(), 7);
  EXPECT_EQ(page->PageColor(), 0x123456);
  // Setting a margin to its effective value changes nothing.
  TdtpPage* other = doc.Pages(doc.AddPage());
  other->SetMarginBottom(10);
  EXPECT_TRUE(other->IsDefaultPage());
}

TEST(Page, SnapToGrid) {
  TdtpDocument doc;
  TdtpPage* page = doc.CurrentPage();
  struct Case {
    float grid;
    TFloatPoint in, out;
  };
  for (const Case c : {Case{5, {12.4f, 12.6f}, {10, 15}},
                       {5, {12.5f, 7.5f}, {10, 10}},
                       {5, {-2.5f, 17.5f}, {0, 20}},
                       {0, {12.4f, 12.6f}, {12.4f, 12.6f}}}) {
    doc.SetDefaultGridSize(c.grid);
    const TFloatPoint p = page->SnapPoint(c.in);
    EXPECT_FLOAT_EQ(p.X, c.out.X) << c.grid << " " << c.in.X;
    EXPECT_FLOAT_EQ(p.Y, c.out.Y) << c.grid << " " << c.in.Y;
  }
  // A shape on the page snaps in its own frame through the page.
  doc.SetDefaultGridSize(5);
  auto s = std::make_unique<TdtpShape>();
  s->SetBounds(1, 1, 10, 10);
  TdtpShape* shape = s.get();
  doc.AddShape(std::move(s));
  const TFloatPoint q = shape->SnapPoint({3.2f, 8.9f}); // page point (4.2, 9.9)
  EXPECT_FLOAT_EQ(q.X, 4);
  EXPECT_FLOAT_EQ(q.Y, 9);
}

TEST(Page, ModifiedMakesTheThumbnailDirty) {
  TdtpDocument doc;
  TdtpPage* page = doc.CurrentPage();
  ASSERT_NE(page->Thumbnail(), nullptr);
  EXPECT_FALSE(page->ThumbnailDirty());
  const TBitmap32* first = page->Thumbnail();
  EXPECT_EQ(first->Width(), 80);
  EXPECT_EQ(first->Height(), 60);
  EXPECT_EQ(page->Thumbnail(), first) << "a clean thumbnail is reused";
  doc.AddShape(std::make_unique<TdtpShape>());
  EXPECT_TRUE(page->ThumbnailDirty());
  TBitmap32 external(4, 3);
  page->SetThumbnail(&external);
  EXPECT_FALSE(page->ThumbnailDirty());
  EXPECT_EQ(page->Thumbnail()->Width(), 4);
  TdtpPage loose;
  EXPECT_EQ(loose.Thumbnail(), nullptr);
}

TEST(Page, ThumbnailFrameFitsThePage) {
  TdtpDocument doc;
  doc.SetPageWidth(105);
  doc.SetPageHeight(148);
  const TBitmap32* t = doc.CurrentPage()->Thumbnail();
  // s = min(60/148, 80/105); w = Round(s·105) = 43, h = 60, left = (80 − 43) div 2 = 18.
  EXPECT_EQ(t->Pixel(18, 30), 0xFF000000u);
  EXPECT_EQ(t->Pixel(18 + 42, 30), 0xFF000000u);
  EXPECT_EQ(t->Pixel(17, 30), Color32FromColor(doc.Color()));
  EXPECT_EQ(t->Pixel(30, 0), 0xFF000000u);
  EXPECT_EQ(t->Pixel(30, 59), 0xFF000000u);
}

TEST(PageXml, DefaultAndOwnPagesRoundTrip) {
  TdtpDocument doc;
  doc.AddPage();
  TdtpPage* own = doc.Pages(1);
  own->SetMarginLeft(3.5f);
  own->SetPageColor(0); // black must survive
  own->SetGridColor(0x00FF00);
  own->SetBackgroundTiled(true);
  own->SetPageWidth(105);
  own->AddShape(std::make_unique<TdtpShape>());
  for (TdtpPage* page : {doc.Pages(0), own}) {
    xml::TXmlDocument x;
    xml::TXmlNode root = x.CreateRoot("Page");
    page->SaveToXml(root);
    const std::string text = x.WriteCompact();
    xml::TXmlDocument y;
    y.Parse(text);
    TdtpDocument other;
    TdtpPage* copy = other.CurrentPage();
    copy->LoadFromXml(y.Root());
    xml::TXmlDocument z;
    copy->SaveToXml(z.CreateRoot("Page"));
    EXPECT_EQ(z.WriteCompact(), text);
    EXPECT_EQ(copy->IsDefaultPage(), page->IsDefaultPage());
    EXPECT_EQ(copy->PageColor(), page->PageColor());
    EXPECT_EQ(copy->DocWidth(), page->DocWidth());
    EXPECT_EQ(other.UndoCount(), 0);
  }
  xml::TXmlDocument x;
  doc.Pages(0)->SaveToXml(x.CreateRoot("Page"));
  EXPECT_EQ(x.Root().FindChild("IsDefaultPage"), xml::TXmlNode()) << "True is the default";
  EXPECT_EQ(x.Root().Elements().front().Name(), "ClassName");
}

TEST(PageXml, OwnPageElementsComeFirstAndInOrder) {
  TdtpDocument doc;
  TdtpPage* page = doc.CurrentPage();
  page->SetIsDefaultPage(false);
  xml::TXmlDocument x;
  page->SaveToXml(x.CreateRoot("Page"));
  std::vector<std::string> names;
  for (const auto& e : x.Root().Elements()) names.push_back(e.Name());
  const std::vector<std::string> expected = {
      "IsDefaultPage", "MarginLeft", "MarginTop", "MarginRight", "MarginBottom", "GridSize",
      "GridColor",     "PageColor",  "PageWidth", "PageHeight",  "ClassName"};
  ASSERT_GE(names.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + expected.size()), expected);
}

} // namespace
} // namespace dtp

namespace dtp {
namespace {

TEST(Page, ThumbnailShowsThePage) {
  TdtpDocument doc;
  doc.SetPageWidth(105);
  doc.SetPageHeight(148);
  doc.SetDefaultPageColor(0x00FFFF); // yellow in 0x00BBGGRR
  const TBitmap32* t = doc.CurrentPage()->Thumbnail();
  EXPECT_EQ(t->Pixel(40, 30), 0xFFFFFF00u) << "the page colour inside the frame";
  EXPECT_EQ(t->Pixel(5, 30), Color32FromColor(doc.Color())) << "the surround outside it";
  EXPECT_FALSE(doc.IsPrinting());
}

} // namespace
} // namespace dtp
