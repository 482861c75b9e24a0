#include <gtest/gtest.h>

#include <cstdint>

#include "platform/raster/blend.h"

namespace dtp {
namespace {

TEST(MergeColor32, FollowsTheFixedArithmetic) {
  struct Case {
    TColor32 f, b;
    uint8_t m;
    TColor32 expected;
  };
  const Case cases[] = {
      {0xFF123456, 0x80ABCDEF, 255, 0xFF123456}, // opaque foreground, full master alpha
      {0xFF123456, 0x80ABCDEF, 0, 0x80ABCDEF},   // opaque foreground, no master alpha
      {0x00123456, 0x80ABCDEF, 255, 0x80ABCDEF}, // transparent foreground
      {0x80123456, 0x00ABCDEF, 200, 0x64123456}, // transparent background: 128·200 div 255
      {0x80FF0000, 0xFF0000FF, 255, 0xFF7F007F}, // half red over opaque blue
      {0xFFFF0000, 0xFFFFFFFF, 128, 0xFFFE7F7F}, // master alpha 128 over white; the
                                                 // rule truncates 255 to 254
      {0x40FFFFFF, 0x40000000, 255, 0x708F8F8F}, // two translucent layers: Ra 112
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MergeColor32(c.f, c.b, c.m), c.expected)
        << std::hex << c.f << " over " << c.b << " m " << std::dec << int(c.m);
  }
}

TEST(BlendColor32, MixesByForegroundAlphaAndKeepsBackgroundOpaque) {
  struct Case {
    TColor32 f, b;
    uint8_t m;
    TColor32 expected;
  };
  const Case cases[] = {
      {0xFFFF0000, 0xFFFFFFFF, 128, 0xFFFF7F7F}, // master alpha 128 contributes half
      {0x80FF0000, 0xFFFFFFFF, 255, 0xFFFF7F7F}, // so does alpha 128
      {0xFF00FF00, 0xFF000000, 255, 0xFF00FF00}, // opaque copies
      {0x00FFFFFF, 0xFF102030, 255, 0xFF102030}, // transparent keeps
      {0x80FFFFFF, 0x00000000, 255, 0x80808080}, // alpha grows over transparent
      {0x02FFFFFF, 0xFF000000, 100, 0xFF000000}, // 2·100 div 255 = 0: no change
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BlendColor32(c.f, c.b, c.m), c.expected)
        << std::hex << c.f << " over " << c.b << " m " << std::dec << int(c.m);
  }
}

TEST(BlendSpan, WeighsEachPixelByItsCoverage) {
  TColor32 dst[4] = {0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000};
  const uint8_t coverage[4] = {0, 128, 255, 64};
  BlendSpan(0xFFFFFFFF, coverage, dst, 4, cmBlend);
  EXPECT_EQ(dst[0], 0xFF000000u);
  EXPECT_EQ(dst[1], 0xFF808080u);
  EXPECT_EQ(dst[2], 0xFFFFFFFFu);
  EXPECT_EQ(dst[3], 0xFF404040u);
}

TEST(BlendLine, UsesTheCombineModeAndMasterAlpha) {
  const TColor32 src[2] = {0x80FF0000, 0xFF00FF00};
  TColor32 merged[2] = {0x00000000, 0x80000000};
  BlendLine(src, merged, 2, 255, cmMerge);
  EXPECT_EQ(merged[0], 0x80FF0000u); // over transparent: the foreground itself
  EXPECT_EQ(merged[1], 0xFF00FF00u);
  TColor32 blended[2] = {0xFFFFFFFF, 0xFFFFFFFF};
  BlendLine(src, blended, 2, 0, cmBlend);
  EXPECT_EQ(blended[0], 0xFFFFFFFFu); // master alpha 0 draws nothing
}

} // namespace
} // namespace dtp
