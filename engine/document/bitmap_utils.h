#pragma once
// Pixel-level routines on 32-bit bitmaps shared by the render pipeline and the effects.

#include <cstdint>

#include "platform/core/color.h"
#include "platform/core/geometry.h"
#include "platform/raster/bitmap32.h"

namespace dtp {

// Source pixel (x, y) goes to (y, W − 1 − x) of a bitmap of swapped size.
void RotateQuarterCounterClockwise(TBitmap32& bitmap);
void RotateHalf(TBitmap32& bitmap);
// Source pixel (x, y) goes to (H − 1 − y, x).
void RotateQuarterClockwise(TBitmap32& bitmap);
void MirrorLeftRight(TBitmap32& bitmap);
void MirrorTopBottom(TBitmap32& bitmap);
// True for a missing or empty bitmap; rows are compared from both ends towards the middle.
bool IsUniformColor(const TBitmap32* bitmap, TColor32 color);
// XOR of every pixel with 0xFF000000, around drawing through a platform canvas.
void InvertAlpha(TBitmap32& bitmap);

int64_t SquaredDistance(TPoint a, TPoint b);
// Squared distance from p to the segment a–b (the parameter clamped to 0 … 1).
double SquaredDistanceToSegment(TFloatPoint p, TFloatPoint a, TFloatPoint b);

} // namespace dtp
