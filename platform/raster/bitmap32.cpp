#include "platform/raster/bitmap32.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/core/errors.h"
#include "platform/core/limits.h"
#include "platform/raster/blend.h"
#include "platform/raster/resample.h"

namespace dtp {

void TBitmap32::SetSize(int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  if (width > limits::kMaxPictureSide || height > limits::kMaxPictureSide ||
      int64_t(width) * height > limits::kMaxPicturePixels)
    throw EDtpError("Bitmap too large");
  if (width == m_Width && height == m_Height) {
    Clear(0);
    return;
  }
  m_Bits.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  m_Width = width;
  m_Height = height;
}

void TBitmap32::Clear(TColor32 color) {
  std::fill(m_Bits.begin(), m_Bits.end(), color);
}

TColor32 TBitmap32::PixelS(int x, int y) const {
  if (x < 0 || y < 0 || x >= m_Width || y >= m_Height) return OuterColor;
  return Pixel(x, y);
}

void TBitmap32::SetPixelS(int x, int y, TColor32 c) {
  if (x < 0 || y < 0 || x >= m_Width || y >= m_Height) return;
  SetPixel(x, y, c);
}

void TBitmap32::SetPixelBlend(int x, int y, TColor32 c) {
  if (x < 0 || y < 0 || x >= m_Width || y >= m_Height) return;
  TColor32& p = ScanLine(y)[x];
  p = CombineColor32(c, p, 255, CombineMode);
}

void TBitmap32::FillRect(int x1, int y1, int x2, int y2, TColor32 color) {
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, m_Width);
  y2 = std::min(y2, m_Height);
  if (x1 >= x2 || y1 >= y2) return;
  for (int y = y1; y < y2; ++y) std::fill(ScanLine(y) + x1, ScanLine(y) + x2, color);
}

void TBitmap32::FillRectBlend(int x1, int y1, int x2, int y2, TColor32 color) {
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, m_Width);
  y2 = std::min(y2, m_Height);
  if (x1 >= x2 || y1 >= y2) return;
  for (int y = y1; y < y2; ++y)
    BlendSolidSpan(color, 255, ScanLine(y) + x1, static_cast<size_t>(x2 - x1), CombineMode);
}

void TBitmap32::HorzLine(int x1, int y, int x2, TColor32 color) {
  if (x1 > x2) std::swap(x1, x2);
  FillRect(x1, y, x2 == INT32_MAX ? x2 : x2 + 1, y + 1, color);
}

void TBitmap32::VertLine(int x, int y1, int y2, TColor32 color) {
  if (y1 > y2) std::swap(y1, y2);
  FillRect(x, y1, x + 1, y2 == INT32_MAX ? y2 : y2 + 1, color);
}

void TBitmap32::HorzLineBlend(int x1, int y, int x2, TColor32 color) {
  if (x1 > x2) std::swap(x1, x2);
  FillRectBlend(x1, y, x2 == INT32_MAX ? x2 : x2 + 1, y + 1, color);
}

void TBitmap32::VertLineBlend(int x, int y1, int y2, TColor32 color) {
  if (y1 > y2) std::swap(y1, y2);
  FillRectBlend(x, y1, x + 1, y2 == INT32_MAX ? y2 : y2 + 1, color);
}

void TBitmap32::FrameRect(int x1, int y1, int x2, int y2, TColor32 color) {
  if (x1 >= x2 || y1 >= y2) return;
  HorzLine(x1, y1, x2 - 1, color);
  HorzLine(x1, y2 - 1, x2 - 1, color);
  VertLine(x1, y1, y2 - 1, color);
  VertLine(x2 - 1, y1, y2 - 1, color);
}

void TBitmap32::SetStipple(std::span<const TColor32> colors) {
  m_Stipple.assign(colors.begin(), colors.end());
  StippleCounter = 0;
}

TColor32 TBitmap32::NextStippleColor() {
  return StippleColorAdvance(StippleStep);
}

TColor32 TBitmap32::StippleColorAdvance(double advance) {
  if (m_Stipple.empty()) return 0;
  const auto n = static_cast<double>(m_Stipple.size());
  double c = std::fmod(static_cast<double>(StippleCounter), n);
  if (c < 0) c += n;
  if (!(c >= 0 && c < n)) c = 0; // NaN or rounding up to n restarts the pattern
  const TColor32 result = m_Stipple[static_cast<size_t>(c)];
  // Keep the counter small so that float precision never stalls the pattern.
  double next = std::fmod(c + advance, n);
  if (!std::isfinite(next)) next = 0;
  StippleCounter = static_cast<float>(next);
  return result;
}

