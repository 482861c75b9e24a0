#include "platform/canvas/canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/core/numeric.h"
#include "platform/raster/polygon32.h"

namespace dtp {

// Which pixels one drawing call touches and with what (1 brush, 2 pen), so that every
// pixel is written once per call: XOR drawing twice restores the picture.
class TCanvas::TMask {
public:
  // The rectangle [x0, x1) × [y0, y1) limited to the bitmap, widened by grow on every
  // side of the bitmap.
  TMask(const TBitmap32& b, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int grow = 0) {
    m_R.Left = static_cast<int32_t>(std::clamp<int64_t>(x0, -grow, b.Width() + grow));
    m_R.Top = static_cast<int32_t>(std::clamp<int64_t>(y0, -grow, b.Height() + grow));
    m_R.Right = static_cast<int32_t>(std::clamp<int64_t>(x1, m_R.Left, b.Width() + grow));
    m_R.Bottom = static_cast<int32_t>(std::clamp<int64_t>(y1, m_R.Top, b.Height() + grow));
    m_Values.assign(static_cast<size_t>(m_R.Width()) * static_cast<size_t>(m_R.Height()), 0);
  }
  const TRect& Rect() const { return m_R; }
  bool Inside(int64_t x, int64_t y) const {
    return x >= m_R.Left && x < m_R.Right && y >= m_R.Top && y < m_R.Bottom;
  }
  void Mark(int64_t x, int64_t y, uint8_t v) {
    if (!Inside(x, y)) return;
    uint8_t& m = At(static_cast<int>(x), static_cast<int>(y));
    m = std::max(m, v);
  }
  uint8_t Get(int64_t x, int64_t y) const {
    return Inside(x, y) ? m_Values[Index(static_cast<int>(x), static_cast<int>(y))] : 0;
  }
  void Fill(const TPolygon32& p, uint8_t v) {
    p.Render(m_R, [&](int y, int x, int len, uint8_t) {
      for (int i = 0; i < len; ++i) Mark(x + i, y, v);
    });
  }

private:
  size_t Index(int x, int y) const {
    return static_cast<size_t>(y - m_R.Top) * static_cast<size_t>(m_R.Width()) +
           static_cast<size_t>(x - m_R.Left);
  }
  uint8_t& At(int x, int y) { return m_Values[Index(x, y)]; }

  TRect m_R;
  std::vector<uint8_t> m_Values;
};

namespace {

// On and off run lengths of the dash styles, in pixels.
std::span<const int> DashPattern(TPenStyle style) {
  static const int dash[] = {18, 6}, dot[] = {3, 3}, dashDot[] = {9, 6, 3, 6},
                   dashDotDot[] = {9, 3, 3, 3, 3, 3};
  switch (style) {
  case psDash:
    return dash;
  case psDot:
    return dot;
  case psDashDot:
    return dashDot;
  case psDashDotDot:
    return dashDotDot;
  default:
    return {};
  }
}

bool DashOn(std::span<const int> pattern, int64_t pos) {
  if (pattern.empty()) return true;
  int total = 0;
  for (int v : pattern) total += v;
  int64_t p = pos % total;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (p < pattern[i]) return i % 2 == 0;
    p -= pattern[i];
  }
  return true;
}

TColor32 Rgb(TColor c) {
  return Color32FromColor(c) & 0x00FFFFFFu;
}

int PenWidth(const TPen& pen) {
  return std::max(1, pen.Width);
}

TPolygon32 EllipsePath(double cx, double cy, double rx, double ry) {
  TPolygon32 p;
  const double perimeter = 2 * kPi * std::sqrt((rx * rx + ry * ry) / 2);
  const int n = std::clamp(static_cast<int>(perimeter / 2), 16, 4096);
  for (int i = 0; i < n; ++i) {
    const double a = 2 * kPi * i / n;
    p.Add(cx + rx * std::cos(a), cy + ry * std::sin(a));
  }
  return p;
}

} // namespace

void TCanvas::MoveTo(int x, int y) {
  m_PenPos = {x, y};
}

void TCanvas::LineTo(int x, int y) {
  const TPoint points[] = {m_PenPos, {x, y}};
  Polyline(points);
  m_PenPos = {x, y};
}

