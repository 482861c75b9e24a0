#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/raster/bitmap32.h"
#include "platform/raster/resample.h"

namespace dtp {
namespace {

const TStretchFilter kAllFilters[] = {sfNearest, sfDraft,   sfLinear,  sfCosine,
                                      sfSpline,  sfLanczos, sfMitchell};
const TStretchFilter kKernelFilters[] = {sfDraft,  sfLinear,  sfCosine,
                                         sfSpline, sfLanczos, sfMitchell};

const char* Name(TStretchFilter f) {
  static const char* names[] = {"sfNearest", "sfDraft",   "sfLinear",  "sfCosine",
                                "sfSpline",  "sfLanczos", "sfMitchell"};
  return names[f];
}

TBitmap32 RandomBitmap(int w, int h, uint32_t seed) {
  TBitmap32 b(w, h);
  std::mt19937 rng(seed);
  for (int i = 0; i < w * h; ++i) b.Bits()[i] = rng();
  return b;
}

// Restores the optimised kernels whatever a test switched to.
class ResampleTest : public ::testing::Test {
protected:
  void TearDown() override { SetResampleKernels(rkOptimised); }
};

void Stretch(TBitmap32& dst, const TRect& d, const TBitmap32& src, const TRect& s,
             TStretchFilter f) {
  StretchTransfer(dst, d, dst.BoundsRect(), src, s, f, dmOpaque, cmBlend, 255);
}

TEST_F(ResampleTest, IdentityStretchIsExactForEveryKernel) {
  const TBitmap32 src = RandomBitmap(13, 7, 1);
  for (TStretchFilter f : kAllFilters) {
    TBitmap32 dst(13, 7);
    Stretch(dst, {0, 0, 13, 7}, src, {0, 0, 13, 7}, f);
    EXPECT_EQ(0, std::memcmp(dst.Bits(), src.Bits(), 13 * 7 * 4)) << Name(f);
  }
}

TEST_F(ResampleTest, ConstantImageStaysConstantUpAndDown) {
  TBitmap32 src(17, 11);
  src.Clear(0x80C0FF01);
  const TRect targets[] = {
      {0, 0, 40, 29}, {0, 0, 5, 3}, {0, 0, 1, 1}, {0, 0, 17, 30}, {0, 0, 3, 11}};
  for (TStretchFilter f : kAllFilters)
    for (const TRect& t : targets) {
      TBitmap32 dst(t.Right, t.Bottom);
      Stretch(dst, t, src, src.BoundsRect(), f);
      for (int i = 0; i < t.Right * t.Bottom; ++i)
        ASSERT_EQ(dst.Bits()[i], 0x80C0FF01u) << Name(f) << " to " << t.Right << "x" << t.Bottom;
    }
}

TEST_F(ResampleTest, NearestPicksThePixelUnderEachCentre) {
  TBitmap32 src(4, 1);
  for (int x = 0; x < 4; ++x) src.SetPixel(x, 0, 0xFF000000u + x);
  TBitmap32 up(8, 1);
  Stretch(up, {0, 0, 8, 1}, src, {0, 0, 4, 1}, sfNearest);
  const uint32_t upExpected[] = {0, 0, 1, 1, 2, 2, 3, 3};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(up.Pixel(x, 0) & 0xFF, upExpected[x]) << x;
  TBitmap32 down(2, 1);
  Stretch(down, {0, 0, 2, 1}, src, {0, 0, 4, 1}, sfNearest);
  EXPECT_EQ(down.Pixel(0, 0) & 0xFF, 1u);
  EXPECT_EQ(down.Pixel(1, 0) & 0xFF, 3u);
  TBitmap32 three(3, 1);
  Stretch(three, {0, 0, 3, 1}, src, {0, 0, 4, 1}, sfNearest); // centres 0.67, 2, 3.33
  EXPECT_EQ(three.Pixel(0, 0) & 0xFF, 0u);
  EXPECT_EQ(three.Pixel(1, 0) & 0xFF, 2u);
  EXPECT_EQ(three.Pixel(2, 0) & 0xFF, 3u);
}

TEST_F(ResampleTest, LinearAndDraftGiveTheExpectedValues) {
  TBitmap32 src(2, 1);
  src.SetPixel(0, 0, 0xFF000000);
  src.SetPixel(1, 0, 0xFF0000FF);
  TBitmap32 up(4, 1);
  Stretch(up, {0, 0, 4, 1}, src, {0, 0, 2, 1}, sfLinear);
  // Centres at -0.25, 0.25, 0.75, 1.25 in the source; edges repeat.
  const uint32_t linear[] = {0, 64, 191, 255};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(up.Pixel(x, 0) & 0xFF, linear[x]) << x;
  TBitmap32 four(4, 1);
  const uint32_t values[] = {0, 100, 200, 255};
  for (int x = 0; x < 4; ++x) four.SetPixel(x, 0, 0xFF000000 | values[x]);
  TBitmap32 half(2, 1);
  Stretch(half, {0, 0, 2, 1}, four, four.BoundsRect(), sfDraft); // area averages
  EXPECT_EQ(half.Pixel(0, 0) & 0xFF, 50u);
  EXPECT_EQ(half.Pixel(1, 0) & 0xFF, 228u);
}

TEST_F(ResampleTest, KernelsAreNormalisedAndVanishOutsideTheirRadius) {
  for (TStretchFilter f : kKernelFilters) {
    const double r = StretchKernelRadius(f);
    EXPECT_EQ(StretchKernel(f, r + 0.01), 0.0) << Name(f);
    EXPECT_GT(StretchKernel(f, 0), 0.0) << Name(f);
    double sum = 0; // the integer translates of a kernel sum to one
    for (int k = -4; k <= 4; ++k) sum += StretchKernel(f, 0.3 + k);
    EXPECT_NEAR(sum, 1.0, f == sfLanczos ? 0.02 : 1e-9) << Name(f);
  }
}

TEST_F(ResampleTest, GuardPixelsAroundTheDestinationStayUntouched) {
  const TBitmap32 src = RandomBitmap(9, 9, 7);
  for (TStretchFilter f : kAllFilters)
    for (int w = 1; w <= 64; ++w) {
      TBitmap32 dst(w + 4, 5);
      dst.Clear(0x12345678);
      Stretch(dst, {2, 2, 2 + w, 3}, src, {1, 1, 8, 8}, f);
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < w + 4; ++x) {
          const bool inside = y == 2 && x >= 2 && x < 2 + w;
          if (!inside) {
            ASSERT_EQ(dst.Pixel(x, y), 0x12345678u) << Name(f) << " w " << w;
          }
        }
    }
}

TEST_F(ResampleTest, ClippedDrawEqualsThatPartOfTheWholeDraw) {
  const TBitmap32 src = RandomBitmap(20, 15, 3);
  for (TStretchFilter f : kAllFilters) {
    TBitmap32 whole(37, 23);
    Stretch(whole, {0, 0, 37, 23}, src, src.BoundsRect(), f);
    TBitmap32 part(10, 8);
    Stretch(part, {-20, -9, 17, 14}, src, src.BoundsRect(), f); // same draw, shifted
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 10; ++x)
        ASSERT_EQ(part.Pixel(x, y), whole.Pixel(x + 20, y + 9)) << Name(f);
    // A clip rectangle inside the bitmap limits the draw the same way.
    TBitmap32 clipped(37, 23);
    StretchTransfer(clipped, {0, 0, 37, 23}, {5, 6, 9, 8}, src, src.BoundsRect(), f, dmOpaque,
                    cmBlend, 255);
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 37; ++x) {
        const bool in = x >= 5 && x < 9 && y >= 6 && y < 8;
        ASSERT_EQ(clipped.Pixel(x, y), in ? whole.Pixel(x, y) : 0u) << Name(f);
      }
  }
}

