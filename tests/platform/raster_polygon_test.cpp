#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "platform/raster/polygon32.h"

namespace dtp {
namespace {

// Coverage of every pixel of a w × h area, 0 where no span reached.
std::vector<int> Coverage(const TPolygon32& p, int w, int h) {
  std::vector<int> cov(size_t(w * h), 0);
  p.Render({0, 0, w, h}, [&](int y, int x, int len, uint8_t c) {
    ASSERT_GE(y, 0);
    ASSERT_LT(y, h);
    ASSERT_GE(x, 0);
    ASSERT_LE(x + len, w);
    for (int i = 0; i < len; ++i) cov[size_t(y * w + x + i)] += c;
  });
  return cov;
}

void AddRect(TPolygon32& p, double x0, double y0, double x1, double y1, bool clockwise = true) {
  p.NewLine();
  if (clockwise) {
    p.Add(x0, y0), p.Add(x1, y0), p.Add(x1, y1), p.Add(x0, y1);
  } else {
    p.Add(x0, y0), p.Add(x0, y1), p.Add(x1, y1), p.Add(x1, y0);
  }
}

TEST(Polygon32, RectangleOnPixelEdgesCoversExactlyItsPixels) {
  for (TPolyFillMode mode : {pfAlternate, pfWinding}) {
    TPolygon32 p;
    p.FillMode = mode;
    AddRect(p, 1, 1, 4, 3);
    const auto cov = Coverage(p, 6, 5);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) {
        const bool in = x >= 1 && x < 4 && y >= 1 && y < 3; // y grows downwards
        EXPECT_EQ(cov[size_t(y * 6 + x)], in ? 255 : 0) << x << "," << y;
      }
  }
}

TEST(Polygon32, EvenOddAndNonZeroDifferOnNestedSameDirectionSquares) {
  TPolygon32 p;
  AddRect(p, 0, 0, 8, 8);
  AddRect(p, 2, 2, 6, 6); // same direction: winding 2 inside
  p.FillMode = pfAlternate;
  EXPECT_EQ(Coverage(p, 8, 8)[4 * 8 + 4], 0);   // a hole
  EXPECT_EQ(Coverage(p, 8, 8)[1 * 8 + 1], 255); // the ring
  p.FillMode = pfWinding;
  EXPECT_EQ(Coverage(p, 8, 8)[4 * 8 + 4], 255);
  // Opposite directions cut a hole under both rules.
  TPolygon32 q;
  q.FillMode = pfWinding;
  AddRect(q, 0, 0, 8, 8);
  AddRect(q, 2, 2, 6, 6, false);
  EXPECT_EQ(Coverage(q, 8, 8)[4 * 8 + 4], 0);
}

TEST(Polygon32, SelfOverlappingStarHasAHoleOnlyUnderEvenOdd) {
  TPolygon32 p;
  const double cx = 20, cy = 20, r = 18;
  for (int i = 0; i < 5; ++i) { // every second vertex of a pentagon: a pentagram
    const double a = (i * 144 - 90) * 3.14159265358979 / 180;
    p.Add(cx + r * std::cos(a), cy + r * std::sin(a));
  }
  p.FillMode = pfAlternate;
  EXPECT_EQ(Coverage(p, 40, 40)[20 * 40 + 20], 0);
  p.FillMode = pfWinding;
  EXPECT_EQ(Coverage(p, 40, 40)[20 * 40 + 20], 255);
}

TEST(Polygon32, AntialiasedEdgesGiveHalfCoverage) {
  TPolygon32 p;
  AddRect(p, 0.5, 0, 2.5, 1);
  const auto cov = Coverage(p, 3, 1);
  EXPECT_NEAR(cov[0], 128, 1);
  EXPECT_EQ(cov[1], 255);
  EXPECT_NEAR(cov[2], 128, 1);
  p.Antialiased = false; // at least half covered counts as set
  const auto hard = Coverage(p, 3, 1);
  EXPECT_EQ(hard[1], 255);
  EXPECT_EQ(hard[0] == 255 || hard[0] == 0, true);
  TPolygon32 quarter;
  quarter.Antialiased = false;
  AddRect(quarter, 0.75, 0, 1, 1);
  EXPECT_EQ(Coverage(quarter, 2, 1)[0], 0);
}

TEST(Polygon32, DrawFillBlendsByCoverageWithTheTargetMode) {
  TBitmap32 b(3, 1);
  b.Clear(0xFFFFFFFF);
  TPolygon32 p;
  AddRect(p, 0.5, 0, 2.5, 1);
  p.DrawFill(b, 0xFF000000);
  EXPECT_EQ(b.Pixel(1, 0), 0xFF000000u);
  EXPECT_NEAR(int(b.Pixel(0, 0) & 0xFF), 127, 1);
  TBitmap32 m(3, 1);
  m.CombineMode = cmMerge;
  p.DrawFill(m, 0xFF0000FF);
  EXPECT_EQ(m.Pixel(1, 0), 0xFF0000FFu);
  EXPECT_NEAR(int(m.Pixel(0, 0) >> 24), 128, 1); // merged over transparent
  EXPECT_EQ(m.Pixel(0, 0) & 0xFFFFFF, 0x0000FFu);
}

TEST(Polygon32, ClipsToTheBitmapAndSurvivesWildPoints) {
  TBitmap32 b(4, 4);
  TPolygon32 p;
  AddRect(p, -1000, -1000, 2, 1e9); // far outside on three sides
  p.DrawFill(b, 0xFF00FF00);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(b.Pixel(x, y), x < 2 ? 0xFF00FF00u : 0u);
  TPolygon32 bad;
  bad.Add(std::numeric_limits<double>::quiet_NaN(), 1);
  bad.Add(std::numeric_limits<double>::infinity(), 2);
  bad.Add(1, 3);
  bad.DrawFill(b, 0xFFFF0000); // no crash, nothing undefined
  TPolygon32 empty;
  empty.DrawFill(b, 0xFFFF0000);
  EXPECT_EQ(empty.ContourCount(), 1u);
  EXPECT_EQ(empty.BoundsRect(), (TRect{}));
}

TEST(Polygon32, MoreThanOneOutlineOfPointsStillFillsCorrectly) {
  // 40000 distinct vertices (2.5 units of 1/64 pixel apart) exceed what one rasteriser
  // outline holds; the result must match the same disc with few vertices.
  const auto disc = [](int n) {
    TPolygon32 p;
    for (int i = 0; i < n; ++i) {
      const double a = 2 * 3.14159265358979 * i / n;
      p.Add(256 + 250 * std::cos(a), 256 + 250 * std::sin(a));
    }
    return p;
  };
  const auto many = Coverage(disc(40000), 512, 512);
  const auto few = Coverage(disc(8000), 512, 512);
  long diff = 0;
  for (size_t i = 0; i < many.size(); ++i) diff = std::max<long>(diff, std::abs(many[i] - few[i]));
  EXPECT_LE(diff, 3);
  EXPECT_EQ(many[256 * 512 + 256], 255);
  EXPECT_EQ(many[0], 0);
}

TEST(Polygon32Stroke, OpenLineBecomesABandOfTheGivenWidth) {
  TPolygon32 line;
  line.Closed = false;
  line.Add(4, 5);
  line.Add(12, 5);
  const TPolygon32 band = line.StrokeOutline(kFixedOne); // half-width 1 pixel
  EXPECT_EQ(band.FillMode, pfWinding);
  const auto cov = Coverage(band, 16, 10);
  EXPECT_EQ(cov[4 * 16 + 8], 255);
  EXPECT_EQ(cov[5 * 16 + 8], 255);
  EXPECT_EQ(cov[3 * 16 + 8], 0);
  EXPECT_EQ(cov[6 * 16 + 8], 0);
  EXPECT_GT(cov[5 * 16 + 3], 0); // the round end reaches one pixel beyond
  EXPECT_EQ(cov[5 * 16 + 1], 0);
}

TEST(Polygon32Stroke, ClosedSquareBecomesARingWithSharpCorners) {
  TPolygon32 square;
  AddRect(square, 4, 4, 12, 12);
  const TPolygon32 ring = square.StrokeOutline(kFixedOne);
  const auto cov = Coverage(ring, 16, 16);
  EXPECT_EQ(cov[3 * 16 + 8], 255); // across the top edge
  EXPECT_EQ(cov[4 * 16 + 8], 255);
  EXPECT_EQ(cov[8 * 16 + 8], 0);   // inside stays empty
  EXPECT_EQ(cov[3 * 16 + 3], 255); // mitred corner
  EXPECT_EQ(cov[2 * 16 + 8], 0);
  EXPECT_EQ(square.StrokeOutline(0).PointCount(), 0u);
  EXPECT_EQ(square.StrokeOutline(-5).PointCount(), 0u);
}

TEST(Polygon32Stroke, EdgeIsAOnePixelLine) {
  TBitmap32 b(10, 10);
  b.CombineMode = cmMerge;
  TPolygon32 p;
  AddRect(p, 2.5, 2.5, 7.5, 7.5); // edges on pixel centres
  p.DrawEdge(b, 0xFF000000);
  EXPECT_EQ(b.Pixel(5, 2), 0xFF000000u);
  EXPECT_EQ(b.Pixel(2, 5), 0xFF000000u);
  EXPECT_EQ(b.Pixel(5, 5), 0u);
  EXPECT_EQ(b.Pixel(5, 1), 0u);
  EXPECT_EQ(b.Pixel(5, 3), 0u);
}

TEST(Polygon32Stroke, VeryLongContourIsStrokedWhole) {
  TPolygon32 zig;
  zig.Closed = false;
  for (int i = 0; i <= 9000; ++i) zig.Add(1 + i * 0.007, 3 + (i % 2) * 0.5);
  const TPolygon32 band = zig.StrokeOutline(kFixedOne);
  const auto cov = Coverage(band, 70, 8);
  for (int x = 2; x < 63; ++x) EXPECT_EQ(cov[3 * 70 + x], 255) << x;
}

} // namespace
} // namespace dtp
