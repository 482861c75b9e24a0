// The parts of TdtpShape that concern its rendered image: the cache, screen areas and
// hit tests.

#include <algorithm>
#include <cmath>

#include "engine/document/bitmap_utils.h"
#include "engine/document/document.h"
#include "engine/shapes/handles.h"
#include "engine/shapes/render.h"
#include "engine/shapes/shape.h"
#include "platform/core/numeric.h"

namespace dtp {

bool TPolygonRegion::Contains(TPoint p) const {
  if (Empty()) return false;
  const double x = p.X + 0.5, y = p.Y + 0.5;
  bool inside = false;
  for (size_t i = 0, j = Points.size() - 1; i < Points.size(); j = i++) {
    const TFloatPoint& a = Points[i];
    const TFloatPoint& b = Points[j];
    if ((a.Y > y) != (b.Y > y)) {
      const double cross = a.X + (y - a.Y) * (double(b.X) - a.X) / (double(b.Y) - a.Y);
      if (x < cross) inside = !inside;
    }
  }
  return inside;
}

TCacheGeometry CacheGeometry(const TdtpShape& s, float d) {
  const auto up = [](double v) { return static_cast<int>(std::ceil(v)); };
  return {up(double(s.OuterLeft()) * d), up(double(s.OuterTop()) * d),
          up((double(s.DocWidth()) + s.OuterRight()) * d),
          up((double(s.DocHeight()) + s.OuterBottom()) * d)};
}

bool TdtpShape::NeedsCache() const {
  return m_AlwaysCached || m_DocAngle != 0 || m_MasterAlpha != 255 || HasBitmapEffects();
}

void TdtpShape::PostProcess(TBitmap32& bitmap, const TDeviceContext& /*context*/) {
  if (m_Mirrored) MirrorLeftRight(bitmap);
  if (m_Flipped) MirrorTopBottom(bitmap);
}

TBitmap32& TdtpShape::EnsureCacheBitmap() {
  if (!m_CacheBitmap) m_CacheBitmap = std::make_unique<TBitmap32>();
  return *m_CacheBitmap;
}

TFloatPoint TdtpShape::LocalToCachePixel(TFloatPoint p) const {
  if (!m_CacheBitmap || m_CacheDpm <= 0) return {-1, -1};
  const TCacheGeometry g = CacheGeometry(*this, m_CacheDpm);
  return {g.L + p.X * m_CacheDpm, g.T + p.Y * m_CacheDpm};
}

namespace {

void CornersOnScreen(const TdtpShape& s, bool withMargins, TFloatPoint out[4]) {
  float l = 0, t = 0, r = s.DocWidth(), b = s.DocHeight();
  if (withMargins) {
    l = -s.OuterLeft();
    t = -s.OuterTop();
    r += s.OuterRight();
    b += s.OuterBottom();
  }
  out[0] = s.LocalToScreen({l, t});
  out[1] = s.LocalToScreen({r, t});
  out[2] = s.LocalToScreen({r, b});
  out[3] = s.LocalToScreen({l, b});
}

TPolygonRegion RoundedRegion(const TFloatPoint c[4]) {
  TPolygonRegion region;
  for (int i = 0; i < 4; ++i)
    region.Points.push_back({static_cast<float>(Round(c[i].X)), static_cast<float>(Round(c[i].Y))});
  return region;
}

TRect Union(const TRect& a, const TRect& b) {
  return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
          std::max(a.Bottom, b.Bottom)};
}

bool InRect(const TRect& r, TPoint p) {
  return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom;
}

} // namespace

TRect TdtpShape::GetScreenRect() const {
  TFloatPoint c[4];
  CornersOnScreen(*this, true, c);
  float l = c[0].X, t = c[0].Y, r = c[0].X, b = c[0].Y;
  for (const auto& p : c) {
    l = std::min(l, p.X);
    t = std::min(t, p.Y);
    r = std::max(r, p.X);
    b = std::max(b, p.Y);
  }
  return {static_cast<int>(Round(l - 0.5)), static_cast<int>(Round(t - 0.5)),
          static_cast<int>(Round(r + 0.5)), static_cast<int>(Round(b + 0.5))};
}

TPolygonRegion TdtpShape::GetScreenRegion() const {
  TFloatPoint c[4];
  CornersOnScreen(*this, true, c);
  return RoundedRegion(c);
}

TPolygonRegion TdtpShape::GetDeviceRegion() const {
  TFloatPoint c[4];
  CornersOnScreen(*this, false, c);
  return RoundedRegion(c);
}