TEST_F(ResampleTest, DegenerateRectanglesDrawNothingOrStayInside) {
  const TBitmap32 src = RandomBitmap(6, 6, 5);
  TBitmap32 dst(8, 8);
  Stretch(dst, {4, 4, 4, 8}, src, src.BoundsRect(), sfLinear);          // empty destination
  Stretch(dst, {0, 0, 8, 8}, src, {3, 3, 3, 5}, sfLinear);              // empty source
  Stretch(dst, {8, 0, 0, 8}, src, src.BoundsRect(), sfLinear);          // inverted
  Stretch(dst, {100, 100, 200, 200}, src, src.BoundsRect(), sfLanczos); // outside
  for (int i = 0; i < 64; ++i) ASSERT_EQ(dst.Bits()[i], 0u);
  // A source rectangle reaching outside the source is clipped with the destination
  // shrinking in proportion: the left half of the destination stays empty.
  Stretch(dst, {0, 0, 8, 8}, src, {-6, 0, 6, 6}, sfNearest);
  EXPECT_EQ(dst.Pixel(3, 3), 0u);
  EXPECT_EQ(dst.Pixel(4, 0), src.Pixel(0, 0));
  // Extreme destination coordinates neither overflow nor write outside.
  TBitmap32 far(4, 4);
  Stretch(far, {INT32_MIN / 2, 0, INT32_MAX / 2, 4}, src, src.BoundsRect(), sfMitchell);
}

