#pragma once
// The 32-bit ARGB bitmap every render target, cache and effect works on. Pixels are
// TColor32 (0xAARRGGBB, not premultiplied), stored row by row, top row first, with no
// padding between rows.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/core/color.h"

namespace dtp {

// Resampling kernels for stretched and transformed draws.
enum TStretchFilter : uint8_t {
  sfNearest,
  sfDraft,
  sfLinear,
  sfCosine,
  sfSpline,
  sfLanczos,
  sfMitchell
};

// How a bitmap is put onto another: copied, or blended by its alpha.
enum TDrawMode : uint8_t { dmOpaque, dmBlend };
// How blending treats the destination's alpha: blend over an opaque background, or merge
// two translucent layers.
enum TCombineMode : uint8_t { cmBlend, cmMerge };

class TBitmap32 {
public:
  TBitmap32() = default;
  TBitmap32(int width, int height) { SetSize(width, height); }

  int Width() const { return m_Width; }
  int Height() const { return m_Height; }
  bool Empty() const { return m_Width == 0 || m_Height == 0; }

  // Resizes and clears to 0. Negative sizes count as 0; sides above 32768 pixels or more
  // than 100 Mpixel in all raise EDtpError and leave the bitmap as it was.
  void SetSize(int width, int height);
  void Clear(TColor32 color = 0);
  void Assign(const TBitmap32& source) { *this = source; }

  TColor32* Bits() { return m_Bits.data(); }
  const TColor32* Bits() const { return m_Bits.data(); }
  TColor32* ScanLine(int y) { return m_Bits.data() + static_cast<size_t>(y) * m_Width; }
  const TColor32* ScanLine(int y) const {
    return m_Bits.data() + static_cast<size_t>(y) * m_Width;
  }

  // Unchecked access: the caller keeps x and y inside the bitmap.
  TColor32 Pixel(int x, int y) const { return ScanLine(y)[x]; }
  void SetPixel(int x, int y, TColor32 c) { ScanLine(y)[x] = c; }
  // Checked access: outside the bitmap reads give OuterColor and writes do nothing.
  TColor32 PixelS(int x, int y) const;
  void SetPixelS(int x, int y, TColor32 c);

  // Fills [x1, x2) × [y1, y2) clipped to the bitmap, replacing the pixels.
  void FillRect(int x1, int y1, int x2, int y2, TColor32 color);

  TColor32 OuterColor = 0;
  uint8_t MasterAlpha = 255;
  TDrawMode DrawMode = dmOpaque;
  TCombineMode CombineMode = cmBlend;
  TStretchFilter StretchFilter = sfNearest;

private:
  int m_Width = 0;
  int m_Height = 0;
  std::vector<TColor32> m_Bits;
};

} // namespace dtp
