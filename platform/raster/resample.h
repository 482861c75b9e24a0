#pragma once
// Stretched drawing: a source rectangle resampled onto a destination rectangle with one
// of the stretch filters, then copied or blended into the destination.
//
// The filters are separable: each output pixel of an axis takes a weighted sum of source
// pixels around the point its centre maps to, (i + 0.5) * scale - 0.5. When shrinking,
// the kernel is widened by the shrink factor so every source pixel contributes. Source
// pixels beyond the source rectangle repeat its edge pixels. The four channels are
// filtered independently, as stored (not premultiplied). An axis whose source and
// destination sizes are equal is not filtered, so a 1:1 stretch is an exact copy.
//
// sfNearest picks the source pixel under each output centre; sfDraft averages the area
// each output pixel covers (which is linear interpolation when enlarging); sfLinear,
// sfCosine (radius 1), sfSpline (cubic B-spline), sfMitchell (B = C = 1/3, radius 2) and
// sfLanczos (radius 3) weigh by their kernel.

#include <cstdint>

#include "platform/core/geometry.h"
#include "platform/raster/bitmap32.h"

namespace dtp {

// Draws srcRect of src stretched onto dstRect of dst, touching only pixels inside both
// dst and dstClip. srcRect is clipped to src (dstRect shrinks with it). dmOpaque copies
// the filtered pixels, dmBlend blends them by combineMode with masterAlpha. Empty or
// inverted rectangles draw nothing. dst and src must be different bitmaps.
void StretchTransfer(TBitmap32& dst, const TRect& dstRect, const TRect& dstClip,
                     const TBitmap32& src, const TRect& srcRect, TStretchFilter filter,
                     TDrawMode drawMode, TCombineMode combineMode, uint8_t masterAlpha);

// The kernel value of a filter at distance x (in source pixels, unscaled) and its radius.
double StretchKernel(TStretchFilter filter, double x);
double StretchKernelRadius(TStretchFilter filter);

// Which implementation of the filter passes runs: the scalar reference, or the fastest
// one this CPU supports (the same results, bit for bit). Tests switch between them.
enum TResampleKernels : uint8_t { rkReference, rkOptimised };
void SetResampleKernels(TResampleKernels kernels);
// True when an optimised implementation exists for this build and CPU.
bool OptimisedResampleAvailable();

} // namespace dtp
