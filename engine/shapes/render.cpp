#include "engine/shapes/render.h"

#include <algorithm>
#include <cmath>

#include "engine/document/bitmap_utils.h"
#include "engine/document/document.h"
#include "engine/shapes/shape.h"
#include "engine/shapes/transform.h"
#include "platform/canvas/canvas.h"
#include "platform/host/host.h"
#include "platform/raster/blend.h"

namespace dtp {

namespace {

bool Overlap(const TFloatRect& a, const TFloatRect& b) {
  const float l = std::max(a.Left, b.Left), r = std::min(a.Right, b.Right);
  const float t = std::max(a.Top, b.Top), bt = std::min(a.Bottom, b.Bottom);
  return !(r < l || bt < t);
}

// Bilinear read of the source at a position in pixel units (pixel centres at +0.5); outside
// the bitmap the outer colour, so edges fade out smoothly.
TColor32 Bilinear(const TBitmap32& src, double x, double y) {
  x -= 0.5;
  y -= 0.5;
  const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
  const double fx = x - x0, fy = y - y0;
  const TColor32 c[4] = {src.PixelS(x0, y0), src.PixelS(x0 + 1, y0), src.PixelS(x0, y0 + 1),
                         src.PixelS(x0 + 1, y0 + 1)};
  const double w[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
  double acc[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) acc[k] += w[i] * ((c[i] >> (8 * k)) & 0xFF);
  TColor32 out = 0;
  for (int k = 0; k < 4; ++k)
    out |= static_cast<TColor32>(std::clamp(static_cast<int>(acc[k] + 0.5), 0, 255)) << (8 * k);
  return out;
}

// Draws `src` into `dst` through `m` (source pixels to target pixels): every target pixel
// inside the mapped source bounds is mapped back, sampled on a 2 × 2 grid and merged over
// the target with the source's master alpha.
void DrawTransformed(TBitmap32& dst, const TBitmap32& src, const TAffineMatrix& m) {
  if (src.Empty() || dst.Empty()) return;
  TdtpAffineTransform forward(m), inverse(m);
  inverse.Invert();
  const TAffineMatrix& inv = inverse.Matrix();
  const TFloatPoint corners[4] = {ApplyMatrix(m, {0, 0}), ApplyMatrix(m, {float(src.Width()), 0}),
                                  ApplyMatrix(m, {float(src.Width()), float(src.Height())}),
                                  ApplyMatrix(m, {0, float(src.Height())})};
  float l = corners[0].X, t = corners[0].Y, r = l, b = t;
  for (const auto& c : corners) {
    l = std::min(l, c.X);
    t = std::min(t, c.Y);
    r = std::max(r, c.X);
    b = std::max(b, c.Y);
  }
  const int x1 = std::max(0, static_cast<int>(std::floor(l))),
            y1 = std::max(0, static_cast<int>(std::floor(t)));
  const int x2 = std::min(dst.Width(), static_cast<int>(std::ceil(r))),
            y2 = std::min(dst.Height(), static_cast<int>(std::ceil(b)));
  static constexpr double kSub[2] = {0.25, 0.75};
  for (int y = y1; y < y2; ++y) {
    TColor32* row = dst.ScanLine(y);
    for (int x = x1; x < x2; ++x) {
      uint32_t sum[4] = {0, 0, 0, 0};
      bool any = false;
      for (double sy : kSub)
        for (double sx : kSub) {
          const double px = x + sx, py = y + sy;
          const double u = inv.m00 * px + inv.m10 * py + inv.m20;
          const double v = inv.m01 * px + inv.m11 * py + inv.m21;
          if (u >= -1 && v >= -1 && u <= src.Width() + 1 && v <= src.Height() + 1) any = true;
          const TColor32 c = Bilinear(src, u, v);
          for (int k = 0; k < 4; ++k) sum[k] += (c >> (8 * k)) & 0xFF;
        }
      if (!any) continue;
      const TColor32 sample =
          (sum[0] / 4) | ((sum[1] / 4) << 8) | ((sum[2] / 4) << 16) | ((sum[3] / 4) << 24);
      row[x] = MergeColor32(sample, row[x], src.MasterAlpha);
    }
  }
}

} // namespace

void PaintInto(TdtpShape& shape, TBitmap32& bitmap, const TFloatRect& rect,
               const TDeviceContext& context) {
  bitmap.CombineMode = cmMerge;
  bitmap.DrawMode = dmBlend;
  bitmap.StretchFilter = context.Quality;
  TdtpAffineTransform t;
  t.Translate(-rect.Left, -rect.Top);
  t.Scale(bitmap.Width() / double(rect.Right - rect.Left),
          bitmap.Height() / double(rect.Bottom - rect.Top));
  shape.SetDeviceTransform(t.Matrix());
  shape.Paint(bitmap, context);
  if (shape.UsesCanvas()) {
    // Canvas drawing writes alpha 0; inverting around it makes touched pixels opaque and
    // gives the untouched ones their alpha back.
    InvertAlpha(bitmap);
    {
      TCanvas canvas(bitmap);
      shape.PaintCanvas(canvas, context);
    }
    InvertAlpha(bitmap);
  }
  for (int i = 0; i < shape.ShapeCount(); ++i) {
    TdtpShape* child = shape.Shapes(i);
    if (child && child->Visible()) DrawShape(*child, bitmap, rect, false, context);
  }
  // Children overwrote the device transform while they painted.
  shape.SetDeviceTransform(t.Matrix());
  shape.AfterPaint(bitmap, context);
}

void DrawShape(TdtpShape& shape, TBitmap32& target, const TFloatRect& area, bool isRoot,
               const TDeviceContext& context) {
  const TFloatRect extent = isRoot ? TFloatRect{-shape.OuterLeft(), -shape.OuterTop(),
                                                shape.DocWidth() + shape.OuterRight(),
                                                shape.DocHeight() + shape.OuterBottom()}
                                   : shape.GetBoundingBox(true);
  if (!Overlap(extent, area)) return;
  if (shape.NeedsCache()) {
    DrawCached(shape, target, area, isRoot, context);
    return;
  }
  shape.FreeCache();
  TFloatRect local = area;
  if (!isRoot) {
    const TFloatPoint a = shape.ParentToLocal({area.Left, area.Top});
    const TFloatPoint b = shape.ParentToLocal({area.Right, area.Bottom});
    local = {a.X, a.Y, b.X, b.Y};
  }
  PaintInto(shape, target, local, context);
  if (context.Device == dtScreen) shape.PaintOverlay(target, local);
}

void DrawCached(TdtpShape& shape, TBitmap32& target, const TFloatRect& area, bool isRoot,
                const TDeviceContext& context) {
  const bool reuse = shape.CacheBitmap() && shape.CacheDpm() > 0 &&
                     context.RenderDpm <= shape.CacheDpm() &&
                     !(context.RenderDpm < shape.CacheDpm() && context.ExactResolution);
  if (!reuse) {
    TdtpDocument* doc = shape.Document();
    if (doc && doc->Host()) doc->Host()->SetCursor(crAppStart);
    const float d = context.RenderDpm;
    shape.SetCacheDpm(d);
    const TCacheGeometry g = CacheGeometry(shape, d);
    TBitmap32& cache = shape.EnsureCacheBitmap();
    cache.SetSize(g.L + g.R, g.T + g.B);
    cache.Clear(context.BackColor);
    cache.OuterColor = context.BackColor;
    cache.CombineMode = cmMerge;
    cache.DrawMode = dmBlend;
    cache.StretchFilter = context.Quality;
    TDeviceContext inner = context;
    inner.ScreenDpm = d;
    const TFloatRect rect{-g.L / d, -g.T / d, g.R / d, g.B / d};
    PaintInto(shape, cache, rect, inner);
    shape.PostProcess(cache, inner);
    if (context.Device == dtScreen) shape.PaintOverlay(cache, rect);
  }
  TBitmap32& cache = *shape.CacheBitmap();
  cache.MasterAlpha = static_cast<uint8_t>(std::clamp(shape.MasterAlpha(), 0, 255));

  const float d = shape.CacheDpm();
  const TCacheGeometry g = CacheGeometry(shape, d);
  TdtpAffineTransform m;
  m.Translate(-g.L, -g.T);
  m.Scale(1.0 / d, 1.0 / d);
  if (!isRoot) {
    m.Rotate(-shape.DocAngle(), 0, 0);
    m.Translate(shape.DocLeft(), shape.DocTop());
  }
  m.Translate(-area.Left, -area.Top);
  m.Scale(target.Width() / double(area.Right - area.Left),
          target.Height() / double(area.Bottom - area.Top));

  DrawTransformed(target, cache, m.Matrix());
  if (context.DropCaches) shape.FreeCache();
}

} // namespace dtp
