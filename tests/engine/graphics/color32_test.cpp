#include "engine/graphics/color32.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/raster/blend.h"

namespace dtp {
namespace {

using color32::MergeColor32;

TEST(MergeColor32, StatedIdentities) {
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const TColor32 f = rng(), b = rng();
    const uint8_t m = static_cast<uint8_t>(rng());
    const TColor32 opaque = f | 0xFF000000u;
    EXPECT_EQ(MergeColor32(opaque, b, 255), opaque);
    const TColor32 clear = f & 0x00FFFFFFu;
    EXPECT_EQ(MergeColor32(clear, b, m), b);
    const TColor32 behindClear = b & 0x00FFFFFFu;
    const uint32_t scaled = (f >> 24) * m / 255;
    // An opaque F at M = 0 is the first rule's case: the result is B itself.
    const bool hidden = (f >> 24) == 255 && m == 0;
    if ((f >> 24) != 0 && !hidden) {
      EXPECT_EQ(MergeColor32(f, behindClear, m), (f & 0x00FFFFFFu) | (scaled << 24))
          << std::hex << f << " m " << std::dec << int(m);
    }
  }
}

TEST(MergeColor32, WorkedValues) {
  struct Case {
    const char* what;
    TColor32 f, b;
    uint8_t m;
    TColor32 expected;
  };
  const Case cases[] = {
      {"opaque front, master 0 gives the back", 0xFF123456, 0x80ABCDEF, 0, 0x80ABCDEF},
      {"half red over opaque blue", 0x80FF0000, 0xFF0000FF, 255, 0xFF7F007F},
      // (0 − 254) · 100 / 256 = −99.2 must floor to −100, not truncate to −99.
      {"negative mix floors", 0x64000000, 0xFF0000FF, 255, 0xFF00009A},
      {"opaque red at master 128 over green", 0xFFFF0000, 0xFF00FF00, 128, 0xFF7F7F00},
      {"two translucent whites", 0x80FFFFFF, 0x80FFFFFF, 255, 0xC0FEFEFE},
      // Master alpha scales the front to alpha 0; the back still passes through the rule.
      {"front scaled to nothing", 0x64FFFFFF, 0x80402010, 1, 0x80402010},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MergeColor32(c.f, c.b, c.m), c.expected)
        << c.what << ": got " << std::hex << MergeColor32(c.f, c.b, c.m);
}

// The raster layer draws with the same rule (cmMerge); the two must never drift apart.
TEST(MergeColor32, AgreesWithTheRasterLayersMergeRule) {
  std::mt19937 rng(11);
  for (uint32_t fa = 0; fa < 256; fa += 3)
    for (uint32_t ba = 0; ba < 256; ba += 5)
      for (uint32_t m = 0; m < 256; m += 7)
        for (int i = 0; i < 4; ++i) {
          const TColor32 f = (rng() & 0x00FFFFFFu) | (fa << 24);
          const TColor32 b = (rng() & 0x00FFFFFFu) | (ba << 24);
          ASSERT_EQ(MergeColor32(f, b, uint8_t(m)), dtp::MergeColor32(f, b, uint8_t(m)))
              << std::hex << f << " over " << b << " m " << std::dec << m;
        }
}

} // namespace
} // namespace dtp
