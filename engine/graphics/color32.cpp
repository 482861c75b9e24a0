#include "engine/graphics/color32.h"

namespace dtp::color32 {

TColor32 MergeColor32(TColor32 f, TColor32 b, uint8_t m) {
  const int32_t fAlpha = static_cast<int32_t>(f >> 24);
  if (fAlpha == 255) {
    if (m == 255) return f;
    if (m == 0) return b;
  }
  if (fAlpha == 0) return b;

  const int32_t fa = fAlpha * m / 255;
  const TColor32 fPrime = (f & 0x00FFFFFFu) | (static_cast<TColor32>(fa) << 24);
  const int32_t ba = static_cast<int32_t>(b >> 24);
  if (fa == 255 || ba == 0) return fPrime;

  // ba >= 1 here, so ra >= 1 and the division is defined.
  const int32_t ra = fa + ba - (fa * ba / 255);
  const int32_t w = 65536 / ra;
  TColor32 result = static_cast<TColor32>(ra) << 24;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int32_t fc = static_cast<int32_t>((f >> shift) & 0xFF);
    const int32_t bc = static_cast<int32_t>((b >> shift) & 0xFF);
    const int32_t bb = (bc * ba) >> 8;
    // >> on a negative product is the floor of the quotient, which the rule asks for.
    const int32_t mixed = bb + (((fc - bb) * fa) >> 8);
    result |= (static_cast<TColor32>((mixed * w) >> 8) & 0xFFu) << shift;
  }
  return result;
}

} // namespace dtp::color32
