#include "platform/raster/polygon32.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_IMAGE_H
#include FT_OUTLINE_H
#include FT_STROKER_H

#include <algorithm>
#include <cmath>

#include "platform/core/errors.h"
#include "platform/raster/blend.h"

namespace dtp {

namespace {

// One FreeType library per thread: the rasteriser and stroker are not shared safely.
struct TFreeTypeLibrary {
  FT_Library Library = nullptr;
  TFreeTypeLibrary() {
    if (FT_Init_FreeType(&Library) != 0) Library = nullptr;
  }
  ~TFreeTypeLibrary() {
    if (Library) FT_Done_FreeType(Library);
  }
  TFreeTypeLibrary(const TFreeTypeLibrary&) = delete;
  TFreeTypeLibrary& operator=(const TFreeTypeLibrary&) = delete;
};

FT_Library Library() {
  thread_local TFreeTypeLibrary holder;
  if (!holder.Library) throw EDtpError("FreeType could not be initialised");
  return holder.Library;
}

// FreeType outlines count points and contours in 16-bit fields.
constexpr size_t kMaxOutlinePoints = 32000;
// Long contours are stroked in pieces so that every stroke outline fits as well.
constexpr size_t kStrokeChunk = 2000;

FT_Pos To26Dot6(TFixed v) {
  return (static_cast<FT_Pos>(v) + 512) >> 10;
}
TFixed From26Dot6(FT_Pos v) {
  return static_cast<TFixed>(std::clamp<FT_Pos>(v * 1024, INT32_MIN, INT32_MAX));
}

// Contours as FreeType points, consecutive duplicates (in 26.6) removed.
struct TFtContours {
  std::vector<FT_Vector> Points;
  std::vector<size_t> Ends; // one past the last point of each contour
};

TFtContours ToFt(const std::vector<TPolygon32::TContour>& contours, size_t minPoints) {
  TFtContours r;
  for (const auto& c : contours) {
    const size_t begin = r.Points.size();
    for (const TFixedPoint& p : c) {
      const FT_Vector v{To26Dot6(p.X), To26Dot6(p.Y)};
      if (r.Points.size() > begin && r.Points.back().x == v.x && r.Points.back().y == v.y) continue;
      r.Points.push_back(v);
    }
    if (r.Points.size() - begin < minPoints) {
      r.Points.resize(begin);
      continue;
    }
    r.Ends.push_back(r.Points.size());
  }
  return r;
}

struct TSpanContext {
  const TPolygon32::TSpanSink* Sink;
  bool Antialiased;
};

void SpanCallback(int y, int count, const FT_Span* spans, void* user) {
  const auto* ctx = static_cast<const TSpanContext*>(user);
  for (int i = 0; i < count; ++i) {
    uint8_t coverage = spans[i].coverage;
    if (!ctx->Antialiased) {
      if (coverage < 128) continue;
      coverage = 255;
    }
    if (coverage) (*ctx->Sink)(y, spans[i].x, spans[i].len, coverage);
  }
}

// Clips contours to the vertical or horizontal half-plane (keepBelow: coordinate < at).
std::vector<TPolygon32::TContour> ClipContours(const std::vector<TPolygon32::TContour>& in,
                                               bool vertical, TFixed at, bool keepBelow) {
  std::vector<TPolygon32::TContour> out;
  const auto coord = [vertical](const TFixedPoint& p) { return vertical ? p.X : p.Y; };
  const auto inside = [&](const TFixedPoint& p) {
    return keepBelow ? coord(p) <= at : coord(p) >= at;
  };
  for (const auto& c : in) {
    if (c.size() < 3) continue;
    TPolygon32::TContour r;
    for (size_t i = 0; i < c.size(); ++i) {
      const TFixedPoint& a = c[i];
      const TFixedPoint& b = c[(i + 1) % c.size()];
      const bool ia = inside(a), ib = inside(b);
      if (ia) r.push_back(a);
      if (ia != ib) {
        const double t =
            (static_cast<double>(at) - coord(a)) / (static_cast<double>(coord(b)) - coord(a));
        const double ox = a.X + t * (static_cast<double>(b.X) - a.X);
        const double oy = a.Y + t * (static_cast<double>(b.Y) - a.Y);
        r.push_back(vertical ? TFixedPoint{at, static_cast<TFixed>(std::lround(oy))}
                             : TFixedPoint{static_cast<TFixed>(std::lround(ox)), at});
      }
    }
    if (r.size() >= 3) out.push_back(std::move(r));
  }
  return out;
}

void RenderContours(const std::vector<TPolygon32::TContour>& contours, TPolyFillMode mode,
                    bool antialiased, const TRect& clip, const TPolygon32::TSpanSink& sink) {
  if (clip.Right <= clip.Left || clip.Bottom <= clip.Top) return;
  TFtContours ft = ToFt(contours, 3);
  if (ft.Ends.empty()) return;
  if (ft.Points.size() > kMaxOutlinePoints || ft.Ends.size() > kMaxOutlinePoints) {
    // Too many points for one outline: split the clip on a pixel boundary, which leaves
    // every pixel's coverage as it was, and render each half from its clipped contours.
    const bool vertical = (clip.Right - clip.Left) >= (clip.Bottom - clip.Top);
    const int32_t lo = vertical ? clip.Left : clip.Top, hi = vertical ? clip.Right : clip.Bottom;
    if (hi - lo >= 2) {
      const int32_t mid = lo + (hi - lo) / 2;
      const TFixed at = static_cast<TFixed>(mid * kFixedOne);
      TRect a = clip, b = clip;
      (vertical ? a.Right : a.Bottom) = mid;
      (vertical ? b.Left : b.Top) = mid;
      RenderContours(ClipContours(contours, vertical, at, true), mode, antialiased, a, sink);
      RenderContours(ClipContours(contours, vertical, at, false), mode, antialiased, b, sink);
      return;
    }
    // A single pixel column or row still too busy: keep what fits.
    while (!ft.Ends.empty() && (ft.Ends.back() > kMaxOutlinePoints)) ft.Ends.pop_back();
    if (ft.Ends.empty()) return;
    ft.Points.resize(ft.Ends.back());
  }
  std::vector<char> tags(ft.Points.size(), FT_CURVE_TAG_ON);
  std::vector<short> ends(ft.Ends.size());
  for (size_t i = 0; i < ft.Ends.size(); ++i) ends[i] = static_cast<short>(ft.Ends[i] - 1);
  FT_Outline outline{};
  outline.n_points = static_cast<short>(ft.Points.size());
  outline.n_contours = static_cast<short>(ends.size());
  outline.points = ft.Points.data();
  outline.tags = tags.data();
  outline.contours = ends.data();
  outline.flags = mode == pfAlternate ? FT_OUTLINE_EVEN_ODD_FILL : FT_OUTLINE_NONE;

  TSpanContext ctx{&sink, antialiased};
  FT_Raster_Params params{};
  params.source = &outline;
  params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
  params.gray_spans = SpanCallback;
  params.user = &ctx;
  params.clip_box = {clip.Left, clip.Top, clip.Right, clip.Bottom};
  if (FT_Outline_Render(Library(), &outline, &params) != 0)
    throw EDtpError("Polygon rasterisation failed");
}

// Collects a decomposed FreeType outline into contours, flattening curves.
struct TCollector {
  TPolygon32* Target;
  FT_Vector Last{};

