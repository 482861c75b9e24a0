#include "engine/graphics/sampler_kernels.h"

#include <array>
#include <cmath>

#include "platform/core/numeric.h"
#include "platform/raster/blend.h"

namespace dtp::sampler {

namespace {

struct TTables {
  std::array<uint8_t, 256> Gamma{};
  std::array<uint32_t, 256> Paired{};
};

const TTables& Tables() {
  static const TTables tables = [] {
    TTables t;
    for (int k = 0; k < 256; ++k)
      t.Gamma[k] = static_cast<uint8_t>(Round(255.0 * std::pow(k / 255.0, 0.7)));
    for (int f = 0; f < 256; ++f) t.Paired[f] = t.Gamma[255 - f] * 0x00010001u;
    return t;
  }();
  return tables;
}

// a over b per channel with a's weight w out of 255, rounded to nearest.
inline TColor32 Mix(TColor32 a, TColor32 b, uint32_t w) {
  const uint32_t v = 255 - w;
  TColor32 result = 0;
  for (int shift = 0; shift <= 24; shift += 8) {
    const uint32_t c = ((a >> shift) & 0xFF) * w + ((b >> shift) & 0xFF) * v;
    result |= Div255Round(c) << shift;
  }
  return result;
}

void ReadRunPortable(const TSampleSource& src, int32_t x0, int32_t y0, const int32_t* dx,
                     const int32_t* dy, int32_t count, TColor32* dst) {
  for (int32_t i = 0; i < count; ++i) dst[i] = ReadAt(src, x0 + dx[i], y0 + dy[i]);
}

void AccumulateRunPortable(const TSampleSource& src, int32_t x0, int32_t y0, const int32_t* dx,
                           const int32_t* dy, int32_t count, uint16_t* sums) {
  for (int32_t i = 0; i < count; ++i) {
    const TColor32 c = ReadAt(src, x0 + dx[i], y0 + dy[i]);
    for (int k = 0; k < 4; ++k) sums[4 * i + k] += static_cast<uint16_t>((c >> (8 * k)) & 0xFF);
  }
}

void AverageRunPortable(const uint16_t* sums, int32_t count, int32_t s, TColor32* dst) {
  const uint32_t d = static_cast<uint32_t>(s);
  for (int32_t i = 0; i < count; ++i) {
    TColor32 c = 0;
    for (int k = 0; k < 4; ++k) c |= (sums[4 * i + k] / d) << (8 * k);
    dst[i] = c;
  }
}

void BlendRunPortable(const TColor32* src, TColor32* dst, int32_t count, uint8_t m) {
  BlendLine(src, dst, static_cast<size_t>(count), m, cmBlend);
}

} // namespace

const uint8_t* GammaTable() {
  return Tables().Gamma.data();
}

const uint32_t* PairedWeights() {
  return Tables().Paired.data();
}

TColor32 ReadAt(const TSampleSource& src, int32_t x, int32_t y) {
  // Strictly inside: the right and lower neighbours exist, and a source narrower or lower
  // than two pixels has no inside at all.
  if (!(x > 0 && x < (src.Width - 1) * 256 && y > 0 && y < (src.Height - 1) * 256))
    return src.Outer;
  const uint8_t* gamma = Tables().Gamma.data();
  const uint32_t wx = gamma[255 - (x & 255)];
  const uint32_t wy = gamma[255 - (y & 255)];
  const TColor32* top = src.Bits + static_cast<size_t>(y >> 8) * static_cast<size_t>(src.Width) +
                        static_cast<size_t>(x >> 8);
  const TColor32* bottom = top + src.Width;
  return Mix(Mix(top[0], top[1], wx), Mix(bottom[0], bottom[1], wx), wy);
}

const TKernelTable& PortableKernels() {
  static const TKernelTable table{ReadRunPortable, AccumulateRunPortable, AverageRunPortable,
                                  BlendRunPortable};
  return table;
}

const TKernelTable* Avx2Kernels() {
#if defined(KARTOLINO_HAVE_AVX2)
  static const TKernelTable table{ReadRunAvx2, AccumulateRunAvx2, AverageRunAvx2, BlendRunAvx2};
  static const bool available = __builtin_cpu_supports("avx2");
  if (available) return &table;
#endif
  return nullptr;
}

} // namespace dtp::sampler
