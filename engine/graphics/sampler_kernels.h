#pragma once
// Inner loops of the map sampler, one table per instruction set. Every kernel gives the
// same pixels as the scalar one; the tests compare them on random runs.

#include <cstdint>

#include "platform/core/color.h"

namespace dtp::sampler {

// Positions handed to the kernels stay within ±kPositionLimit (1/256 pixel), so that sums
// of a start and an offset never overflow 32 bits.
constexpr int32_t kPositionLimit = 1 << 29;

// Entry k = nint(255 · (k / 255)^0.7).
const uint8_t* GammaTable();
// Entry f = the weight of the left (or upper) pixel at fraction f, Gamma[255 − f], in both
// 16-bit halves.
const uint32_t* PairedWeights();

struct TSampleSource {
  const TColor32* Bits = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  TColor32 Outer = 0;
};

// The interpolated read at (x, y).
TColor32 ReadAt(const TSampleSource& src, int32_t x, int32_t y);

// dst[i] = the interpolated read at (x0 + dx[i], y0 + dy[i]).
using TReadRun = void (*)(const TSampleSource& src, int32_t x0, int32_t y0, const int32_t* dx,
                          const int32_t* dy, int32_t count, TColor32* dst);
// Adds the blue, green, red and alpha bytes of those reads to sums[4 i … 4 i + 3].
using TAccumulateRun = void (*)(const TSampleSource& src, int32_t x0, int32_t y0, const int32_t* dx,
                                const int32_t* dy, int32_t count, uint16_t* sums);
// dst[i] = each of the four sums divided by s, remainder discarded (s = 1 … 36).
using TAverageRun = void (*)(const uint16_t* sums, int32_t count, int32_t s, TColor32* dst);
// Each src pixel blended over dst by its alpha scaled by m (the raster layer's cmBlend).
using TBlendRun = void (*)(const TColor32* src, TColor32* dst, int32_t count, uint8_t m);

struct TKernelTable {
  TReadRun ReadRun;
  TAccumulateRun AccumulateRun;
  TAverageRun AverageRun;
  TBlendRun BlendRun;
};

const TKernelTable& PortableKernels();
// nullptr when the CPU or the build lacks AVX2.
const TKernelTable* Avx2Kernels();

#if defined(KARTOLINO_HAVE_AVX2)
void ReadRunAvx2(const TSampleSource& src, int32_t x0, int32_t y0, const int32_t* dx,
                 const int32_t* dy, int32_t count, TColor32* dst);
void AccumulateRunAvx2(const TSampleSource& src, int32_t x0, int32_t y0, const int32_t* dx,
                       const int32_t* dy, int32_t count, uint16_t* sums);
void AverageRunAvx2(const uint16_t* sums, int32_t count, int32_t s, TColor32* dst);
void BlendRunAvx2(const TColor32* src, TColor32* dst, int32_t count, uint8_t m);
#endif

} // namespace dtp::sampler
