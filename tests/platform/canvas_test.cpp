#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/canvas/canvas.h"

namespace dtp {
namespace {

constexpr TColor kRed = 0x0000FF; // TColor is 0x00BBGGRR
constexpr TColor kBlue = 0xFF0000;
constexpr TColor32 kBack = 0xFF123456;

// '.' background, 'P' pen (red, alpha 0), 'B' brush (blue, alpha 0), '?' anything else.
std::vector<std::string> Picture(const TBitmap32& b) {
  std::vector<std::string> rows;
  for (int y = 0; y < b.Height(); ++y) {
    std::string row;
    for (int x = 0; x < b.Width(); ++x) {
      const TColor32 c = b.Pixel(x, y);
      row += c == kBack ? '.' : c == 0x00FF0000 ? 'P' : c == 0x000000FF ? 'B' : '?';
    }
    rows.push_back(row);
  }
  return rows;
}

using Rows = std::vector<std::string>;

struct CanvasTest : ::testing::Test {
  TBitmap32 bitmap{8, 6};
  TCanvas canvas{bitmap};
  void SetUp() override {
    bitmap.Clear(kBack);
    canvas.Pen.Color = kRed;
    canvas.Brush.Color = kBlue;
  }
};

TEST_F(CanvasTest, RectangleOutlineWithPenInsideWithBrushRightAndBottomExcluded) {
  canvas.Rectangle(1, 1, 6, 5);
  EXPECT_EQ(Picture(bitmap),
            (Rows{"........", ".PPPPP..", ".PBBBP..", ".PBBBP..", ".PPPPP..", "........"}));
  bitmap.Clear(kBack);
  canvas.Brush.Style = bsClear;
  canvas.Rectangle(6, 5, 1, 1); // reversed corners are normalised
  EXPECT_EQ(Picture(bitmap)[2], ".P...P..");
  bitmap.Clear(kBack);
  canvas.Pen.Style = psClear;
  canvas.Brush.Style = bsSolid;
  canvas.Rectangle(0, 0, 2, 2);
  EXPECT_EQ(Picture(bitmap)[0], "BB......");
}

TEST_F(CanvasTest, LineExcludesItsLastPixelAndMovesThePen) {
  canvas.MoveTo(1, 1);
  canvas.LineTo(5, 1);
  canvas.LineTo(5, 4);
  EXPECT_EQ(canvas.PenPos(), (TPoint{5, 4}));
  EXPECT_EQ(Picture(bitmap),
            (Rows{"........", ".PPPPP..", ".....P..", ".....P..", "........", "........"}));
}

TEST_F(CanvasTest, DotAndDashStylesFollowTheirPatterns) {
  TBitmap32 wide(30, 1);
  wide.Clear(kBack);
  TCanvas c(wide);
  c.Pen.Color = kRed;
  c.Pen.Style = psDot;
  c.MoveTo(0, 0);
  c.LineTo(30, 0);
  EXPECT_EQ(Picture(wide)[0], "PPP...PPP...PPP...PPP...PPP...");
  wide.Clear(kBack);
  TCanvas d(wide);
  d.Pen.Color = kRed;
  d.Pen.Style = psDash;
  d.MoveTo(0, 0);
  d.LineTo(30, 0);
  EXPECT_EQ(Picture(wide)[0], "PPPPPPPPPPPPPPPPPP......PPPPPP");
}

TEST_F(CanvasTest, XorDrawingTwiceRestoresThePicture) {
  std::mt19937 rng(9);
  for (int i = 0; i < 48; ++i) bitmap.Bits()[i] = rng();
  const TBitmap32 before = bitmap;
  canvas.Pen.Mode = pmXor;
  const TPoint star[] = {{0, 0}, {7, 5}, {7, 0}, {0, 5}, {3, -2}};
  for (int width : {1, 3})
    for (TPenStyle style : {psSolid, psDot}) {
      canvas.Pen.Width = width;
      canvas.Pen.Style = style;
      for (int pass = 0; pass < 2; ++pass) {
        canvas.MoveTo(-3, 2);
        canvas.LineTo(9, 4);
        canvas.Polyline(star);
        canvas.Polygon(star);
        canvas.Rectangle(1, 1, 7, 5);
        canvas.Ellipse(0, 0, 8, 6);
      }
      ASSERT_EQ(0, std::memcmp(bitmap.Bits(), before.Bits(), 48 * 4))
          << "width " << width << " style " << int(style);
    }
  // XOR touches only the colour bits.
  canvas.Pen.Width = 1;
  canvas.Pen.Style = psSolid;
  canvas.MoveTo(0, 0);
  canvas.LineTo(1, 0);
  EXPECT_EQ(bitmap.Pixel(0, 0), before.Pixel(0, 0) ^ 0x00FF0000u);
}

TEST_F(CanvasTest, EllipseIsSymmetricInsideItsBox) {
  TBitmap32 b(9, 7);
  b.Clear(kBack);
  TCanvas c(b);
  c.Pen.Color = kRed;
  c.Brush.Color = kBlue;
  c.Ellipse(0, 0, 9, 7);
  const auto rows = Picture(b);
  EXPECT_EQ(rows[3][0], 'P'); // left and right ends of the axis
  EXPECT_EQ(rows[3][8], 'P');
  EXPECT_EQ(rows[0][4], 'P'); // top and bottom
  EXPECT_EQ(rows[6][4], 'P');
  EXPECT_EQ(rows[3][4], 'B');
  EXPECT_EQ(rows[0][0], '.');
  EXPECT_EQ(rows[6][8], '.');
  for (int y = 0; y < 7; ++y) {
    const std::string mirrored(rows[y].rbegin(), rows[y].rend());
    EXPECT_EQ(rows[y], mirrored) << y;
    EXPECT_EQ(rows[y], rows[6 - y]) << y;
  }
}

TEST_F(CanvasTest, PolygonFillsWithBrushAndOutlinesWithPen) {
  const TPoint square[] = {{1, 1}, {5, 1}, {5, 4}, {1, 4}};
  canvas.Polygon(square);
  EXPECT_EQ(Picture(bitmap),
            (Rows{"........", ".PPPPP..", ".PBBBP..", ".PBBBP..", ".PPPPP..", "........"}));
}

TEST_F(CanvasTest, WidePenIsCentredOnTheLine) {
  canvas.Pen.Width = 3;
  canvas.MoveTo(1, 2);
  canvas.LineTo(6, 2);
  const auto rows = Picture(bitmap);
  EXPECT_EQ(rows[1][3], 'P');
  EXPECT_EQ(rows[2][3], 'P');
  EXPECT_EQ(rows[3][3], 'P');
  EXPECT_EQ(rows[0][3], '.');
  EXPECT_EQ(rows[4][3], '.');
}

TEST_F(CanvasTest, FarCoordinatesAreClippedWithoutEndlessWork) {
  canvas.MoveTo(-2000000000, 3);
  canvas.LineTo(2000000000, 3);
  EXPECT_EQ(Picture(bitmap)[3], "PPPPPPPP");
  canvas.Rectangle(-2000000000, -2000000000, 2000000000, 2000000000);
  EXPECT_EQ(Picture(bitmap)[0], "BBBBBBBB");
  canvas.Ellipse(-100000, -100000, 100000, 100000);
  EXPECT_EQ(Picture(bitmap)[0], "BBBBBBBB");
}

TEST_F(CanvasTest, PixelsReadAndWriteAsPlatformColours) {
  canvas.SetPixel(2, 3, 0x00332211);
  EXPECT_EQ(bitmap.Pixel(2, 3), 0x00112233u);
  EXPECT_EQ(canvas.Pixel(2, 3), 0x00332211);
  EXPECT_EQ(canvas.Pixel(-1, 0), -1);
  canvas.FillRect({6, 4, 20, 20});
  EXPECT_EQ(Picture(bitmap)[5], "......BB");
}

} // namespace
} // namespace dtp
