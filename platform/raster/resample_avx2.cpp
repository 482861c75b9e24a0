// The two filter passes with AVX2; results are identical to the reference passes.
#include <immintrin.h>

#include <cstring>

#include "platform/raster/resample_kernels.h"

namespace dtp::resample {

namespace {

// Per 128-bit lane: four BGRA pixels p0..p3 become (p0c, p1c) byte pairs for each
// channel c of p0/p1, then the same for p2/p3, ready for paired multiply-adds.
inline __m256i PairChannels(__m256i v) {
  const __m256i shuffle = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15, 0,
                                           4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
  return _mm256_shuffle_epi8(v, shuffle);
}

inline __m128i Load64(const void* p) {
  return _mm_loadl_epi64(static_cast<const __m128i*>(p));
}

inline __m128i Load32(const void* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return _mm_cvtsi32_si128(v);
}

// Sums of two output pixels (one per lane): four int32 channel sums each.
inline __m256i HorzPair(const TColor32* r0, const TColor32* r1, const int16_t* w0,
                        const int16_t* w1, int taps) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i acc = zero;
  int k = 0;
  for (; k + 4 <= taps; k += 4) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + k));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + k));
    const __m256i v = PairChannels(_mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1));
    const __m256i w =
        _mm256_inserti128_si256(_mm256_castsi128_si256(Load64(w0 + k)), Load64(w1 + k), 1);
    acc = _mm256_add_epi32(
        acc, _mm256_madd_epi16(_mm256_unpacklo_epi8(v, zero), _mm256_shuffle_epi32(w, 0x00)));
    acc = _mm256_add_epi32(
        acc, _mm256_madd_epi16(_mm256_unpackhi_epi8(v, zero), _mm256_shuffle_epi32(w, 0x55)));
  }
  if (k < taps) { // two taps left (taps is even)
    const __m256i v = PairChannels(
        _mm256_inserti128_si256(_mm256_castsi128_si256(Load64(r0 + k)), Load64(r1 + k), 1));
    const __m256i w =
        _mm256_inserti128_si256(_mm256_castsi128_si256(Load32(w0 + k)), Load32(w1 + k), 1);
    acc = _mm256_add_epi32(
        acc, _mm256_madd_epi16(_mm256_unpacklo_epi8(v, zero), _mm256_shuffle_epi32(w, 0x00)));
  }
  const __m256i round = _mm256_set1_epi32(1 << (kHorzShift - 1));
  return _mm256_srai_epi32(_mm256_add_epi32(acc, round), kHorzShift);
}

} // namespace

void HorzPassAvx2(const TColor32* row, const int32_t* start, const int16_t* weights, int taps,
                  int count, int16_t* out) {
  int i = 0;
  for (; i + 4 <= count; i += 4) {
    const int16_t* w = weights + static_cast<size_t>(i) * taps;
    const __m256i a = HorzPair(row + start[i], row + start[i + 1], w, w + taps, taps);
    const __m256i b =
        HorzPair(row + start[i + 2], row + start[i + 3], w + 2 * taps, w + 3 * taps, taps);
    // Lanes hold (i, i+2) and (i+1, i+3) after packing; put them back in order.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), packed);
  }
  for (; i < count; ++i)
    HorzPixel(row, start[i], weights + static_cast<size_t>(i) * taps, taps, out + 4 * i);
}

void VertPassAvx2(const int16_t* const* rows, const int16_t* weights, int taps, int count,
                  TColor32* out) {
  const __m256i round = _mm256_set1_epi32(1 << (kVertShift - 1));
  int x = 0;
  for (; x + 4 <= count; x += 4) {
    __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
    for (int k = 0; k < taps; k += 2) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + 4 * x));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k + 1] + 4 * x));
      const __m256i w = _mm256_set1_epi32(static_cast<int32_t>(
          static_cast<uint16_t>(weights[k]) | (static_cast<uint32_t>(weights[k + 1]) << 16)));
      lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
      hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
    }
    lo = _mm256_srai_epi32(_mm256_add_epi32(lo, round), kVertShift);
    hi = _mm256_srai_epi32(_mm256_add_epi32(hi, round), kVertShift);
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(lo, hi), _mm256_setzero_si256());
    const __m256i ordered = _mm256_permute4x64_epi64(bytes, 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm256_castsi256_si128(ordered));
  }
  for (; x < count; ++x) out[x] = VertPixel(rows, weights, taps, x);
}

} // namespace dtp::resample
