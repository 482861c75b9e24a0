#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "platform/core/errors.h"
#include "platform/raster/bitmap32.h"

namespace dtp {
namespace {

constexpr TColor32 W = 0xFFFFFFFF, K = 0xFF000000, R = 0xFFFF0000, Z = 0;

// The bitmap as rows of single letters, for compact expectations: '.' transparent,
// 'W' white, 'K' black, 'R' red, '?' anything else.
std::vector<std::string> Picture(const TBitmap32& b) {
  std::vector<std::string> rows;
  for (int y = 0; y < b.Height(); ++y) {
    std::string row;
    for (int x = 0; x < b.Width(); ++x) {
      const TColor32 c = b.Pixel(x, y);
      row += c == Z ? '.' : c == W ? 'W' : c == K ? 'K' : c == R ? 'R' : '?';
    }
    rows.push_back(row);
  }
  return rows;
}

using Rows = std::vector<std::string>;

TEST(Bitmap32, SizeLimitsAndClear) {
  TBitmap32 b(3, 2);
  EXPECT_EQ(b.Width(), 3);
  EXPECT_EQ(b.Height(), 2);
  b.Clear(R);
  EXPECT_EQ(Picture(b), (Rows{"RRR", "RRR"}));
  b.SetSize(-4, 2);
  EXPECT_TRUE(b.Empty());
  TBitmap32 big(2, 2);
  EXPECT_THROW(big.SetSize(40000, 1), EDtpError);
  EXPECT_THROW(big.SetSize(20000, 20000), EDtpError);
  EXPECT_EQ(big.Width(), 2); // unchanged after the refusal
}

TEST(Bitmap32, CheckedAccessUsesOuterColor) {
  TBitmap32 b(2, 2);
  b.OuterColor = R;
  EXPECT_EQ(b.PixelS(-1, 0), R);
  EXPECT_EQ(b.PixelS(0, 2), R);
  b.SetPixelS(5, 5, W); // ignored
  b.SetPixelS(1, 1, W);
  EXPECT_EQ(Picture(b), (Rows{"..", ".W"}));
}

TEST(Bitmap32, FillsAndLinesClipAtTheEdges) {
  TBitmap32 b(5, 4);
  b.FillRect(-3, -2, 2, 1, R);   // top-left corner only
  b.FillRect(4, 3, 100, 100, W); // bottom-right pixel only
  b.HorzLine(3, 2, -10, K);      // reversed ends, clipped left
  b.VertLine(4, -5, 1, K);       // clipped top
  b.FillRect(2, 2, 2, 3, W);     // empty
  EXPECT_EQ(Picture(b), (Rows{"RR..K", "....K", "KKKK.", "....W"}));
}

TEST(Bitmap32, FrameRectDrawsTheOnePixelOutline) {
  TBitmap32 b(5, 4);
  b.FrameRect(0, 0, 4, 3, K);
  EXPECT_EQ(Picture(b), (Rows{"KKKK.", "K..K.", "KKKK.", "....."}));
  TBitmap32 thin(3, 1);
  thin.FrameRect(0, 0, 3, 1, K);
  EXPECT_EQ(Picture(thin), (Rows{"KKK"}));
}

TEST(Bitmap32, BlendedFillUsesTheTargetCombineMode) {
  TBitmap32 b(2, 1);
  b.Clear(0xFFFFFFFF);
  b.FillRectBlend(0, 0, 1, 1, 0x80FF0000);
  EXPECT_EQ(b.Pixel(0, 0), 0xFFFF7F7Fu);
  b.Clear(0);
  b.CombineMode = cmMerge;
  b.FillRectBlend(0, 0, 2, 1, 0x80FF0000);
  EXPECT_EQ(b.Pixel(1, 0), 0x80FF0000u); // merged over transparent: unchanged colour
}

TEST(Bitmap32Stipple, TwoEntriesAtHalfStepGiveTwoPixelDashes) {
  TBitmap32 b(8, 1);
  const TColor32 pattern[] = {W, K};
  b.SetStipple(pattern);
  b.StippleStep = 0.5f;
  b.HorzLineStippled(0, 0, 7);
  EXPECT_EQ(Picture(b), (Rows{"WWKKWWKK"}));
  EXPECT_FLOAT_EQ(b.StippleCounter, 0.0f); // 8 × 0.5 wraps back to the start
}

TEST(Bitmap32Stipple, ClippedPixelsStillAdvanceThePattern) {
  TBitmap32 b(4, 3);
  const TColor32 pattern[] = {W, K};
  b.SetStipple(pattern);
  b.HorzLineStippled(-3, 0, 3); // W K W | K W K W
  b.HorzLineStippled(10, 1, 0); // leftwards from far outside: 7 pixels skipped first
  b.VertLineStippled(9, 0, 2);  // all outside: only the counter moves
  EXPECT_EQ(Picture(b), (Rows{"KWKW", "KWKW", "...."}));
  b.SetStipple(pattern);
  b.HorzLineStippled(-2000000000, 2, 2000000000); // huge line, bounded work
  EXPECT_EQ(Picture(b)[2], "WKWK");
}

TEST(Bitmap32Stipple, FrameWalksClockwiseVisitingEachPixelOnce) {
  TBitmap32 b(5, 4);
  const TColor32 pattern[] = {W, K, R};
  b.SetStipple(pattern);
  b.FrameRectStippled(0, 0, 4, 3);
  // top W K R W, right K R, bottom (right to left) W K R, left (upwards) W
  EXPECT_EQ(Picture(b), (Rows{"WKRW.", "W..K.", "RKWR.", "....."}));
}

TEST(Bitmap32, DrawAtOffsetClipsOnBothSides) {
  TBitmap32 src(3, 2);
  src.Clear(R);
  src.SetPixel(0, 0, W);
  TBitmap32 dst(4, 3);
  dst.Draw(-1, 2, src); // only the left column is cut, and the lower row
  EXPECT_EQ(Picture(dst), (Rows{"....", "....", "RR.."}));
  dst.Clear(0);
  dst.Draw(3, -1, src);
  EXPECT_EQ(Picture(dst), (Rows{"...R", "....", "...."}));
  dst.Clear(0);
  dst.Draw(1, 1, TRect{0, 0, 2, 5}, src); // source rectangle clipped to the source
  EXPECT_EQ(Picture(dst), (Rows{"....", ".WR.", ".RR."}));
}

TEST(Bitmap32, DrawBlendsByTheSourceModes) {
  TBitmap32 src(1, 1);
  src.SetPixel(0, 0, 0xFFFF0000);
  TBitmap32 dst(1, 1);
  dst.Clear(0xFFFFFFFF);
  src.DrawMode = dmBlend;
  src.MasterAlpha = 128;
  dst.Draw(0, 0, src);
  EXPECT_EQ(dst.Pixel(0, 0), 0xFFFF7F7Fu); // master alpha 128 contributes half
  dst.Clear(0);
  src.CombineMode = cmMerge;
  src.MasterAlpha = 255;
  src.SetPixel(0, 0, 0x80FF0000);
  dst.Draw(0, 0, src);
  EXPECT_EQ(dst.Pixel(0, 0), 0x80FF0000u);
  src.DrawMode = dmOpaque;
  src.SetPixel(0, 0, 0x10203040);
  dst.Draw(0, 0, src);
  EXPECT_EQ(dst.Pixel(0, 0), 0x10203040u); // opaque mode copies alpha too
}

TEST(Bitmap32, DrawOntoItselfCopiesAsIfFromACopy) {
  TBitmap32 b(3, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) b.SetPixel(x, y, TColor32(0xFF000000 | (y * 3 + x)));
  TBitmap32 expected = b;
  expected.Draw(1, 1, TBitmap32(b));
  b.Draw(1, 1, b);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(b.Pixel(x, y), expected.Pixel(x, y)) << x << "," << y;
}

TEST(Bitmap32Line, AntialiasedLineSplitsBetweenNeighbourRows) {
  TBitmap32 b(6, 5);
  b.CombineMode = cmMerge;
  b.LineAntialiased(0, 2.5f, 6, 2.5f, K); // on row 2's centre line
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(b.Pixel(x, 2), K) << x;
    EXPECT_EQ(b.Pixel(x, 1), 0u) << x;
    EXPECT_EQ(b.Pixel(x, 3), 0u) << x;
  }
  TBitmap32 c(6, 5);
  c.CombineMode = cmMerge;
  c.LineAntialiased(0, 3.0f, 6, 3.0f, K); // between rows 2 and 3
  for (int x = 0; x < 6; ++x) {
    EXPECT_NEAR(c.Pixel(x, 2) >> 24, 128, 1) << x;
    EXPECT_NEAR(c.Pixel(x, 3) >> 24, 128, 1) << x;
  }
  // Far ends and non-finite coordinates neither hang nor write outside.
  c.LineAntialiased(-1e30f, 1.5f, 1e30f, 1.5f, K);
  c.LineAntialiased(0, 0, std::numeric_limits<float>::quiet_NaN(), 3, K);
  EXPECT_EQ(c.Pixel(3, 1), K);
}

TEST(Bitmap32Line, StippledAntialiasedLineTakesPatternColours) {
  TBitmap32 b(8, 1);
  const TColor32 pattern[] = {W, W, K, K};
  b.SetStipple(pattern);
  b.LineAntialiasedStippled(0, 0.5f, 8, 0.5f);
  EXPECT_EQ(Picture(b), (Rows{"WWKKWWKK"}));
}

} // namespace
} // namespace dtp