TEST_F(ResampleTest, BlendsTheFilteredPixelsByModeAndMasterAlpha) {
  TBitmap32 src(2, 2);
  src.Clear(0xFFFF0000);
  TBitmap32 dst(4, 4);
  dst.Clear(0xFFFFFFFF);
  StretchTransfer(dst, {0, 0, 4, 4}, dst.BoundsRect(), src, src.BoundsRect(), sfLinear, dmBlend,
                  cmBlend, 128);
  EXPECT_EQ(dst.Pixel(1, 2), 0xFFFF7F7Fu);
  // The bitmap form uses the source's own settings.
  dst.Clear(0);
  src.DrawMode = dmBlend;
  src.CombineMode = cmMerge;
  src.MasterAlpha = 255;
  src.StretchFilter = sfSpline;
  dst.Draw(TRect{0, 0, 4, 4}, src.BoundsRect(), src);
  EXPECT_EQ(dst.Pixel(3, 3), 0xFFFF0000u);
}

TEST_F(ResampleTest, OptimisedKernelsMatchTheReferenceBitForBit) {
  if (!OptimisedResampleAvailable()) GTEST_SKIP() << "no optimised kernels on this CPU/build";
  std::mt19937 rng(42);
  for (int round = 0; round < 60; ++round) {
    const int sw = 1 + int(rng() % 70), sh = 1 + int(rng() % 40);
    const int dw = 1 + int(rng() % 90), dh = 1 + int(rng() % 50);
    const TBitmap32 src = RandomBitmap(sw, sh, rng());
    for (TStretchFilter f : kKernelFilters) {
      TBitmap32 ref(dw + 3, dh), opt(dw + 3, dh);
      ref.Clear(0xDEADBEEF);
      opt.Clear(0xDEADBEEF);
      SetResampleKernels(rkReference);
      Stretch(ref, {1, 0, 1 + dw, dh}, src, src.BoundsRect(), f);
      SetResampleKernels(rkOptimised);
      Stretch(opt, {1, 0, 1 + dw, dh}, src, src.BoundsRect(), f);
      ASSERT_EQ(0, std::memcmp(ref.Bits(), opt.Bits(), size_t(dw + 3) * dh * 4))
          << Name(f) << " " << sw << "x" << sh << " -> " << dw << "x" << dh;
    }
  }
}

// Draw shapes that reach the different paths of the optimised passes; each is drawn with
// every kernel filter, copied and blended, by both implementations.
struct TPassShape {
  const char* What;
  int SrcW, SrcH;
  TRect SrcRect; // empty: the whole source
  TRect DstRect;
  int DstW, DstH; // destination bitmap, larger than DstRect where guards are wanted
};

