#include "engine/shapes/render.h"

#include <algorithm>

#include "engine/document/bitmap_utils.h"
#include "engine/document/document.h"
#include "engine/graphics/sampler.h"
#include "engine/shapes/shape.h"
#include "engine/shapes/transform.h"
#include "platform/canvas/canvas.h"
#include "platform/host/host.h"

namespace dtp {

namespace {

bool Overlap(const TFloatRect& a, const TFloatRect& b) {
  const float l = std::max(a.Left, b.Left), r = std::min(a.Right, b.Right);
  const float t = std::max(a.Top, b.Top), bt = std::min(a.Bottom, b.Bottom);
  return !(r < l || bt < t);
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

  TdtpMapSampler sampler;
  sampler.SetTargetMap(&target);
  sampler.SetTargetArea(area);
  sampler.SetSourceMap(&cache);
  sampler.SetTransform(&m);
  sampler.Draw({0, 0, float(cache.Width()), float(cache.Height())});
  if (context.DropCaches) shape.FreeCache();
}

} // namespace dtp
