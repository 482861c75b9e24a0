// Whole pictures compared with stored ones: the page's own painting in print layout, a shape
// put through its cache turned and half transparent, a tiled background.

#include <gtest/gtest.h>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/shapes/render.h"
#include "tests/support/golden.h"
#include "tests/support/solid_shape.h"

namespace dtp {
namespace {

using test::MatchesGolden;
using test::TSolidShape;

constexpr int kTolerance = 2;

TDeviceContext Context(TDeviceType device, float dpm) {
  TDeviceContext c;
  c.Device = device;
  c.ScreenDpm = dpm;
  c.RenderDpm = dpm;
  c.Quality = sfLinear;
  return c;
}

// Renders the current page of `doc` over a grey desk, `pad` mm of desk around it.
TBitmap32 RenderPage(TdtpDocument& doc, TDeviceType device, float dpm, float pad) {
  TdtpPage* page = doc.CurrentPage();
  const TFloatRect area{-pad, -pad, page->DocWidth() + pad, page->DocHeight() + pad};
  TBitmap32 bmp(int((area.Right - area.Left) * dpm + 0.5f),
                int((area.Bottom - area.Top) * dpm + 0.5f));
  bmp.Clear(0xFF808080u);
  DrawShape(*page, bmp, area, true, Context(device, dpm));
  return bmp;
}

TEST(Golden, PageInPrintLayout) {
  TdtpDocument doc;
  doc.SetPageWidth(40);
  doc.SetPageHeight(30);
  doc.SetShowMargins(true);
  doc.SetHelperMethod(hmGrid);
  doc.SetDefaultGridColor(0xE0A060); // a light blue in 0x00BBGGRR
  auto shape = std::make_unique<TSolidShape>(0xFF2060C0u, 0xFFF0C020u);
  shape->SetBounds(12, 8, 16, 12);
  doc.AddShape(std::move(shape));
  EXPECT_TRUE(MatchesGolden("page_print_layout", RenderPage(doc, dtScreen, 3, 2), kTolerance));
}

TEST(Golden, CachedShapeTurnedAndHalfTransparent) {
  TdtpDocument doc;
  doc.SetPageWidth(30);
  doc.SetPageHeight(30);
  doc.SetShowMargins(false);
  // A black bar under the shape shows the half transparency.
  auto bar = std::make_unique<TSolidShape>(0xFF000000u);
  bar->SetBounds(0, 13, 30, 4);
  doc.AddShape(std::move(bar));
  auto shape = std::make_unique<TSolidShape>(0xFFE02020u, 0xFF2040E0u);
  shape->SetBoundsAndAngle(6, 9, 18, 12, 30);
  shape->SetMasterAlpha(128);
  TSolidShape* turned = shape.get();
  doc.AddShape(std::move(shape));
  EXPECT_TRUE(MatchesGolden("cached_shape_turned", RenderPage(doc, dtPrinter, 4, 0), kTolerance));
  EXPECT_NE(turned->CacheBitmap(), nullptr);
}

TEST(Golden, TiledBackground) {
  TdtpDocument doc;
  doc.SetPageWidth(30);
  doc.SetPageHeight(20);
  doc.SetShowMargins(false);
  // A 12 px tile (about 2 mm at 150 DPI) with a diagonal and a dot, stretched to 4 dpm.
  TBitmap32 tile(12, 12);
  tile.Clear(0xFFF8F0D0u);
  for (int i = 0; i < 12; ++i) tile.FillRect(i, i, i + 1, i + 1, 0xFF207040u);
  tile.FillRect(7, 1, 10, 4, 0xFFC03030u);
  doc.SetDefaultBackground(&tile);
  doc.SetDefaultBackgroundTiled(true);
  EXPECT_TRUE(MatchesGolden("tiled_background", RenderPage(doc, dtPrinter, 4, 0), kTolerance));
}

} // namespace
} // namespace dtp