  static TCollector& Of(void* user) { return *static_cast<TCollector*>(user); }
  void Point(double x, double y) {
    Target->Add(TFixedPoint{From26Dot6(std::lround(x)), From26Dot6(std::lround(y))});
  }
  static int MoveTo(const FT_Vector* to, void* user) {
    TCollector& c = Of(user);
    c.Target->NewLine();
    c.Point(to->x, to->y);
    c.Last = *to;
    return 0;
  }
  static int LineTo(const FT_Vector* to, void* user) {
    TCollector& c = Of(user);
    c.Point(to->x, to->y);
    c.Last = *to;
    return 0;
  }
  // Segments so that the chord stays within about 0.1 pixel (6.4 units of 26.6).
  static int Segments(double deviation) {
    return std::clamp(static_cast<int>(std::ceil(std::sqrt(deviation / 6.4))), 1, 256);
  }
  static int ConicTo(const FT_Vector* ctrl, const FT_Vector* to, void* user) {
    TCollector& c = Of(user);
    const double x0 = c.Last.x, y0 = c.Last.y;
    const double dx = x0 - 2.0 * ctrl->x + to->x, dy = y0 - 2.0 * ctrl->y + to->y;
    const int n = Segments(std::hypot(dx, dy) / 4);
    for (int i = 1; i <= n; ++i) {
      const double t = static_cast<double>(i) / n, u = 1 - t;
      c.Point(u * u * x0 + 2 * u * t * ctrl->x + t * t * to->x,
              u * u * y0 + 2 * u * t * ctrl->y + t * t * to->y);
    }
    c.Last = *to;
    return 0;
  }
  static int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    TCollector& c = Of(user);
    const double x0 = c.Last.x, y0 = c.Last.y;
    const double d1 = std::hypot(x0 - 2.0 * c1->x + c2->x, y0 - 2.0 * c1->y + c2->y);
    const double d2 = std::hypot(c1->x - 2.0 * c2->x + to->x, c1->y - 2.0 * c2->y + to->y);
    const int n = Segments(0.75 * std::max(d1, d2));
    for (int i = 1; i <= n; ++i) {
      const double t = static_cast<double>(i) / n, u = 1 - t;
      const double a = u * u * u, b = 3 * u * u * t, cc = 3 * u * t * t, d = t * t * t;
      c.Point(a * x0 + b * c1->x + cc * c2->x + d * to->x,
              a * y0 + b * c1->y + cc * c2->y + d * to->y);
    }
    c.Last = *to;
    return 0;
  }
};

class TStroker {
public:
  explicit TStroker(FT_Stroker s) : m_Stroker(s) {}
  ~TStroker() { FT_Stroker_Done(m_Stroker); }
  TStroker(const TStroker&) = delete;
  TStroker& operator=(const TStroker&) = delete;
  FT_Stroker Get() const { return m_Stroker; }

private:
  FT_Stroker m_Stroker;
};

// Exports what the stroker holds into the polygon and rewinds it.
void ExportStroke(FT_Stroker stroker, TPolygon32& out) {
  FT_UInt nPoints = 0, nContours = 0;
  if (FT_Stroker_GetCounts(stroker, &nPoints, &nContours) != 0 || nPoints == 0) {
    FT_Stroker_Rewind(stroker);
    return;
  }
  if (nPoints > 32767 || nContours > 32767) throw EDtpError("Stroke outline too complex");
  std::vector<FT_Vector> points(nPoints);
  std::vector<char> tags(nPoints);
  std::vector<short> contours(nContours);
  FT_Outline outline{};
  outline.points = points.data();
  outline.tags = tags.data();
  outline.contours = contours.data();
  FT_Stroker_Export(stroker, &outline);
  FT_Stroker_Rewind(stroker);
  TCollector collector{&out};
  FT_Outline_Funcs funcs{};
  funcs.move_to = TCollector::MoveTo;
  funcs.line_to = TCollector::LineTo;
  funcs.conic_to = TCollector::ConicTo;
  funcs.cubic_to = TCollector::CubicTo;
  if (FT_Outline_Decompose(&outline, &funcs, &collector) != 0)
    throw EDtpError("Stroke outline could not be read");
}

} // namespace