TRect TdtpShape::GetScreenBounds() {
  UpdateHandles();
  TRect r = GetScreenRect();
  if (m_AllowSelect && m_HandlePainter) {
    const auto& handles = m_HandlePainter->Handles();
    for (size_t i = 0; i < handles.size(); ++i) {
      const TFloatPoint c = LocalToScreen(handles[i].Position);
      const int half = m_HandlePainter->HandleHalfSize(static_cast<int>(i));
      const int x = static_cast<int>(Round(c.X)), y = static_cast<int>(Round(c.Y));
      r = Union(r, {x - half, y - half, x + half + 1, y + half + 1});
    }
  }
  return r;
}

bool TdtpShape::HitTestOpaque(TPoint p) {
  const TFloatPoint c = ScreenToCachePixel({float(p.X), float(p.Y)});
  if (!m_CacheBitmap) return true;
  const int qx = static_cast<int>(Round(c.X)), qy = static_cast<int>(Round(c.Y));
  if (qx < 0 || qy < 0 || qx >= m_CacheBitmap->Width() || qy >= m_CacheBitmap->Height())
    return true;
  if (!m_Document) return false;
  const uint32_t threshold = static_cast<uint32_t>(m_MasterAlpha) * 50 / 255;
  for (const TPoint& o : m_Document->HitOffsets()) {
    const TColor32 px = m_CacheBitmap->PixelS(qx + o.X, qy + o.Y);
    if ((px >> 24) > threshold) return true;
  }
  return false;
}

bool TdtpShape::HitTest(TPoint p) {
  if (!GetScreenRegion().Contains(p)) return false;
  if (m_CacheBitmap) return HitTestOpaque(p);
  const TPolygonRegion region = GetDeviceRegion();
  if (region.Empty() || !m_Document) return false;
  for (const TPoint& o : m_Document->HitOffsets())
    if (region.Contains({p.X + o.X, p.Y + o.Y})) return true;
  return false;
}

bool TdtpShape::HitTestDeep(TPoint p, TdtpShape*& shape) {
  shape = nullptr;
  if (!GetScreenRegion().Contains(p)) return false;
  shape = this;
  for (int i = ShapeCount() - 1; i >= 0; --i) {
    TdtpShape* found = nullptr;
    if (m_Shapes[static_cast<size_t>(i)]->HitTestDeep(p, found)) {
      shape = found;
      return true;
    }
  }
  if (!m_Shapes.empty()) return false;
  if (m_CacheBitmap && !HitTestOpaque(p)) {
    shape = nullptr;
    return false;
  }
  return true;
}

int TdtpShape::HitTestHandle(TPoint p) {
  if (!m_Selected) return hkNone;
  if (!InRect(GetScreenBounds(), p)) return hkNone;
  m_DragHandle = -1;
  const auto allowed = [this](int code) {
    if ((code >= hkTopLeft && code <= hkTop) || code == hkPoint) return m_AllowResize ? code : 0;
    return code;
  };
  const auto& handles = m_HandlePainter->Handles();
  int kind = hkNone;
  for (size_t i = 0; i < handles.size() && kind == hkNone; ++i) {
    const TFloatPoint c = LocalToScreen(handles[i].Position);
    const int half = m_HandlePainter->HandleHalfSize(static_cast<int>(i));
    const int x = static_cast<int>(Round(c.X)), y = static_cast<int>(Round(c.Y));
    if (p.X >= x - half && p.X <= x + half && p.Y >= y - half && p.Y <= y + half) {
      kind = allowed(handles[i].Code);
      if (kind != hkNone) m_DragHandle = static_cast<int>(i);
    }
  }
  if (kind == hkNone) {
    const TFloatPoint fp{float(p.X), float(p.Y)};
    for (const TdtpDragLine& line : m_HandlePainter->Lines()) {
      if (line.StartHandle >= static_cast<int>(handles.size()) ||
          line.EndHandle >= static_cast<int>(handles.size()))
        continue;
      const TFloatPoint a = LocalToScreen(handles[static_cast<size_t>(line.StartHandle)].Position);
      const TFloatPoint b = LocalToScreen(handles[static_cast<size_t>(line.EndHandle)].Position);
      if (SquaredDistanceToSegment(fp, a, b) < 10) {
        kind = allowed(line.Code);
        if (kind != hkNone) break;
      }
    }
  }
  if (kind == hkRotate && !m_AllowRotate) {
    kind = hkNone;
    m_DragHandle = -1;
  }
  return kind;
}

} // namespace dtp
