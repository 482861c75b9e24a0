#include "platform/raster/blend.h"

namespace dtp {

TColor32 MergeColor32(TColor32 f, TColor32 b, uint8_t m) {
  const uint32_t fAlpha = f >> 24;
  if (fAlpha == 255) {
    if (m == 255) return f;
    if (m == 0) return b;
  }
  if (fAlpha == 0) return b;
  const int32_t fa = static_cast<int32_t>(fAlpha * m / 255);
  const TColor32 fPrime = SetAlpha(f, static_cast<uint32_t>(fa));
  const int32_t ba = static_cast<int32_t>(b >> 24);
  if (fa == 255 || ba == 0) return fPrime;
  const int32_t ra = fa + ba - (fa * ba / 255);
  const int32_t w = 65536 / ra;
  TColor32 result = static_cast<TColor32>(ra) << 24;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int32_t fc = static_cast<int32_t>((f >> shift) & 0xFF);
    const int32_t bc = static_cast<int32_t>((b >> shift) & 0xFF);
    const int32_t bb = (bc * ba) >> 8;
    // Arithmetic shift: the floor of a possibly negative quotient.
    const int32_t mixed = bb + (((fc - bb) * fa) >> 8);
    const uint32_t rc = static_cast<uint32_t>((mixed * w) >> 8) & 0xFFu;
    result |= rc << shift;
  }
  return result;
}

TColor32 BlendColor32(TColor32 f, TColor32 b, uint8_t m) {
  const uint32_t fa = (f >> 24) * m / 255;
  if (fa == 0) return b;
  if (fa == 255) return f;
  const uint32_t inv = 255 - fa;
  TColor32 result = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const uint32_t fc = (f >> shift) & 0xFF;
    const uint32_t bc = (b >> shift) & 0xFF;
    result |= Div255Round(fc * fa + bc * inv) << shift;
  }
  const uint32_t ba = b >> 24;
  result |= (ba + Div255Round((255 - ba) * fa)) << 24;
  return result;
}

void BlendLine(const TColor32* src, TColor32* dst, size_t count, uint8_t masterAlpha,
               TCombineMode mode) {
  if (masterAlpha == 0) return;
  if (mode == cmMerge) {
    for (size_t i = 0; i < count; ++i) dst[i] = MergeColor32(src[i], dst[i], masterAlpha);
  } else {
    for (size_t i = 0; i < count; ++i) dst[i] = BlendColor32(src[i], dst[i], masterAlpha);
  }
}

void BlendSpan(TColor32 color, const uint8_t* coverage, TColor32* dst, size_t count,
               TCombineMode mode) {
  if (!coverage) {
    BlendSolidSpan(color, 255, dst, count, mode);
    return;
  }
  for (size_t i = 0; i < count; ++i)
    if (coverage[i]) dst[i] = CombineColor32(color, dst[i], coverage[i], mode);
}

void BlendSolidSpan(TColor32 color, uint8_t coverage, TColor32* dst, size_t count,
                    TCombineMode mode) {
  if (coverage == 0 || (color >> 24) == 0) return;
  if (coverage == 255 && (color >> 24) == 255) {
    for (size_t i = 0; i < count; ++i) dst[i] = color;
    return;
  }
  for (size_t i = 0; i < count; ++i) dst[i] = CombineColor32(color, dst[i], coverage, mode);
}

} // namespace dtp