void TBitmap32::SkipStipple(double advance) {
  if (m_Stipple.empty() || advance == 0) return;
  const auto n = static_cast<double>(m_Stipple.size());
  double next = std::fmod(static_cast<double>(StippleCounter) + std::fmod(advance, n), n);
  if (!std::isfinite(next)) next = 0;
  StippleCounter = static_cast<float>(next);
}

// Runs one stippled pixel walk from a to b (inclusive) along an axis of length limit;
// pixels outside [0, limit) only advance the counter.
template <typename Plot>
static void StippleWalk(TBitmap32& bmp, int a, int b, int limit, Plot plot) {
  const int dir = b >= a ? 1 : -1;
  int64_t from = a, to = b;
  const double step = bmp.StippleStep;
  // Jump over the part before the bitmap in one go.
  int64_t skip = 0;
  if (dir > 0 && from < 0) skip = std::min<int64_t>(to, -1) - from + 1;
  if (dir < 0 && from >= limit) skip = from - std::max<int64_t>(to, limit) + 1;
  from += skip * dir;
  if (skip) bmp.SkipStipple(static_cast<double>(skip) * step);
  for (int64_t i = from; (i - to) * dir <= 0; i += dir) {
    if (i < 0 || i >= limit) {
      // Beyond the far side nothing else is visible; keep the counter where the walk ends.
      bmp.SkipStipple(static_cast<double>((to - i) * dir + 1) * step);
      break;
    }
    plot(static_cast<int>(i), bmp.NextStippleColor());
  }
}

void TBitmap32::HorzLineStippled(int x1, int y, int x2) {
  if (m_Stipple.empty()) return;
  const bool rowInside = y >= 0 && y < m_Height;
  StippleWalk(*this, x1, x2, m_Width, [&](int x, TColor32 c) {
    if (!rowInside) return;
    TColor32& p = ScanLine(y)[x];
    p = CombineColor32(c, p, 255, CombineMode);
  });
}

void TBitmap32::VertLineStippled(int x, int y1, int y2) {
  if (m_Stipple.empty()) return;
  const bool colInside = x >= 0 && x < m_Width;
  StippleWalk(*this, y1, y2, m_Height, [&](int y, TColor32 c) {
    if (!colInside) return;
    TColor32& p = ScanLine(y)[x];
    p = CombineColor32(c, p, 255, CombineMode);
  });
}

void TBitmap32::FrameRectStippled(int x1, int y1, int x2, int y2) {
  if (x1 >= x2 || y1 >= y2 || m_Stipple.empty()) return;
  const int r = x2 - 1, b = y2 - 1;
  HorzLineStippled(x1, y1, r);
  if (b == y1) return;
  VertLineStippled(r, y1 + 1, b);
  if (r == x1) return;
  HorzLineStippled(r - 1, b, x1);
  if (b - 1 > y1) VertLineStippled(x1, b - 1, y1 + 1);
}

void TBitmap32::PlotAntialiased(int x, int y, TColor32 color, uint32_t weight) {
  if (weight == 0 || x < 0 || y < 0 || x >= m_Width || y >= m_Height) return;
  TColor32& p = ScanLine(y)[x];
  p = CombineColor32(color, p, static_cast<uint8_t>(std::min<uint32_t>(weight, 255)), CombineMode);
}

void TBitmap32::LineAntialiased(float x1, float y1, float x2, float y2, TColor32 color) {
  LineAntialiasedImpl(x1, y1, x2, y2, color, false);
}

void TBitmap32::LineAntialiasedStippled(float x1, float y1, float x2, float y2) {
  if (m_Stipple.empty()) return;
  LineAntialiasedImpl(x1, y1, x2, y2, 0, true);
}