void TPolygon32::Clear() {
  m_Points.clear();
  m_Points.emplace_back();
}

void TPolygon32::NewLine() {
  if (!m_Points.back().empty()) m_Points.emplace_back();
}

size_t TPolygon32::PointCount() const {
  size_t n = 0;
  for (const auto& c : m_Points) n += c.size();
  return n;
}

TRect TPolygon32::BoundsRect() const {
  bool any = false;
  TFixed x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  for (const auto& c : m_Points)
    for (const TFixedPoint& p : c) {
      if (!any) {
        x0 = x1 = p.X, y0 = y1 = p.Y, any = true;
        continue;
      }
      x0 = std::min(x0, p.X), x1 = std::max(x1, p.X);
      y0 = std::min(y0, p.Y), y1 = std::max(y1, p.Y);
    }
  if (!any) return {};
  const auto floorPx = [](TFixed v) { return static_cast<int32_t>(v >> 16); };
  const auto ceilPx = [](TFixed v) {
    return static_cast<int32_t>((static_cast<int64_t>(v) + 0xFFFF) >> 16);
  };
  return {floorPx(x0), floorPx(y0), ceilPx(x1), ceilPx(y1)};
}

void TPolygon32::Render(const TRect& clip, const TSpanSink& sink) const {
  // Only the part of the clip the polygon can reach is handed to the rasteriser.
  const TRect b = BoundsRect();
  TRect c{std::max(clip.Left, b.Left), std::max(clip.Top, b.Top), std::min(clip.Right, b.Right),
          std::min(clip.Bottom, b.Bottom)};
  // FreeType's spans carry 16-bit x positions.
  c.Left = std::max(c.Left, -32768);
  c.Right = std::min(c.Right, 32767);
  RenderContours(m_Points, FillMode, Antialiased, c, sink);
}

