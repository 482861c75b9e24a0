#include <algorithm>

#include <gtest/gtest.h>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/shapes/render.h"
#include "engine/shapes/shape.h"
#include "tests/support/recording_printer.h"
#include "tests/support/solid_shape.h"

namespace dtp {
namespace {

using test::TSolidShape;

TDeviceContext ScreenContext(float dpm, float renderDpm) {
  TDeviceContext c;
  c.Device = dtScreen;
  c.ScreenDpm = dpm;
  c.RenderDpm = renderDpm;
  c.Quality = sfLinear;
  return c;
}

TEST(Rendering, CacheReuseAndRebuild) {
  struct Case {
    const char* what;
    float first, second;
    bool exact;
    int paints;
  };
  const Case cases[] = {
      {"a finer cache serves a coarser request", 11.81f, 5.91f, false, 1},
      {"a finer request rebuilds", 11.81f, 23.62f, false, 2},
      {"exact resolution rebuilds for a coarser request", 11.81f, 5.91f, true, 2},
      {"the same resolution reuses", 11.81f, 11.81f, true, 1},
  };
  for (const Case& c : cases) {
    TSolidShape s;
    s.SetBoundsAndAngle(5, 5, 20, 10, 30);
    TBitmap32 target(100, 100);
    TDeviceContext ctx = ScreenContext(2, c.first);
    DrawShape(s, target, {0, 0, 50, 50}, false, ctx);
    EXPECT_FLOAT_EQ(s.CacheDpm(), c.first) << c.what;
    ctx.RenderDpm = c.second;
    ctx.ExactResolution = c.exact;
    DrawShape(s, target, {0, 0, 50, 50}, false, ctx);
    EXPECT_EQ(s.Paints, c.paints) << c.what;
  }
}

TEST(Rendering, ChangesInvalidateAndDropCachesFrees) {
  TSolidShape s;
  s.SetBoundsAndAngle(5, 5, 20, 10, 30);
  TBitmap32 target(100, 100);
  TDeviceContext ctx = ScreenContext(2, 4);
  DrawShape(s, target, {0, 0, 50, 50}, false, ctx);
  s.SetDocWidth(25);
  DrawShape(s, target, {0, 0, 50, 50}, false, ctx);
  EXPECT_EQ(s.Paints, 2);
  s.SetPosition(10, 10); // moves only change the transform
  DrawShape(s, target, {0, 0, 50, 50}, false, ctx);
  EXPECT_EQ(s.Paints, 2);
  ctx.DropCaches = true;
  DrawShape(s, target, {0, 0, 50, 50}, false, ctx);
  EXPECT_EQ(s.CacheBitmap(), nullptr);
  // An unturned opaque shape paints directly and holds no cache.
  s.SetDocAngle(0);
  DrawShape(s, target, {0, 0, 50, 50}, false, ctx);
  EXPECT_EQ(s.CacheBitmap(), nullptr);
  EXPECT_EQ(target.Pixel(2 * 20, 2 * 12), 0xFFFF0000u);
}

TEST(Rendering, CachedMatchesDirectPainting) {
  TSolidShape direct, cached;
  direct.SetBounds(4, 6, 20, 10);
  cached.SetBounds(4, 6, 20, 10);
  cached.SetAlwaysCached(true);
  TBitmap32 a(60, 60), b(60, 60);
  a.Clear(0xFFFFFFFF);
  b.Clear(0xFFFFFFFF);
  const TDeviceContext ctx = ScreenContext(2, 2);
  DrawShape(direct, a, {0, 0, 30, 30}, false, ctx);
  DrawShape(cached, b, {0, 0, 30, 30}, false, ctx);
  // The shape covers target pixels 8 … 47 and 12 … 31. The cache is sampled at pixel centres,
  // half a pixel between two cache pixels: the paths agree everywhere except the shape's last
  // column and row, whose reads lie past the cache's inner area and give its outer colour
  // (transparent), so the white stays there.
  int worst = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 60; ++x) {
      if (x == 47 || y == 31) continue;
      for (int k = 0; k < 32; k += 8)
        worst = std::max(
            worst, std::abs(int((a.Pixel(x, y) >> k) & 0xFF) - int((b.Pixel(x, y) >> k) & 0xFF)));
    }
  EXPECT_EQ(worst, 0);
  EXPECT_EQ(b.Pixel(47, 20), 0xFFFFFFFFu);
  EXPECT_EQ(b.Pixel(20, 31), 0xFFFFFFFFu);
  EXPECT_EQ(b.Pixel(8, 12), 0xFFFF0000u);
  EXPECT_EQ(b.Pixel(7, 20), 0xFFFFFFFFu);
}

TEST(Rendering, MasterAlphaHalvesTheContribution) {
  TSolidShape s(0xFF000000u);
  s.SetBounds(0, 0, 10, 10);
  s.SetMasterAlpha(128);
  TBitmap32 target(20, 20);
  target.Clear(0xFFFFFFFF);
  DrawShape(s, target, {0, 0, 20, 20}, false, ScreenContext(1, 1));
  const TColor32 mid = target.Pixel(5, 5);
  EXPECT_NEAR(int(mid & 0xFF), 127, 2);
  EXPECT_EQ(mid >> 24, 0xFFu);
  EXPECT_EQ(target.Pixel(15, 15), 0xFFFFFFFFu);
}

// Page painting on screen at 1 pixel per mm.
class PagePaint : public ::testing::Test {
protected:
  TBitmap32 Render(TDeviceType device) {
    TdtpPage* page = doc.CurrentPage();
    TBitmap32 bmp(static_cast<int>(page->DocWidth()) + 4, static_cast<int>(page->DocHeight()) + 4);
    bmp.Clear(0xFF808080u);
    TDeviceContext ctx = ScreenContext(1, 1);
    ctx.Device = device;
    DrawShape(*page, bmp, {0, 0, float(bmp.Width()), float(bmp.Height())}, true, ctx);
    return bmp;
  }
  void SetUp() override {
    doc.SetShowMargins(false);
    doc.SetPageWidth(107);
    doc.SetPageHeight(60);
  }
  TdtpDocument doc;
};

int CountColumnsWith(const TBitmap32& b, int y, TColor32 c, int maxX) {
  int n = 0;
  for (int x = 0; x < maxX; ++x) n += b.Pixel(x, y) == c;
  return n;
}

TEST_F(PagePaint, GridLinesAndDots) {
  doc.SetDefaultGridColor(0x0000FF); // red in 0x00BBGGRR
  doc.SetHelperMethod(hmGrid);
  TBitmap32 grid = Render(dtScreen);
  EXPECT_EQ(CountColumnsWith(grid, 32, 0xFFFF0000u, 107), 20) << "5 … 100 mm";
  EXPECT_EQ(grid.Pixel(105, 32), 0xFFFFFFFFu);
  doc.SetHelperMethod(hmDots);
  TBitmap32 dots = Render(dtScreen);
  EXPECT_EQ(CountColumnsWith(dots, 30, 0xFFFF0000u, 107), 21) << "5 … 105 mm";
  EXPECT_EQ(CountColumnsWith(Render(dtPrinter), 30, 0xFFFF0000u, 107), 0) << "screen only";
}

TEST_F(PagePaint, CheckerboardOnlyOnScreen) {
  doc.SetHelperMethod(hmPattern);
  TBitmap32 screen = Render(dtScreen);
  EXPECT_EQ(screen.Pixel(1, 1), 0xFFFFFFFFu);
  EXPECT_EQ(screen.Pixel(9, 1), 0xFFB0B0B0u);
  EXPECT_EQ(screen.Pixel(9, 9), 0xFFFFFFFFu);
  TBitmap32 print = Render(dtPrinter);
  EXPECT_EQ(print.Pixel(9, 1), 0xFFFFFFFFu);
}

TEST_F(PagePaint, BorderAndShadowOnlyForATopPage) {
  TBitmap32 alone = Render(dtScreen);
  EXPECT_EQ(alone.Pixel(0, 30), 0xFF000000u) << "border";
  EXPECT_EQ(alone.Pixel(107, 30), 0xFF000000u) << "shadow right";
  EXPECT_EQ(alone.Pixel(50, 60), 0xFF000000u) << "shadow below";
  doc.SetViewStyle(vsNormal);
  EXPECT_EQ(Render(dtScreen).Pixel(0, 30), 0xFFFFFFFFu) << "normal view: no border";
  doc.SetViewStyle(vsPrintLayout);
  // A page placed on a page (print sheets) draws no border.
  auto sheet = std::make_unique<TdtpPage>();
  doc.AddPage(std::move(sheet));
  TdtpPage* card = doc.Pages(0);
  auto placed = std::make_unique<TdtpPage>();
  placed->SetBounds(0, 0, 50, 30);
  TdtpPage* inner = placed.get();
  card->AddShape(std::move(placed));
  TBitmap32 bmp(60, 40);
  bmp.Clear(0xFF808080u);
  TDeviceContext ctx = ScreenContext(1, 1);
  inner->SetDeviceTransform(TAffineMatrix{});
  PaintInto(*inner, bmp, {0, 0, 60, 40}, ctx);
  EXPECT_EQ(bmp.Pixel(0, 10), 0xFFFFFFFFu);
  EXPECT_EQ(bmp.Pixel(50, 10), 0xFF808080u);
}

TEST_F(PagePaint, MarginFrameIsDashed) {
  doc.SetShowMargins(true);
  TBitmap32 b = Render(dtScreen);
  // The top margin line at y = 10 from x = 10: two white, two black, …
  EXPECT_EQ(b.Pixel(10, 10), 0xFFFFFFFFu);
  EXPECT_EQ(b.Pixel(11, 10), 0xFFFFFFFFu);
  EXPECT_EQ(b.Pixel(12, 10), 0xFF000000u);
  EXPECT_EQ(b.Pixel(13, 10), 0xFF000000u);
  EXPECT_EQ(b.Pixel(14, 10), 0xFFFFFFFFu);
}

TEST_F(PagePaint, TiledBackground) {
  TBitmap32 tile(6, 6); // at 150 DPI a 6 px tile is about 1.016 mm
  tile.Clear(0xFF00FF00u);
  tile.FillRect(0, 0, 3, 3, 0xFF0000FFu);
  doc.SetDefaultBackground(&tile);
  doc.SetDefaultBackgroundTiled(true);
  TdtpPage* page = doc.CurrentPage();
  TBitmap32 bmp(200, 100);
  TDeviceContext ctx = ScreenContext(5.9055118f, 5.9055118f);
  ctx.Device = dtPrinter;
  DrawShape(*page, bmp, {0, 0, 200 / 5.9055118f, 100 / 5.9055118f}, true, ctx);
  // At 150 DPI each tile pixel is one target pixel: the pattern repeats every 6 pixels.
  for (int y : {1, 7, 61})
    for (int x : {1, 7, 98}) EXPECT_EQ(bmp.Pixel(x, y), 0xFF0000FFu) << x << "," << y;
  EXPECT_EQ(bmp.Pixel(4, 1), 0xFF00FF00u);
  EXPECT_EQ(bmp.Pixel(1, 4), 0xFF00FF00u);
}

TEST_F(PagePaint, TiledBackgroundCostsWhatItShows) {
  // A 2 x 2 tile on a 3 m page: only the tiles inside the bitmap are drawn (the whole page
  // would hold over 70 million), and tiles covering under two pixels become their mean colour.
  TBitmap32 tile(2, 2); // a blue and a red column
  tile.Clear(0xFF0000FFu);
  tile.FillRect(1, 0, 2, 2, 0xFFFF0000u);
  doc.SetDefaultBackground(&tile);
  doc.SetDefaultBackgroundTiled(true);
  doc.SetPageWidth(3000);
  doc.SetPageHeight(3000);
  TdtpPage* page = doc.CurrentPage();
  struct Case {
    const char* what;
    float dpm;
    bool striped;
  };
  const Case cases[] = {
      {"one tile pixel per target pixel", 5.9055118f, true},
      {"tiles of two thirds of a pixel", 5.9055118f / 3, false},
  };
  for (const Case& c : cases) {
    TBitmap32 bmp(100, 100);
    TDeviceContext ctx = ScreenContext(c.dpm, c.dpm);
    ctx.Device = dtPrinter;
    const TFloatRect area{1000, 1000, 1000 + 100 / c.dpm, 1000 + 100 / c.dpm};
    page->SetDeviceTransform(TAffineMatrix{});
    DrawShape(*page, bmp, area, true, ctx);
    if (c.striped) {
      const TColor32 a = bmp.Pixel(55, 5), b = bmp.Pixel(56, 5);
      EXPECT_TRUE(a == 0xFF0000FFu || a == 0xFFFF0000u) << c.what;
      EXPECT_TRUE(b == 0xFF0000FFu || b == 0xFFFF0000u) << c.what;
      EXPECT_NE(a, b) << c.what;
      EXPECT_EQ(bmp.Pixel(57, 70), a) << c.what;
    } else {
      EXPECT_EQ(bmp.Pixel(55, 5), 0xFF800080u) << c.what;
      EXPECT_EQ(bmp.Pixel(99, 99), 0xFF800080u) << c.what;
    }
  }
}

// Printing through the recording printer.
class Printing : public ::testing::Test {
protected:
  void SetUp() override {
    doc.OnProgress = [this](TdtpDocument*, TdtpProgressType t, int count, int total, float p) {
      if (t == ptPrint) progress.push_back({count, total, p});
    };
  }
  struct TProgress {
    int count, total;
    float percent;
  };
  TdtpDocument doc;
  std::vector<TProgress> progress;
};

TEST_F(Printing, OrientationFollowsTheSheet) {
  struct Case {
    float w, h;
    bool rotated;
  };
  for (const Case c : {Case{148, 105, true}, {105, 148, false}, {100, 100, false}}) {
    doc.SetPageWidth(c.w);
    doc.SetPageHeight(c.h);
    doc.SetPrintQuality(pqDevice);
    test::TRecordingPrinter printer(210, 297); // 1 device pixel per mm, portrait
    doc.PrintAll(printer);
    ASSERT_FALSE(printer.Bands.empty());
    // At pqDevice the band is exactly the fitted page: no scaling by the device.
    const auto& band = printer.Bands.front();
    EXPECT_EQ(band.Pixels.Width(), band.Device.Width()) << c.w;
    EXPECT_EQ(band.Pixels.Height(), band.Device.Height()) << c.w;
    EXPECT_EQ(band.Device.Width() > band.Device.Height(), c.w > c.h && !c.rotated) << c.w;
    progress.clear();
  }
}

TEST_F(Printing, LandscapeTurnsCounterClockwise) {
  doc.SetPageWidth(148);
  doc.SetPageHeight(105);
  doc.SetPrintQuality(pqDevice);
  auto mark = std::make_unique<TSolidShape>(0xFF0000FFu);
  mark->SetBounds(0, 0, 20, 20); // top-left corner of the page
  doc.AddShape(std::move(mark));
  test::TRecordingPrinter printer(105, 148);
  doc.PrintAll(printer);
  const TBitmap32 sheet = printer.Assemble();
  // A quarter turn counter-clockwise takes the top-left corner to the bottom-left.
  EXPECT_EQ(sheet.Pixel(5, 140), 0xFF0000FFu);
  EXPECT_NE(sheet.Pixel(5, 5), 0xFF0000FFu);
}

TEST_F(Printing, SixHundredDpiBandsAndProgress) {
  doc.SetPrintQuality(pqHigh);
  test::TRecordingPrinter printer(4961, 7016);
  doc.PrintAll(printer);
  ASSERT_GT(printer.Bands.size(), 1u);
  for (const auto& b : printer.Bands)
    EXPECT_LE(int64_t(b.Pixels.Width()) * b.Pixels.Height(), 1920000);
  ASSERT_GE(progress.size(), 3u);
  EXPECT_EQ(progress.front().percent, 0);
  float last = -1;
  for (size_t i = 1; i + 1 < progress.size(); ++i) {
    EXPECT_GE(progress[i].percent, last);
    last = progress[i].percent;
  }
  EXPECT_FLOAT_EQ(last, 1);
  EXPECT_EQ(progress.back().percent, 100);
}

TEST_F(Printing, OptimizedPrintingSkipsBlankPagesButKeepsSheets) {
  doc.SetOptimizedPrinting(true);
  doc.SetPageCount(2);
  doc.SetPrintQuality(pqLow);
  test::TRecordingPrinter printer(1240, 1754);
  doc.PrintAll(printer);
  EXPECT_TRUE(printer.Bands.empty());
  EXPECT_EQ(printer.Sheets, 2);
  EXPECT_EQ(printer.Ended, 1);
  EXPECT_EQ(progress.back().percent, 100);
}

TEST_F(Printing, BandedEqualsUnbandedForEveryRotationAndMirror) {
  doc.SetPageWidth(60);
  doc.SetPageHeight(40);
  auto a = std::make_unique<TSolidShape>(0xFF0000FFu);
  a->SetBounds(5, 5, 20, 10);
  doc.AddShape(std::move(a));
  auto b = std::make_unique<TSolidShape>(0xFF00FF00u);
  b->SetBoundsAndAngle(30, 20, 15, 10, 20);
  doc.AddShape(std::move(b));
  TdtpPage* page = doc.CurrentPage();
  const float dpm = 36; // 2160 × 1440 source pixels: more than one band
  for (int rotation = 0; rotation < 4; ++rotation)
    for (int mirror = 0; mirror < 3; ++mirror) {
      const bool mh = mirror == 1, mv = mirror == 2;
      const bool quarter = rotation % 2 == 1;
      const int w = quarter ? 1440 : 2160, h = quarter ? 2160 : 1440;
      test::TRecordingPrinter banded(w, h);
      page->PrintTo(banded, {0, 0, w, h}, mh, mv, rotation, dpm);
      ASSERT_GT(banded.Bands.size(), 1u);
      // The same page as one band, by asking for a coarse resolution and scaling up.
      test::TRecordingPrinter whole(w, h);
      page->PrintTo(whole, {0, 0, w, h}, mh, mv, rotation, 18);
      ASSERT_EQ(whole.Bands.size(), 1u);
      const TBitmap32 x = banded.Assemble(), y = whole.Assemble();
      int bad = 0;
      for (int yy = 0; yy < h; yy += 7)
        for (int xx = 0; xx < w; xx += 7) bad += x.Pixel(xx, yy) != y.Pixel(xx, yy);
      // Edges of the turned shape resample differently at the two resolutions.
      EXPECT_LT(bad, (w / 7) * (h / 7) / 100) << rotation << " " << mirror;
    }
}

} // namespace
} // namespace dtp
