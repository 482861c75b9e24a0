#pragma once
// The engine's colour-over-colour rule for effects that paint colour (fill, shadow, frame).
// The integer arithmetic is fixed: effects and their saved renders depend on every bit of
// it, so it is kept literally rather than made more precise.
//
// The raster layer keeps the same rule for its cmMerge drawing; a test holds the two equal.

#include <cstdint>

#include "platform/core/color.h"
#include "platform/raster/blend.h"

namespace dtp::color32 {

// F (in front) over B (behind) with master alpha M (0..255). An opaque F at M = 255 gives
// F, a transparent F gives B, and any F over a transparent B gives F with its alpha scaled
// by M.
// The rule lives once, in the raster layer; this is the effects' name for it.
inline TColor32 MergeColor32(TColor32 f, TColor32 b, uint8_t m) {
  return dtp::MergeColor32(f, b, m);
}

} // namespace dtp::color32
