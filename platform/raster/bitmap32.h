#pragma once
// The 32-bit ARGB bitmap every render target, cache and effect works on. Pixels are
// TColor32 (0xAARRGGBB, not premultiplied), stored row by row, top row first, with no
// padding between rows.
//
// Two settings decide how drawing mixes colours:
//  - drawing primitives (blended lines, blended fills, polygon coverage) onto a bitmap use
//    that bitmap's CombineMode;
//  - drawing a bitmap S onto another uses S's DrawMode (dmOpaque copies, dmBlend blends),
//    S's CombineMode, S's MasterAlpha and, when stretched, S's StretchFilter.
// Every drawing call clips to the bitmap; coordinates outside it are never touched.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/core/color.h"
#include "platform/core/geometry.h"

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
  TRect BoundsRect() const { return {0, 0, m_Width, m_Height}; }

  // Resizes and clears to 0. Negative sizes count as 0; sides above 32768 pixels or more
  // than 100 Mpixel in all raise EDtpError and leave the bitmap as it was.
  void SetSize(int width, int height);
  void Clear(TColor32 color = 0);
  void Assign(const TBitmap32& source) { *this = source; }

  TColor32* Bits() { return m_Bits.data(); }
  const TColor32* Bits() const { return m_Bits.data(); }
  TColor32* ScanLine(int y) { return m_Bits.data() + static_cast<size_t>(y) * m_Width; }
  const TColor32* ScanLine(int y) const { return m_Bits.data() + static_cast<size_t>(y) * m_Width; }

  // Unchecked access: the caller keeps x and y inside the bitmap.
  TColor32 Pixel(int x, int y) const { return ScanLine(y)[x]; }
  void SetPixel(int x, int y, TColor32 c) { ScanLine(y)[x] = c; }
  // Checked access: outside the bitmap reads give OuterColor and writes do nothing.
  TColor32 PixelS(int x, int y) const;
  void SetPixelS(int x, int y, TColor32 c);
  // Checked, blended by CombineMode.
  void SetPixelBlend(int x, int y, TColor32 c);

  // Fills [x1, x2) × [y1, y2) clipped to the bitmap, replacing the pixels.
  void FillRect(int x1, int y1, int x2, int y2, TColor32 color);
  // The same, blending the colour over the pixels by CombineMode.
  void FillRectBlend(int x1, int y1, int x2, int y2, TColor32 color);

  // Lines from x1 to x2 (or y1 to y2), both ends included, in either order; clipped.
  void HorzLine(int x1, int y, int x2, TColor32 color);
  void VertLine(int x, int y1, int y2, TColor32 color);
  void HorzLineBlend(int x1, int y, int x2, TColor32 color);
  void VertLineBlend(int x, int y1, int y2, TColor32 color);
  // The one-pixel outline of [x1, x2) × [y1, y2), replacing the pixels.
  void FrameRect(int x1, int y1, int x2, int y2, TColor32 color);

  // Stippling: a repeating list of colours indexed by a counter that advances by
  // StippleStep per pixel drawn; the colour is entry floor(counter) of the list (no
  // mixing of neighbours), so two entries and a step of 0.5 give dashes of two pixels.
  // SetStipple resets the counter to 0. Without entries nothing is stippled.
  void SetStipple(std::span<const TColor32> colors);
  const std::vector<TColor32>& Stipple() const { return m_Stipple; }
  // The colour at the counter; advances the counter by StippleStep.
  TColor32 NextStippleColor();
  // Advances the counter by a number of pattern entries without drawing.
  void SkipStipple(double advance);
  float StippleStep = 1.0f;
  float StippleCounter = 0.0f;

  // Stippled lines walk from the first end to the second, one stipple step per pixel,
  // clipped pixels included, so the pattern stays tied to the geometry. Colours are
  // blended by CombineMode.
  void HorzLineStippled(int x1, int y, int x2);
  void VertLineStippled(int x, int y1, int y2);
  // The outline of [x1, x2) × [y1, y2), walked clockwise from the top-left corner, each
  // pixel once.
  void FrameRectStippled(int x1, int y1, int x2, int y2);

  // Antialiased one-pixel line between two points in pixel coordinates (pixel (i, j)
  // covers [i, i+1) × [j, j+1)); blended by CombineMode. The stippled form takes its
  // colours from the stipple, advancing StippleStep per pixel of line length.
  void LineAntialiased(float x1, float y1, float x2, float y2, TColor32 color);
  void LineAntialiasedStippled(float x1, float y1, float x2, float y2);

  // Draws the whole of source, or srcRect of it, with its top-left at (dstX, dstY), by
  // source's DrawMode, CombineMode and MasterAlpha. Clipped to both bitmaps.
  void Draw(int dstX, int dstY, const TBitmap32& source);
  void Draw(int dstX, int dstY, const TRect& srcRect, const TBitmap32& source);
  // Stretches srcRect of source onto dstRect with source's StretchFilter, then copies or
  // blends as above. Equal sizes draw unfiltered.
  void Draw(const TRect& dstRect, const TRect& srcRect, const TBitmap32& source);

  TColor32 OuterColor = 0;
  uint8_t MasterAlpha = 255;
  TDrawMode DrawMode = dmOpaque;
  TCombineMode CombineMode = cmBlend;
  TStretchFilter StretchFilter = sfNearest;

private:
  TColor32 StippleColorAdvance(double advance);
  void PlotAntialiased(int x, int y, TColor32 color, uint32_t weight);
  void LineAntialiasedImpl(float x1, float y1, float x2, float y2, TColor32 color, bool stippled);

  int m_Width = 0;
  int m_Height = 0;
  std::vector<TColor32> m_Bits;
  std::vector<TColor32> m_Stipple;
};

} // namespace dtp
