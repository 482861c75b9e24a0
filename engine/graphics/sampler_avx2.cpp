// AVX2 kernels of the map sampler: eight reads or blends at a time, in 16-bit lanes with
// exactly the scalar kernels' rounding. Tails go through the same code on padded copies.
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "engine/graphics/sampler_kernels.h"

namespace dtp::sampler {

namespace {

// x / 255 rounded to nearest in each 16-bit lane, exact for x <= 65025.
inline __m256i Div255(__m256i x) {
  return _mm256_mulhi_epu16(_mm256_add_epi16(x, _mm256_set1_epi16(128)), _mm256_set1_epi16(257));
}

// (a · w + b · iw) / 255 per 16-bit lane, with iw = 255 − w.
inline __m256i Mix16(__m256i a, __m256i b, __m256i w, __m256i iw) {
  return Div255(_mm256_add_epi16(_mm256_mullo_epi16(a, w), _mm256_mullo_epi16(b, iw)));
}

struct TReader {
  const long long* Top;
  const long long* Below;
  const int* Weights;
  __m256i LimX, LimY, Stride, Outer;

  explicit TReader(const TSampleSource& src)
      : Top(reinterpret_cast<const long long*>(src.Bits)),
        Below(reinterpret_cast<const long long*>(src.Bits + src.Width)),
        Weights(reinterpret_cast<const int*>(PairedWeights())),
        LimX(_mm256_set1_epi32((src.Width - 1) * 256)),
        LimY(_mm256_set1_epi32((src.Height - 1) * 256)), Stride(_mm256_set1_epi32(src.Width)),
        Outer(_mm256_set1_epi32(static_cast<int>(src.Outer))) {}

  // The interpolated reads at eight positions.
  __m256i Read(__m256i x, __m256i y) const {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i inside = _mm256_and_si256(
        _mm256_and_si256(_mm256_cmpgt_epi32(x, zero), _mm256_cmpgt_epi32(LimX, x)),
        _mm256_and_si256(_mm256_cmpgt_epi32(y, zero), _mm256_cmpgt_epi32(LimY, y)));
    if (_mm256_testz_si256(inside, inside)) return Outer;

    // Lanes outside read pixel 0 and its neighbours, which exist, and are replaced below.
    __m256i idx = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srai_epi32(y, 8), Stride),
                                   _mm256_srai_epi32(x, 8));
    idx = _mm256_and_si256(idx, inside);
    const __m256i mask8 = _mm256_set1_epi32(0xFF);
    const __m256i wx = _mm256_i32gather_epi32(Weights, _mm256_and_si256(x, mask8), 4);
    const __m256i wy = _mm256_i32gather_epi32(Weights, _mm256_and_si256(y, mask8), 4);
    const __m256i full = _mm256_set1_epi32(0x00FF00FF);
    const __m256i iwx = _mm256_sub_epi16(full, wx);
    const __m256i iwy = _mm256_sub_epi16(full, wy);

