#include <gtest/gtest.h>

#include "engine/document/bitmap_utils.h"

namespace dtp {
namespace {

TBitmap32 Numbered(int w, int h) {
  TBitmap32 b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, TColor32(y * 100 + x));
  return b;
}

TEST(BitmapUtils, RotationsAndMirrorsMovePixelsAsStated) {
  const int W = 3, H = 2;
  struct Case {
    const char* what;
    void (*op)(TBitmap32&);
    int w, h;
    // where source (x, y) ends up
    TPoint (*to)(int x, int y);
  };
  const Case cases[] = {
      {"quarter ccw", RotateQuarterCounterClockwise, H, W,
       [](int x, int y) {
         return TPoint{y, W - 1 - x};
       }},
      {"quarter cw", RotateQuarterClockwise, H, W,
       [](int x, int y) {
         return TPoint{H - 1 - y, x};
       }},
      {"half", RotateHalf, W, H,
       [](int x, int y) {
         return TPoint{W - 1 - x, H - 1 - y};
       }},
      {"mirror lr", MirrorLeftRight, W, H,
       [](int x, int y) {
         return TPoint{W - 1 - x, y};
       }},
      {"mirror tb", MirrorTopBottom, W, H,
       [](int x, int y) {
         return TPoint{x, H - 1 - y};
       }},
  };
  for (const Case& c : cases) {
    TBitmap32 b = Numbered(W, H);
    b.OuterColor = 7;
    c.op(b);
    ASSERT_EQ(b.Width(), c.w) << c.what;
    ASSERT_EQ(b.Height(), c.h) << c.what;
    EXPECT_EQ(b.OuterColor, 7u) << c.what;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const TPoint t = c.to(x, y);
        EXPECT_EQ(b.Pixel(t.X, t.Y), TColor32(y * 100 + x)) << c.what << " " << x << "," << y;
      }
  }
}

TEST(BitmapUtils, UniformColourAndAlphaInversion) {
  EXPECT_TRUE(IsUniformColor(nullptr, 1));
  TBitmap32 empty;
  EXPECT_TRUE(IsUniformColor(&empty, 1));
  TBitmap32 b(5, 5);
  b.Clear(0xFFFFFFFF);
  EXPECT_TRUE(IsUniformColor(&b, 0xFFFFFFFF));
  b.SetPixel(2, 2, 0xFFFFFFFE); // the middle row is visited last
  EXPECT_FALSE(IsUniformColor(&b, 0xFFFFFFFF));
  InvertAlpha(b);
  EXPECT_EQ(b.Pixel(0, 0), 0x00FFFFFFu);
  EXPECT_EQ(b.Pixel(2, 2), 0x00FFFFFEu);
}

TEST(BitmapUtils, Distances) {
  EXPECT_EQ(SquaredDistance({1, 2}, {4, 6}), 25);
  EXPECT_DOUBLE_EQ(SquaredDistanceToSegment({3, 5}, {0, 0}, {10, 0}), 25);
  EXPECT_DOUBLE_EQ(SquaredDistanceToSegment({-3, 4}, {0, 0}, {10, 0}), 25)
      << "clamped to the start";
  EXPECT_DOUBLE_EQ(SquaredDistanceToSegment({13, 4}, {0, 0}, {10, 0}), 25) << "clamped to the end";
  EXPECT_DOUBLE_EQ(SquaredDistanceToSegment({3, 4}, {0, 0}, {0, 0}), 25) << "a point segment";
}

} // namespace
} // namespace dtp