void TPolygon32::DrawFill(TBitmap32& bitmap, TColor32 color) const {
  if (bitmap.Empty() || (color >> 24) == 0) return;
  const TCombineMode mode = bitmap.CombineMode;
  Render(bitmap.BoundsRect(), [&](int y, int x, int length, uint8_t coverage) {
    BlendSolidSpan(color, coverage, bitmap.ScanLine(y) + x, static_cast<size_t>(length), mode);
  });
}

void TPolygon32::DrawEdge(TBitmap32& bitmap, TColor32 color) const {
  TPolygon32 edge = StrokeOutline(kFixedOne / 2);
  edge.Antialiased = Antialiased;
  edge.DrawFill(bitmap, color);
}

TPolygon32 TPolygon32::StrokeOutline(TFixed halfWidth, float edgeSharpness) const {
  TPolygon32 result;
  result.FillMode = pfWinding;
  result.Antialiased = true;
  result.Closed = Closed;
  if (halfWidth <= 0) return result;
  FT_Stroker raw = nullptr;
  if (FT_Stroker_New(Library(), &raw) != 0) throw EDtpError("FreeType stroker unavailable");
  TStroker stroker(raw);
  const double sharp = std::isfinite(edgeSharpness) ? std::clamp(edgeSharpness, 0.0f, 1.0f) : 0.5;
  const auto limit = static_cast<FT_Fixed>(std::lround((1 + 2 * sharp) * 65536));
  const FT_Fixed radius = std::max<FT_Fixed>(1, To26Dot6(halfWidth));
  FT_Stroker_Set(stroker.Get(), radius, FT_STROKER_LINECAP_ROUND,
                 FT_STROKER_LINEJOIN_MITER_VARIABLE, limit);

  const TFtContours ft = ToFt(m_Points, 2);
  size_t begin = 0;
  for (size_t end : ft.Ends) {
    std::vector<FT_Vector> pts(ft.Points.begin() + static_cast<ptrdiff_t>(begin),
                               ft.Points.begin() + static_cast<ptrdiff_t>(end));
    begin = end;
    // A closed contour whose last point repeats its first needs no closing segment.
    while (Closed && pts.size() > 2 && pts.back().x == pts.front().x &&
           pts.back().y == pts.front().y)
      pts.pop_back();
    if (Closed && pts.size() <= kStrokeChunk) {
      FT_Stroker_BeginSubPath(stroker.Get(), &pts[0], false);
      for (size_t i = 1; i < pts.size(); ++i) FT_Stroker_LineTo(stroker.Get(), &pts[i]);
      FT_Stroker_EndSubPath(stroker.Get());
      ExportStroke(stroker.Get(), result);
      continue;
    }
    // Open contours, and closed ones too long for one stroke outline, are stroked as open
    // pieces sharing their end points; the round ends cover the joins between pieces.
    if (Closed) pts.push_back(pts.front());
    for (size_t s = 0; s + 1 < pts.size(); s += kStrokeChunk) {
      const size_t e = std::min(pts.size() - 1, s + kStrokeChunk);
      FT_Stroker_BeginSubPath(stroker.Get(), &pts[s], true);
      for (size_t i = s + 1; i <= e; ++i) FT_Stroker_LineTo(stroker.Get(), &pts[i]);
      FT_Stroker_EndSubPath(stroker.Get());
      ExportStroke(stroker.Get(), result);
    }
  }
  return result;
}

} // namespace dtp