const TPassShape kPassShapes[] = {
    // ×0.77 both ways: 3 taps padded to 4 across, 3 down, output widths of every
    // remainder of a group of four pixels.
    {"shrink 0.77", 311, 97, {}, {0, 0, 239, 75}, 242, 75},
    {"shrink 0.77 rem 1", 311, 40, {}, {1, 0, 237, 31}, 240, 31},
    {"shrink 0.77 rem 2", 311, 40, {}, {1, 0, 238, 31}, 240, 31},
    {"shrink 0.77 rem 0", 311, 40, {}, {1, 0, 236, 31}, 240, 31},
    // Enlarging: rows read by several output rows, filtered in pairs ahead of need.
    {"enlarge 1.3", 50, 31, {}, {0, 0, 65, 40}, 67, 41},
    {"enlarge 2.7", 13, 9, {}, {2, 1, 37, 25}, 40, 27},
    // One axis only.
    {"only down", 33, 20, {}, {0, 0, 33, 41}, 35, 41},
    {"only across", 33, 20, {}, {0, 0, 61, 20}, 61, 21},
    // Many taps: the generic kernels, odd and even vertical counts.
    {"wide shrink", 300, 23, {}, {0, 0, 7, 23}, 9, 23},
    {"tall shrink", 23, 301, {}, {0, 0, 21, 7}, 23, 8},
    {"shrink 1/3", 91, 61, {}, {0, 0, 30, 20}, 31, 20},
    {"shrink 1/2", 90, 60, {}, {0, 0, 45, 30}, 46, 31},
    // Sources narrower or shorter than a window: padded rows, repeated edge rows.
    {"narrow source", 3, 40, {}, {0, 0, 11, 29}, 12, 29},
    {"short source", 40, 2, {}, {0, 0, 29, 9}, 30, 10},
    {"one pixel", 1, 1, {}, {0, 0, 5, 3}, 6, 4},
    // A source sub-rectangle, a destination partly outside the bitmap: rebased starts,
    // windows folded at the source's edges, rows near the last one.
    {"sub-rectangle", 64, 48, {5, 3, 59, 47}, {-9, -4, 40, 33}, 33, 30},
    {"bottom right", 64, 48, {20, 30, 64, 48}, {3, 2, 36, 16}, 36, 16},
};

TEST_F(ResampleTest, OptimisedPassesMatchTheReferenceOnEveryShape) {
  if (!OptimisedResampleAvailable()) GTEST_SKIP() << "no optimised kernels on this CPU/build";
  for (const TPassShape& shape : kPassShapes) {
    const TBitmap32 src =
        RandomBitmap(shape.SrcW, shape.SrcH, uint32_t(shape.SrcW * 977 + shape.SrcH));
    const TRect srcRect =
        shape.SrcRect.Right > shape.SrcRect.Left ? shape.SrcRect : src.BoundsRect();
    const TBitmap32 background = RandomBitmap(shape.DstW, shape.DstH, 99);
    for (TStretchFilter f : kKernelFilters)
      for (TDrawMode mode : {dmOpaque, dmBlend}) {
        TBitmap32 ref(background), opt(background);
        SetResampleKernels(rkReference);
        StretchTransfer(ref, shape.DstRect, ref.BoundsRect(), src, srcRect, f, mode, cmBlend, 200);
        SetResampleKernels(rkOptimised);
        StretchTransfer(opt, shape.DstRect, opt.BoundsRect(), src, srcRect, f, mode, cmBlend, 200);
        ASSERT_EQ(0, std::memcmp(ref.Bits(), opt.Bits(), size_t(shape.DstW) * shape.DstH * 4))
            << shape.What << " " << Name(f) << (mode == dmOpaque ? " opaque" : " blend");
      }
  }
}