// One-pixel line by Bresenham's walk; very long lines are first cut to the mask's area
// so the walk stays bounded, the dash position advancing over the cut part.
void TCanvas::PenLine(TMask& mask, TPoint a, TPoint b, bool lastPixel) {
  const auto pattern = DashPattern(Pen.Style);
  int64_t ax = a.X, ay = a.Y, bx = b.X, by = b.Y;
  int64_t n = std::max(std::llabs(bx - ax), std::llabs(by - ay));
  if (n > (int64_t(1) << 16)) {
    const TRect& r = mask.Rect();
    double t0 = 0, t1 = 1;
    const double dx = double(bx - ax), dy = double(by - ay);
    const auto clip = [&](double p, double q) { // Liang-Barsky against one edge
      if (p == 0) return q >= 0;
      const double t = q / p;
      if (p < 0)
        t0 = std::max(t0, t);
      else
        t1 = std::min(t1, t);
      return true;
    };
    if (!clip(-dx, double(ax - (r.Left - 2))) || !clip(dx, double((r.Right + 2) - ax)) ||
        !clip(-dy, double(ay - (r.Top - 2))) || !clip(dy, double((r.Bottom + 2) - ay)) || t0 > t1) {
      m_DashPos += n;
      return;
    }
    const int64_t i0 = static_cast<int64_t>(std::floor(t0 * n));
    const int64_t i1 = static_cast<int64_t>(std::ceil(t1 * n));
    const TPoint s{static_cast<int32_t>(ax + Round(dx * i0 / n)),
                   static_cast<int32_t>(ay + Round(dy * i0 / n))};
    const TPoint e{static_cast<int32_t>(ax + Round(dx * i1 / n)),
                   static_cast<int32_t>(ay + Round(dy * i1 / n))};
    m_DashPos += i0;
    PenLine(mask, s, e, i1 == n && lastPixel);
    m_DashPos += n - i1;
    return;
  }
  const int64_t dx = std::llabs(bx - ax), dy = -std::llabs(by - ay);
  const int sx = ax < bx ? 1 : -1, sy = ay < by ? 1 : -1;
  int64_t err = dx + dy;
  if (lastPixel) ++n;
  for (int64_t i = 0; i < n; ++i) {
    if (DashOn(pattern, m_DashPos++)) mask.Mark(ax, ay, 2);
    const int64_t e2 = 2 * err;
    if (e2 >= dy) err += dy, ax += sx;
    if (e2 <= dx) err += dx, ay += sy;
  }
}

void TCanvas::PenPath(TMask& mask, std::span<const TPoint> points, bool closed) {
  if (Pen.Style == psClear || points.size() < 2) return;
  // The dash pattern starts anew with every drawing call, so that an XOR drawing repeated
  // with the same coordinates touches the same pixels and erases itself.
  m_DashPos = 0;
  const int width = PenWidth(Pen);
  if (width == 1) {
    for (size_t i = 0; i + 1 < points.size(); ++i) PenLine(mask, points[i], points[i + 1], false);
    if (closed) PenLine(mask, points.back(), points.front(), false);
    return;
  }
  // Wide pens are solid and centred on the path through the pixel centres.
  TPolygon32 path;
  path.Closed = closed;
  for (const TPoint& p : points) path.Add(p.X + 0.5, p.Y + 0.5);
  TPolygon32 stroke = path.StrokeOutline(static_cast<TFixed>(width * (kFixedOne / 2)));
  stroke.Antialiased = false;
  mask.Fill(stroke, 2);
}

void TCanvas::Apply(const TMask& mask) {
  const TRect& r = mask.Rect();
  const TColor32 pen = Rgb(Pen.Color), brush = Rgb(Brush.Color);
  for (int y = r.Top; y < r.Bottom; ++y) {
    TColor32* row = m_Bitmap.ScanLine(y);
    for (int x = r.Left; x < r.Right; ++x) {
      const uint8_t v = mask.Get(x, y);
      if (!v) continue;
      const TColor32 c = v == 2 ? pen : brush;
      row[x] = Pen.Mode == pmXor ? row[x] ^ c : c;
    }
  }
}

namespace {

// The area the pen and the points can reach.
void Extent(std::span<const TPoint> points, int margin, int64_t& x0, int64_t& y0, int64_t& x1,
            int64_t& y1) {
  x0 = y0 = INT64_MAX;
  x1 = y1 = INT64_MIN;
  for (const TPoint& p : points) {
    x0 = std::min<int64_t>(x0, p.X), y0 = std::min<int64_t>(y0, p.Y);
    x1 = std::max<int64_t>(x1, p.X), y1 = std::max<int64_t>(y1, p.Y);
  }
  x0 -= margin, y0 -= margin, x1 += margin + 1, y1 += margin + 1;
}

} // namespace

void TCanvas::Polyline(std::span<const TPoint> points) {
  if (points.size() < 2 || Pen.Style == psClear) return;
  int64_t x0, y0, x1, y1;
  Extent(points, PenWidth(Pen), x0, y0, x1, y1);
  TMask mask(m_Bitmap, x0, y0, x1, y1);
  PenPath(mask, points, false);
  Apply(mask);
}

