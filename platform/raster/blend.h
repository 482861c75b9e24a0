#pragma once
// Putting one non-premultiplied ARGB colour over another. Two rules exist:
//  - cmBlend assumes the background is opaque: colours mix by the foreground's alpha and
//    the background's alpha only grows (Ra = Ba + (255 - Ba) * Fa / 255).
//  - cmMerge combines two translucent layers by MergeColor32, the engine's one rule for
//    colour over colour (its integer arithmetic is fixed and must not be "improved").
// Every routine takes a master alpha M (0..255) that scales the foreground's alpha.

#include <cstddef>
#include <cstdint>

#include "platform/core/color.h"
#include "platform/raster/bitmap32.h"

namespace dtp {

inline uint8_t AlphaOf(TColor32 c) {
  return static_cast<uint8_t>(c >> 24);
}
inline TColor32 SetAlpha(TColor32 c, uint32_t a) {
  return (c & 0x00FFFFFFu) | (a << 24);
}

// x / 255 rounded to nearest, exact for 0 <= x <= 65535 * 255.
inline uint32_t Div255Round(uint32_t x) {
  x += 128;
  return (x + (x >> 8)) >> 8;
}

// F over B with master alpha M by the merge rule.
TColor32 MergeColor32(TColor32 f, TColor32 b, uint8_t m);
// F over an opaque-background B with master alpha M.
TColor32 BlendColor32(TColor32 f, TColor32 b, uint8_t m);

inline TColor32 CombineColor32(TColor32 f, TColor32 b, uint8_t m, TCombineMode mode) {
  return mode == cmMerge ? MergeColor32(f, b, m) : BlendColor32(f, b, m);
}

// Blends count source pixels over count destination pixels.
void BlendLine(const TColor32* src, TColor32* dst, size_t count, uint8_t masterAlpha,
               TCombineMode mode);
// Blends one colour over count destination pixels, each weighted by its coverage byte;
// coverage == nullptr means full coverage everywhere.
void BlendSpan(TColor32 color, const uint8_t* coverage, TColor32* dst, size_t count,
               TCombineMode mode);
// One colour at one coverage over count pixels.
void BlendSolidSpan(TColor32 color, uint8_t coverage, TColor32* dst, size_t count,
                    TCombineMode mode);

} // namespace dtp
