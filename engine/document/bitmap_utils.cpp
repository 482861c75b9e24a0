#include "engine/document/bitmap_utils.h"

#include <algorithm>
#include <vector>

namespace dtp {

namespace {

// Takes the pixels of `out` and keeps the drawing settings of `bitmap`.
void ReplacePixels(TBitmap32& bitmap, TBitmap32&& out) {
  out.OuterColor = bitmap.OuterColor;
  out.MasterAlpha = bitmap.MasterAlpha;
  out.DrawMode = bitmap.DrawMode;
  out.CombineMode = bitmap.CombineMode;
  out.StretchFilter = bitmap.StretchFilter;
  bitmap = std::move(out);
}

} // namespace

void RotateQuarterCounterClockwise(TBitmap32& bitmap) {
  const int w = bitmap.Width(), h = bitmap.Height();
  TBitmap32 out(h, w);
  for (int y = 0; y < h; ++y) {
    const TColor32* src = bitmap.ScanLine(y);
    for (int x = 0; x < w; ++x) out.SetPixel(y, w - 1 - x, src[x]);
  }
  ReplacePixels(bitmap, std::move(out));
}

void RotateQuarterClockwise(TBitmap32& bitmap) {
  const int w = bitmap.Width(), h = bitmap.Height();
  TBitmap32 out(h, w);
  for (int y = 0; y < h; ++y) {
    const TColor32* src = bitmap.ScanLine(y);
    for (int x = 0; x < w; ++x) out.SetPixel(h - 1 - y, x, src[x]);
  }
  ReplacePixels(bitmap, std::move(out));
}

void RotateHalf(TBitmap32& bitmap) {
  MirrorLeftRight(bitmap);
  MirrorTopBottom(bitmap);
}

void MirrorLeftRight(TBitmap32& bitmap) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    TColor32* row = bitmap.ScanLine(y);
    std::reverse(row, row + bitmap.Width());
  }
}

void MirrorTopBottom(TBitmap32& bitmap) {
  const int w = bitmap.Width();
  for (int y = 0, z = bitmap.Height() - 1; y < z; ++y, --z)
    std::swap_ranges(bitmap.ScanLine(y), bitmap.ScanLine(y) + w, bitmap.ScanLine(z));
}

bool IsUniformColor(const TBitmap32* bitmap, TColor32 color) {
  if (!bitmap || bitmap->Width() == 0) return true;
  const int w = bitmap->Width(), h = bitmap->Height();
  const auto rowIs = [&](int y) {
    const TColor32* row = bitmap->ScanLine(y);
    return std::all_of(row, row + w, [color](TColor32 c) { return c == color; });
  };
  for (int top = 0, bottom = h - 1; top <= bottom; ++top, --bottom) {
    if (!rowIs(top)) return false;
    if (bottom != top && !rowIs(bottom)) return false;
  }
  return true;
}

void InvertAlpha(TBitmap32& bitmap) {
  TColor32* p = bitmap.Bits();
  const size_t n = static_cast<size_t>(bitmap.Width()) * static_cast<size_t>(bitmap.Height());
  for (size_t i = 0; i < n; ++i) p[i] ^= 0xFF000000u;
}

int64_t SquaredDistance(TPoint a, TPoint b) {
  const int64_t dx = int64_t(a.X) - b.X, dy = int64_t(a.Y) - b.Y;
  return dx * dx + dy * dy;
}

double SquaredDistanceToSegment(TFloatPoint p, TFloatPoint a, TFloatPoint b) {
  const double vx = double(b.X) - a.X, vy = double(b.Y) - a.Y;
  const double wx = double(p.X) - a.X, wy = double(p.Y) - a.Y;
  const double len = vx * vx + vy * vy;
  double t = len > 0 ? (wx * vx + wy * vy) / len : 0;
  t = std::clamp(t, 0.0, 1.0);
  const double dx = wx - t * vx, dy = wy - t * vy;
  return dx * dx + dy * dy;
}

} // namespace dtp