TEST_F(ResampleTest, EachRowDrawnAloneEqualsThatRowOfTheWholeDraw) {
  // A row drawn alone starts with an empty ring of filtered rows; the whole draw reuses
  // and pre-filters rows, so any row it evicts too early or keeps stale shows up here.
  for (TResampleKernels kernels : {rkReference, rkOptimised}) {
    SetResampleKernels(kernels);
    for (const TPassShape& shape : kPassShapes) {
      const TBitmap32 src = RandomBitmap(shape.SrcW, shape.SrcH, uint32_t(shape.SrcH * 31 + 7));
      const TRect srcRect =
          shape.SrcRect.Right > shape.SrcRect.Left ? shape.SrcRect : src.BoundsRect();
      for (TStretchFilter f : {sfLinear, sfLanczos}) {
        TBitmap32 whole(shape.DstW, shape.DstH);
        Stretch(whole, shape.DstRect, src, srcRect, f);
        for (int y = 0; y < shape.DstH; ++y) {
          TBitmap32 row(shape.DstW, shape.DstH);
          StretchTransfer(row, shape.DstRect, {0, y, shape.DstW, y + 1}, src, srcRect, f, dmOpaque,
                          cmBlend, 255);
          ASSERT_EQ(0, std::memcmp(row.ScanLine(y), whole.ScanLine(y), size_t(shape.DstW) * 4))
              << shape.What << " " << Name(f) << " row " << y
              << (kernels == rkReference ? " reference" : " optimised");
        }
      }
    }
  }
}

TEST_F(ResampleTest, OptimisedPassesMatchTheReferenceForEveryNarrowWidth) {
  if (!OptimisedResampleAvailable()) GTEST_SKIP() << "no optimised kernels on this CPU/build";
  // Output widths 1 … 24 from a shrink and an enlargement: every split into groups of four,
  // a pair and a single pixel, with guard pixels after the span.
  const TBitmap32 src = RandomBitmap(31, 13, 5);
  for (int srcW : {31, 5})
    for (int w = 1; w <= 24; ++w)
      for (TStretchFilter f : kKernelFilters) {
        TBitmap32 ref(w + 3, 10), opt(w + 3, 10);
        ref.Clear(0xDEADBEEF);
        opt.Clear(0xDEADBEEF);
        SetResampleKernels(rkReference);
        Stretch(ref, {1, 0, 1 + w, 10}, src, {0, 0, srcW, 13}, f);
        SetResampleKernels(rkOptimised);
        Stretch(opt, {1, 0, 1 + w, 10}, src, {0, 0, srcW, 13}, f);
        ASSERT_EQ(0, std::memcmp(ref.Bits(), opt.Bits(), size_t(w + 3) * 10 * 4))
            << Name(f) << " " << srcW << " -> " << w;
      }
}

TEST_F(ResampleTest, TallShrinkIsDoneInStripsWithTheSameResult) {
  // 20000 rows onto one: the vertical kernel spans every row, more than one ring of
  // filtered rows may hold, so the output is made in column strips.
  TBitmap32 src(64, 20000);
  for (int y = 0; y < 20000; ++y)
    for (int x = 0; x < 64; ++x) src.SetPixel(x, y, 0xFF000000u | uint32_t(x * 4));
  TBitmap32 dst(64, 1);
  Stretch(dst, {0, 0, 64, 1}, src, src.BoundsRect(), sfLanczos);
  for (int x = 0; x < 64; ++x) ASSERT_EQ(dst.Pixel(x, 0), 0xFF000000u | uint32_t(x * 4)) << x;
  // Each of the 20000 rows keeps its share of the average although its weight is far
  // below one unit of the weight precision.
  // Both implementations agree in strips too, across as well as down.
  if (OptimisedResampleAvailable()) {
    const TBitmap32 noise = RandomBitmap(64, 20000, 17);
    TBitmap32 ref(50, 1), opt(50, 1); // about 120000 taps down: strips of 34 columns
    SetResampleKernels(rkReference);
    Stretch(ref, {0, 0, 50, 1}, noise, noise.BoundsRect(), sfLanczos);
    SetResampleKernels(rkOptimised);
    Stretch(opt, {0, 0, 50, 1}, noise, noise.BoundsRect(), sfLanczos);
    EXPECT_EQ(0, std::memcmp(ref.Bits(), opt.Bits(), 50 * 4));
  }
  src.FillRect(0, 0, 64, 10000, 0xFF000000);
  src.FillRect(0, 10000, 64, 20000, 0xFFFFFFFF);
  Stretch(dst, {0, 0, 64, 1}, src, src.BoundsRect(), sfDraft);
  EXPECT_NEAR(int(dst.Pixel(7, 0) & 0xFF), 128, 1);
}

} // namespace
} // namespace dtp