    // Each gather fetches a pixel and its right neighbour as one 64-bit value. The index
    // order (0 1 4 5 | 2 3 6 7) makes the de-interleaving shuffles give lanes 0 … 7.
    const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
    const __m256i p = _mm256_permutevar8x32_epi32(idx, order);
    const __m128i pLo = _mm256_castsi256_si128(p), pHi = _mm256_extracti128_si256(p, 1);
    const __m256 t0 = _mm256_castsi256_ps(_mm256_i32gather_epi64(Top, pLo, 4));
    const __m256 t1 = _mm256_castsi256_ps(_mm256_i32gather_epi64(Top, pHi, 4));
    const __m256 b0 = _mm256_castsi256_ps(_mm256_i32gather_epi64(Below, pLo, 4));
    const __m256 b1 = _mm256_castsi256_ps(_mm256_i32gather_epi64(Below, pHi, 4));
    const __m256i p00 = _mm256_castps_si256(_mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m256i p10 = _mm256_castps_si256(_mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 1, 3, 1)));
    const __m256i p01 = _mm256_castps_si256(_mm256_shuffle_ps(b0, b1, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m256i p11 = _mm256_castps_si256(_mm256_shuffle_ps(b0, b1, _MM_SHUFFLE(3, 1, 3, 1)));

    // Blue and red in one register, green and alpha in another, 16 bits per channel.
    auto even = [full](__m256i v) { return _mm256_and_si256(v, full); };
    auto odd = [full](__m256i v) { return _mm256_and_si256(_mm256_srli_epi32(v, 8), full); };
    const __m256i topE = Mix16(even(p00), even(p10), wx, iwx);
    const __m256i topO = Mix16(odd(p00), odd(p10), wx, iwx);
    const __m256i botE = Mix16(even(p01), even(p11), wx, iwx);
    const __m256i botO = Mix16(odd(p01), odd(p11), wx, iwx);
    const __m256i e = Mix16(topE, botE, wy, iwy);
    const __m256i o = Mix16(topO, botO, wy, iwy);
    const __m256i result = _mm256_or_si256(e, _mm256_slli_epi32(o, 8));
    return _mm256_blendv_epi8(Outer, result, inside);
  }
};

inline bool HasInside(const TSampleSource& src) {
  return src.Width >= 2 && src.Height >= 2;
}

// Calls f(reads, i, n) for groups of eight positions; the last group may hold n < 8.
template <typename F>
void ForEachGroup(const TSampleSource& src, int32_t x0, int32_t y0, const int32_t* dx,
                  const int32_t* dy, int32_t count, F&& f) {
  const TReader reader(src);
  const __m256i bx = _mm256_set1_epi32(x0), by = _mm256_set1_epi32(y0);
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i x =
        _mm256_add_epi32(bx, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dx + i)));
    const __m256i y =
        _mm256_add_epi32(by, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dy + i)));
    f(reader.Read(x, y), i, 8);
  }
  if (i < count) {
    const int32_t n = count - i;
    // Padding positions of 0 lie outside, so they read nothing.
    alignas(32) int32_t px[8] = {-x0, -x0, -x0, -x0, -x0, -x0, -x0, -x0};
    alignas(32) int32_t py[8] = {-y0, -y0, -y0, -y0, -y0, -y0, -y0, -y0};
    std::memcpy(px, dx + i, sizeof(int32_t) * size_t(n));
    std::memcpy(py, dy + i, sizeof(int32_t) * size_t(n));
    const __m256i x = _mm256_add_epi32(bx, _mm256_load_si256(reinterpret_cast<const __m256i*>(px)));
    const __m256i y = _mm256_add_epi32(by, _mm256_load_si256(reinterpret_cast<const __m256i*>(py)));
    f(reader.Read(x, y), i, n);
  }
}

// Adds the bytes of eight pixels to sums (four 16-bit sums per pixel).
inline void AddTo(__m256i pixels, uint16_t* sums) {
  auto* lo = reinterpret_cast<__m256i*>(sums);
  auto* hi = reinterpret_cast<__m256i*>(sums + 16);
  const __m256i a = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(pixels));
  const __m256i b = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(pixels, 1));
  _mm256_storeu_si256(lo, _mm256_add_epi16(_mm256_loadu_si256(lo), a));
  _mm256_storeu_si256(hi, _mm256_add_epi16(_mm256_loadu_si256(hi), b));
}

inline __m256i Blend8(__m256i f, __m256i b, uint8_t m, bool scaled) {
  __m256i fa = _mm256_srli_epi32(f, 24);
  if (scaled) {
    // floor(fa · m / 255) = (fa · m · 32897) >> 23, exact for products up to 65025.
    const __m256i prod = _mm256_mullo_epi16(fa, _mm256_set1_epi32(m));
    fa = _mm256_srli_epi16(_mm256_mulhi_epu16(prod, _mm256_set1_epi32(32897)), 7);
  }
  const __m256i full = _mm256_set1_epi32(0x00FF00FF);
  const __m256i wa = _mm256_or_si256(fa, _mm256_slli_epi32(fa, 16));
  const __m256i iwa = _mm256_sub_epi16(full, wa);
  const __m256i e = Mix16(_mm256_and_si256(f, full), _mm256_and_si256(b, full), wa, iwa);
  const __m256i g = Mix16(_mm256_and_si256(_mm256_srli_epi32(f, 8), full),
                          _mm256_and_si256(_mm256_srli_epi32(b, 8), full), wa, iwa);
  // The background's alpha grows: ba + (255 − ba) · fa / 255.
  const __m256i ba = _mm256_srli_epi32(b, 24);
  const __m256i grow = _mm256_mullo_epi16(_mm256_sub_epi32(_mm256_set1_epi32(255), ba), fa);
  const __m256i na =
      _mm256_mulhi_epu16(_mm256_add_epi32(grow, _mm256_set1_epi32(128)), _mm256_set1_epi32(257));
  const __m256i alpha = _mm256_add_epi32(ba, na);
  const __m256i green = _mm256_slli_epi32(_mm256_and_si256(g, _mm256_set1_epi32(0xFF)), 8);
  // At fa = 0 this gives b and at fa = 255 it gives f, so no lane needs a special case.
  return _mm256_or_si256(_mm256_or_si256(e, green), _mm256_slli_epi32(alpha, 24));
}

} // namespace

