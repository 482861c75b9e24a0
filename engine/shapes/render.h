#pragma once
// The render recursion over the shape tree. A shape that is turned, translucent, mirrored,
// flipped or carries effects renders into its own cache at the render resolution, and the
// cache is resampled into the target; all other shapes paint straight into the target.

#include "engine/shapes/device_context.h"
#include "platform/core/geometry.h"
#include "platform/raster/bitmap32.h"

namespace dtp {

class TdtpShape;

// Cache pixels around the shape's origin at resolution d: the bitmap is (L + R) × (T + B)
// and the shape's origin lies on pixel (L, T).
struct TCacheGeometry {
  int L = 0, T = 0, R = 0, B = 0;
};
TCacheGeometry CacheGeometry(const TdtpShape& shape, float dpm);

// Draws the shape and its subtree into `target`, whose full extent covers `area`: a
// rectangle of the parent's frame, or of the shape's own frame when `isRoot` is set.
void DrawShape(TdtpShape& shape, TBitmap32& target, const TFloatRect& area, bool isRoot,
               const TDeviceContext& context);
void DrawCached(TdtpShape& shape, TBitmap32& target, const TFloatRect& area, bool isRoot,
                const TDeviceContext& context);
// Paints the shape and its children into a bitmap covering `rect` of the shape's frame.
void PaintInto(TdtpShape& shape, TBitmap32& bitmap, const TFloatRect& rect,
               const TDeviceContext& context);

} // namespace dtp