// Walks the major axis one pixel centre at a time and splits each sample between the two
// pixels nearest to the line on the minor axis.
void TBitmap32::LineAntialiasedImpl(float fx1, float fy1, float fx2, float fy2, TColor32 color,
                                    bool stippled) {
  double x1 = fx1, y1 = fy1, x2 = fx2, y2 = fy2;
  if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2)) return;
  const double dx = x2 - x1, dy = y2 - y1;
  const bool steep = std::fabs(dy) > std::fabs(dx);
  double a1 = steep ? y1 : x1, b1 = steep ? x1 : y1; // major, minor
  double a2 = steep ? y2 : x2, b2 = steep ? x2 : y2;
  const double da = a2 - a1;
  const double slope = da != 0 ? (b2 - b1) / da : 0;
  const double perPixel = std::sqrt(1 + slope * slope);
  const int dir = da >= 0 ? 1 : -1;
  // Pixel centres i + 0.5 with a1 <= centre < a2 (or the mirror for a descending line);
  // a line shorter than one pixel still lights the pixel it lies in.
  // Far-away ends are clamped before conversion; only positions near the bitmap draw.
  const auto toIndex = [](double v) { return static_cast<int64_t>(std::clamp(v, -1e15, 1e15)); };
  int64_t first, last;
  if (dir > 0) {
    first = toIndex(std::ceil(a1 - 0.5));
    last = toIndex(std::ceil(a2 - 0.5)) - 1;
  } else {
    first = toIndex(std::floor(a1 - 0.5));
    last = toIndex(std::floor(a2 - 0.5)) + 1;
  }
  if ((last - first) * dir < 0) first = last = toIndex(std::floor((a1 + a2) / 2));
  // Only major positions -1 … limit can light a pixel; the rest just advance the stipple.
  const int64_t majorLimit = steep ? m_Height : m_Width;
  const int64_t lo = std::min(first, last), hi = std::max(first, last);
  const int64_t visLo = std::max<int64_t>(lo, -1), visHi = std::min<int64_t>(hi, majorLimit);
  const double advance = StippleStep * perPixel;
  if (visLo > visHi) {
    if (stippled) SkipStipple(static_cast<double>(hi - lo + 1) * advance);
    return;
  }
  const int64_t start = dir > 0 ? visLo : visHi, stop = dir > 0 ? visHi : visLo;
  if (stippled) SkipStipple(static_cast<double>((start - first) * dir) * advance);
  for (int64_t i = start;; i += dir) {
    const TColor32 c = stippled ? StippleColorAdvance(advance) : color;
    const double b = b1 + (static_cast<double>(i) + 0.5 - a1) * slope - 0.5;
    const double fb = std::floor(b);
    if (fb >= -1 && fb <= (steep ? m_Width : m_Height)) {
      const auto w2 = static_cast<uint32_t>(std::lround((b - fb) * 255));
      const int ii = static_cast<int>(i), jj = static_cast<int>(fb);
      if (steep) {
        PlotAntialiased(jj, ii, c, 255 - w2);
        PlotAntialiased(jj + 1, ii, c, w2);
      } else {
        PlotAntialiased(ii, jj, c, 255 - w2);
        PlotAntialiased(ii, jj + 1, c, w2);
      }
    }
    if (i == stop) break;
  }
  if (stippled) SkipStipple(static_cast<double>((last - stop) * dir) * advance);
}

void TBitmap32::Draw(int dstX, int dstY, const TBitmap32& source) {
  Draw(dstX, dstY, source.BoundsRect(), source);
}

void TBitmap32::Draw(int dstX, int dstY, const TRect& srcRect, const TBitmap32& source) {
  // Clip the source rectangle to the source, then the placed rectangle to this bitmap.
  int64_t sl = std::max<int64_t>(srcRect.Left, 0), st = std::max<int64_t>(srcRect.Top, 0);
  int64_t sr = std::min<int64_t>(srcRect.Right, source.Width());
  int64_t sb = std::min<int64_t>(srcRect.Bottom, source.Height());
  int64_t dl = int64_t(dstX) + (sl - srcRect.Left), dt = int64_t(dstY) + (st - srcRect.Top);
  if (dl < 0) sl -= dl, dl = 0;
  if (dt < 0) st -= dt, dt = 0;
  sr = std::min<int64_t>(sr, sl + (m_Width - dl));
  sb = std::min<int64_t>(sb, st + (m_Height - dt));
  if (sl >= sr || st >= sb) return;
  const auto n = static_cast<size_t>(sr - sl);
  const bool same = &source == this;
  std::vector<TColor32> overlap;
  for (int64_t y = 0; y < sb - st; ++y) {
    // Drawing a bitmap onto itself copies through a row buffer in a safe order.
    const int64_t row = (same && dt > st) ? (sb - st - 1 - y) : y;
    const TColor32* s = source.ScanLine(static_cast<int>(st + row)) + sl;
    TColor32* d = ScanLine(static_cast<int>(dt + row)) + dl;
    if (same) {
      overlap.assign(s, s + n);
      s = overlap.data();
    }
    if (source.DrawMode == dmOpaque)
      std::memmove(d, s, n * sizeof(TColor32));
    else
      BlendLine(s, d, n, source.MasterAlpha, source.CombineMode);
  }
}

void TBitmap32::Draw(const TRect& dstRect, const TRect& srcRect, const TBitmap32& source) {
  StretchTransfer(*this, dstRect, BoundsRect(), source, srcRect, source.StretchFilter,
                  source.DrawMode, source.CombineMode, source.MasterAlpha);
}

} // namespace dtp