void ReadRunAvx2(const TSampleSource& src, int32_t x0, int32_t y0, const int32_t* dx,
                 const int32_t* dy, int32_t count, TColor32* dst) {
  if (!HasInside(src)) {
    std::fill_n(dst, count, src.Outer);
    return;
  }
  ForEachGroup(src, x0, y0, dx, dy, count, [dst](__m256i v, int32_t i, int32_t n) {
    if (n == 8) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), v);
    } else {
      alignas(32) TColor32 tmp[8];
      _mm256_store_si256(reinterpret_cast<__m256i*>(tmp), v);
      std::memcpy(dst + i, tmp, sizeof(TColor32) * size_t(n));
    }
  });
}

void AccumulateRunAvx2(const TSampleSource& src, int32_t x0, int32_t y0, const int32_t* dx,
                       const int32_t* dy, int32_t count, uint16_t* sums) {
  if (!HasInside(src)) {
    for (int32_t i = 0; i < count; ++i)
      for (int k = 0; k < 4; ++k) sums[4 * i + k] += uint16_t((src.Outer >> (8 * k)) & 0xFF);
    return;
  }
  ForEachGroup(src, x0, y0, dx, dy, count, [sums](__m256i v, int32_t i, int32_t n) {
    if (n == 8) {
      AddTo(v, sums + 4 * i);
    } else {
      alignas(32) uint16_t tmp[32] = {};
      std::memcpy(tmp, sums + 4 * i, sizeof(uint16_t) * 4 * size_t(n));
      AddTo(v, tmp);
      std::memcpy(sums + 4 * i, tmp, sizeof(uint16_t) * 4 * size_t(n));
    }
  });
}

void AverageRunAvx2(const uint16_t* sums, int32_t count, int32_t s, TColor32* dst) {
  int shift = -1;
  if (s == 4) shift = 2;
  if (s == 16) shift = 4;
  int32_t i = 0;
  if (shift > 0) {
    const __m128i sh = _mm_cvtsi32_si128(shift);
    for (; i + 8 <= count; i += 8) {
      const __m256i a =
          _mm256_srl_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + 4 * i)), sh);
      const __m256i b = _mm256_srl_epi16(
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + 4 * i + 16)), sh);
      const __m256i packed =
          _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), _MM_SHUFFLE(3, 1, 2, 0));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), packed);
    }
  }
  const uint32_t d = static_cast<uint32_t>(s);
  for (; i < count; ++i) {
    TColor32 c = 0;
    for (int k = 0; k < 4; ++k) c |= (sums[4 * i + k] / d) << (8 * k);
    dst[i] = c;
  }
}

void BlendRunAvx2(const TColor32* src, TColor32* dst, int32_t count, uint8_t m) {
  if (m == 0) return;
  const bool scaled = m != 255;
  const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    const __m256i alpha = _mm256_and_si256(f, opaque);
    // Runs outside the picture are transparent and inside it mostly opaque: both skip
    // the arithmetic, and give what it would give.
    if (_mm256_testz_si256(alpha, alpha)) continue;
    if (!scaled && _mm256_movemask_epi8(_mm256_cmpeq_epi32(alpha, opaque)) == -1) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), f);
      continue;
    }
    __m256i* d = reinterpret_cast<__m256i*>(dst + i);
    _mm256_storeu_si256(d, Blend8(f, _mm256_loadu_si256(d), m, scaled));
  }
  if (i < count) {
    const int32_t n = count - i;
    alignas(32) TColor32 fs[8] = {}, bs[8] = {};
    std::memcpy(fs, src + i, sizeof(TColor32) * size_t(n));
    std::memcpy(bs, dst + i, sizeof(TColor32) * size_t(n));
    const __m256i r = Blend8(_mm256_load_si256(reinterpret_cast<const __m256i*>(fs)),
                             _mm256_load_si256(reinterpret_cast<const __m256i*>(bs)), m, scaled);
    _mm256_store_si256(reinterpret_cast<__m256i*>(bs), r);
    std::memcpy(dst + i, bs, sizeof(TColor32) * size_t(n));
  }
}

} // namespace dtp::sampler