void TCanvas::Polygon(std::span<const TPoint> points) {
  if (points.empty()) return;
  int64_t x0, y0, x1, y1;
  Extent(points, PenWidth(Pen), x0, y0, x1, y1);
  TMask mask(m_Bitmap, x0, y0, x1, y1);
  if (Brush.Style == bsSolid && points.size() >= 3) {
    TPolygon32 inside;
    inside.Antialiased = false;
    for (const TPoint& p : points) inside.Add(double(p.X), double(p.Y));
    mask.Fill(inside, 1);
  }
  PenPath(mask, points, true);
  Apply(mask);
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  if (x1 == x2 || y1 == y2) return;
  const int w = PenWidth(Pen);
  m_DashPos = 0;
  TMask mask(m_Bitmap, int64_t(x1) - w, int64_t(y1) - w, int64_t(x2) + w, int64_t(y2) + w);
  if (Brush.Style == bsSolid) {
    const TRect& r = mask.Rect();
    for (int64_t y = std::max(y1, r.Top); y < std::min(y2, r.Bottom); ++y)
      for (int64_t x = std::max(x1, r.Left); x < std::min(x2, r.Right); ++x) mask.Mark(x, y, 1);
  }
  const TPoint corners[] = {{x1, y1}, {x2 - 1, y1}, {x2 - 1, y2 - 1}, {x1, y2 - 1}};
  if (int64_t(x2) - x1 == 1 || int64_t(y2) - y1 == 1) {
    // A one-pixel-thin rectangle: its outline is the single line itself.
    const TPoint line[] = {corners[0], corners[2]};
    if (Pen.Style != psClear) {
      if (w == 1)
        PenLine(mask, line[0], line[1], true);
      else
        PenPath(mask, line, false);
    }
  } else {
    PenPath(mask, corners, true);
  }
  Apply(mask);
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  if (x1 == x2 || y1 == y2) return;
  const int w = PenWidth(Pen);
  TMask mask(m_Bitmap, int64_t(x1) - w, int64_t(y1) - w, int64_t(x2) + w, int64_t(y2) + w);
  const double cx = (double(x1) + x2) / 2, cy = (double(y1) + y2) / 2;
  const double rx = (double(x2) - x1) / 2, ry = (double(y2) - y1) / 2;
  TPolygon32 region = EllipsePath(cx, cy, rx, ry);
  region.Antialiased = false;
  const bool pen = Pen.Style != psClear;
  if (!pen || w > 1) {
    if (Brush.Style == bsSolid) mask.Fill(region, 1);
    if (pen) {
      TPolygon32 path = EllipsePath(cx, cy, std::max(0.0, rx - 0.5), std::max(0.0, ry - 0.5));
      TPolygon32 stroke = path.StrokeOutline(static_cast<TFixed>(w * (kFixedOne / 2)));
      stroke.Antialiased = false;
      mask.Fill(stroke, 2);
    }
    Apply(mask);
    return;
  }
  // One-pixel pen: the region's boundary pixels (a neighbour outside), dashed by angle.
  // The region is known one pixel beyond the bitmap so that clipping adds no boundary.
  TMask inside(m_Bitmap, x1, y1, x2, y2, 1);
  inside.Fill(region, 1);
  const auto pattern = DashPattern(Pen.Style);
  const double perimeter = kPi * (3 * (rx + ry) - std::sqrt((3 * rx + ry) * (rx + 3 * ry)));
  const TRect& r = mask.Rect();
  for (int y = r.Top; y < r.Bottom; ++y)
    for (int x = r.Left; x < r.Right; ++x) {
      if (!inside.Get(x, y)) continue;
      const bool border = !inside.Get(x - 1, y) || !inside.Get(x + 1, y) || !inside.Get(x, y - 1) ||
                          !inside.Get(x, y + 1);
      if (border) {
        double a = std::atan2((y + 0.5 - cy) / ry, (x + 0.5 - cx) / rx);
        if (a < 0) a += 2 * kPi;
        const auto pos = static_cast<int64_t>(a / (2 * kPi) * perimeter);
        if (DashOn(pattern, pos)) mask.Mark(x, y, 2);
      } else if (Brush.Style == bsSolid) {
        mask.Mark(x, y, 1);
      }
    }
  Apply(mask);
}

void TCanvas::FillRect(const TRect& r) {
  m_Bitmap.FillRect(r.Left, r.Top, r.Right, r.Bottom, Rgb(Brush.Color));
}

TColor TCanvas::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= m_Bitmap.Width() || y >= m_Bitmap.Height()) return -1;
  const TColor32 c = m_Bitmap.Pixel(x, y);
  return static_cast<TColor>(((c >> 16) & 0xFF) | (c & 0xFF00) | ((c & 0xFF) << 16));
}

void TCanvas::SetPixel(int x, int y, TColor color) {
  m_Bitmap.SetPixelS(x, y, Rgb(color));
}

} // namespace dtp
