// The two filter passes with AVX2; results are identical to the reference passes.
#include <immintrin.h>

#include <cstring>

#include "platform/raster/resample_kernels.h"

namespace dtp::resample {

namespace {

// Per 128-bit lane: four BGRA pixels p0..p3 become, as int16, the (p0c, p1c) pairs of
// the four channels (TapPairs01) or the (p2c, p3c) pairs (TapPairs23), ready for paired
// multiply-adds; the shuffle's zeroed bytes do the widening.
inline __m256i TapPairs01(__m256i v) {
  const __m256i m = _mm256_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1, 0, -1,
                                     4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1);
  return _mm256_shuffle_epi8(v, m);
}

inline __m256i TapPairs23(__m256i v) {
  const __m256i m = _mm256_setr_epi8(8, -1, 12, -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1,
                                     8, -1, 12, -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1);
  return _mm256_shuffle_epi8(v, m);
}

inline __m128i Load64(const void* p) {
  return _mm_loadl_epi64(static_cast<const __m128i*>(p));
}

inline __m128i Load128(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

inline __m256i Load256(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

inline __m256i Lanes(__m128i lo, __m128i hi) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// Weights of two output pixels (lane 0: the first, lane 1: the second): for every 4 taps
// two vectors (taps 0/1 and 2/3, each pair repeated for the four channels), for 2
// remaining taps one vector.
inline int PairStride(int taps) {
  return (taps / 4) * 32 + (taps % 4 ? 16 : 0);
}

// Prepared layout: for every group of four output pixels i … i+3 the pair (i, i+2), then
// the pair (i+1, i+3), so that packing the two pairs' sums yields i … i+3 in order; for
// two pixels left over one pair (i, i+1); for an odd count the last pixel's plain weights.

// Sums of two output pixels (one per lane): four int32 channel sums each, shifted.
template <int kTaps>
inline __m256i HorzPair(const TColor32* r0, const TColor32* r1, const int16_t* w, int taps) {
  const int n = kTaps ? kTaps : taps;
  __m256i acc = _mm256_set1_epi32(1 << (kHorzShift - 1));
  int k = 0;
  for (; k + 4 <= n; k += 4, w += 32) {
    const __m256i v = Lanes(Load128(r0 + k), Load128(r1 + k));
    acc = _mm256_add_epi32(acc, _mm256_madd_epi16(TapPairs01(v), Load256(w)));
    acc = _mm256_add_epi32(acc, _mm256_madd_epi16(TapPairs23(v), Load256(w + 16)));
  }
  if (k < n) { // two taps left (taps is even)
    const __m256i v = Lanes(Load64(r0 + k), Load64(r1 + k));
    acc = _mm256_add_epi32(acc, _mm256_madd_epi16(TapPairs01(v), Load256(w)));
  }
  return _mm256_srai_epi32(acc, kHorzShift);
}

inline void Prefetch(const TColor32* p) {
  _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
}

template <int kTaps>
void HorzPassT(const TColor32* row, const int32_t* start, const int16_t* weights, int taps,
               int count, int16_t* out, const TColor32* ahead) {
  const int stride = PairStride(taps);
  // Without a row to fetch ahead the current one is touched again: a load slot, no more.
  const TColor32* pf = ahead ? ahead : row;
  const int16_t* w = weights;
  int i = 0;
  for (; i + 4 <= count; i += 4, w += 2 * stride) {
    Prefetch(pf + start[i]);
    const __m256i a = HorzPair<kTaps>(row + start[i], row + start[i + 2], w, taps);
    const __m256i b = HorzPair<kTaps>(row + start[i + 1], row + start[i + 3], w + stride, taps);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), _mm256_packs_epi32(a, b));
  }
  if (i + 2 <= count) {
    const __m256i a = HorzPair<kTaps>(row + start[i], row + start[i + 1], w, taps);
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, a), 0xD8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm256_castsi256_si128(packed));
    i += 2;
    w += stride;
  }
  if (i < count) HorzPixel(row, start[i], w, taps, out + 4 * i);
}

template <int kTaps>
void HorzPass2T(const TColor32* const* rows, const int32_t* start, const int16_t* weights, int taps,
                int count, int16_t* const* outs, const TColor32* const* ahead) {
  const int stride = PairStride(taps);
  const TColor32 *r0 = rows[0], *r1 = rows[1];
  int16_t *o0 = outs[0], *o1 = outs[1];
  const TColor32* pf0 = ahead[0] ? ahead[0] : r0;
  const TColor32* pf1 = ahead[1] ? ahead[1] : r1;
  const int16_t* w = weights;
  int i = 0;
  for (; i + 4 <= count; i += 4, w += 2 * stride) {
    const int32_t s0 = start[i], s1 = start[i + 1], s2 = start[i + 2], s3 = start[i + 3];
    Prefetch(pf0 + s0);
    Prefetch(pf1 + s0);
    const __m256i a0 = HorzPair<kTaps>(r0 + s0, r0 + s2, w, taps);
    const __m256i b0 = HorzPair<kTaps>(r0 + s1, r0 + s3, w + stride, taps);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(o0 + 4 * i), _mm256_packs_epi32(a0, b0));
    const __m256i a1 = HorzPair<kTaps>(r1 + s0, r1 + s2, w, taps);
    const __m256i b1 = HorzPair<kTaps>(r1 + s1, r1 + s3, w + stride, taps);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(o1 + 4 * i), _mm256_packs_epi32(a1, b1));
  }
  // The few pixels left over are done row by row.
  if (i < count) {
    const size_t done = static_cast<size_t>(i / 4) * 2 * stride;
    HorzPassT<kTaps>(r0, start + i, weights + done, taps, count - i, o0 + 4 * i, nullptr);
    HorzPassT<kTaps>(r1, start + i, weights + done, taps, count - i, o1 + 4 * i, nullptr);
  }
}

template <int kTaps>
void VertPassT(const int16_t* const* rows, const int16_t* weights, int taps, int count,
               TColor32* out, const TColor32* ahead) {
  const int n = kTaps ? kTaps : taps;
  // Weight pairs broadcast once per row; very long kernels (large reductions) broadcast
  // the ones beyond the table inside the loop.
  constexpr int kMaxPairs = 32;
  __m256i table[kMaxPairs];
  const int pairs = n / 2;
  const auto pairWeight = [weights](int p) {
    return _mm256_set1_epi32(static_cast<int32_t>(
        static_cast<uint16_t>(weights[2 * p]) | (static_cast<uint32_t>(weights[2 * p + 1]) << 16)));
  };
  for (int p = 0; p < pairs && p < kMaxPairs; ++p) table[p] = pairWeight(p);
  // A last single tap is paired with a constant 512 of weight 1024, which adds the
  // rounding term 2^19 in the same multiply-add.
  static_assert(kVertShift == 20, "512 * 1024 is the rounding term");
  const __m256i single = _mm256_set1_epi32(
      n % 2 ? static_cast<int32_t>(static_cast<uint16_t>(weights[n - 1]) | (1024u << 16)) : 0);
  const __m256i half = _mm256_set1_epi16(512);
  const __m256i round = _mm256_set1_epi32(1 << (kVertShift - 1));
  const TColor32* pf = ahead ? ahead : out;
  int x = 0;
  for (; x + 8 <= count; x += 8) {
    Prefetch(pf + x);
    __m256i lo0, hi0, lo1, hi1;
    if (n % 2) {
      const int16_t* ra = rows[n - 1] + 4 * x;
      const __m256i a0 = Load256(ra), a1 = Load256(ra + 16);
      lo0 = _mm256_madd_epi16(_mm256_unpacklo_epi16(a0, half), single);
      hi0 = _mm256_madd_epi16(_mm256_unpackhi_epi16(a0, half), single);
      lo1 = _mm256_madd_epi16(_mm256_unpacklo_epi16(a1, half), single);
      hi1 = _mm256_madd_epi16(_mm256_unpackhi_epi16(a1, half), single);
    } else {
      lo0 = hi0 = lo1 = hi1 = round;
    }
    for (int p = 0; p < pairs; ++p) {
      const __m256i wp = p < kMaxPairs ? table[p] : pairWeight(p);
      const int16_t* ra = rows[2 * p] + 4 * x;
      const int16_t* rb = rows[2 * p + 1] + 4 * x;
      const __m256i a0 = Load256(ra), b0 = Load256(rb);
      const __m256i a1 = Load256(ra + 16), b1 = Load256(rb + 16);
      lo0 = _mm256_add_epi32(lo0, _mm256_madd_epi16(_mm256_unpacklo_epi16(a0, b0), wp));
      hi0 = _mm256_add_epi32(hi0, _mm256_madd_epi16(_mm256_unpackhi_epi16(a0, b0), wp));
      lo1 = _mm256_add_epi32(lo1, _mm256_madd_epi16(_mm256_unpacklo_epi16(a1, b1), wp));
      hi1 = _mm256_add_epi32(hi1, _mm256_madd_epi16(_mm256_unpackhi_epi16(a1, b1), wp));
    }
    const __m256i v0 =
        _mm256_packs_epi32(_mm256_srai_epi32(lo0, kVertShift), _mm256_srai_epi32(hi0, kVertShift));
    const __m256i v1 =
        _mm256_packs_epi32(_mm256_srai_epi32(lo1, kVertShift), _mm256_srai_epi32(hi1, kVertShift));
    // Bytes per lane: v0's four pixels of that lane, then v1's; reorder to x … x+7.
    const __m256i bytes = _mm256_packus_epi16(v0, v1);
    const __m256i ordered = _mm256_permute4x64_epi64(bytes, 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), ordered);
  }
  for (; x < count; ++x) out[x] = VertPixel(rows, weights, taps, x);
}

} // namespace

void HorzPrepareAvx2(const int16_t* weights, int taps, int count, std::vector<int16_t>& prepared) {
  const int stride = PairStride(taps);
  const int pairs = count / 2;
  prepared.assign(static_cast<size_t>(pairs) * stride + static_cast<size_t>(taps), 0);
  const auto putPair = [&](int slot, int first, int second) {
    int16_t* dst = prepared.data() + static_cast<size_t>(slot) * stride;
    for (int lane = 0; lane < 2; ++lane) {
      const int16_t* w = weights + static_cast<size_t>(lane ? second : first) * taps;
      for (int k = 0, offset = 0; k < taps; k += 2, offset += 16) {
        // Taps k and k+1 fill one half of a vector: four channel copies per lane.
        int16_t* v = dst + offset + lane * 8;
        for (int c = 0; c < 4; ++c) v[2 * c] = w[k], v[2 * c + 1] = w[k + 1];
      }
    }
  };
  int i = 0, slot = 0;
  for (; i + 4 <= count; i += 4, slot += 2) {
    putPair(slot, i, i + 2);
    putPair(slot + 1, i + 1, i + 3);
  }
  if (i + 2 <= count) putPair(slot++, i, i + 1), i += 2;
  if (i < count)
    std::memcpy(prepared.data() + static_cast<size_t>(slot) * stride,
                weights + static_cast<size_t>(i) * taps,
                sizeof(int16_t) * static_cast<size_t>(taps));
}

void HorzPassAvx2(const TColor32* row, const int32_t* start, const int16_t* weights, int taps,
                  int count, int16_t* out, const TColor32* ahead) {
  switch (taps) {
  case 2:
    return HorzPassT<2>(row, start, weights, taps, count, out, ahead);
  case 4:
    return HorzPassT<4>(row, start, weights, taps, count, out, ahead);
  case 6:
    return HorzPassT<6>(row, start, weights, taps, count, out, ahead);
  case 8:
    return HorzPassT<8>(row, start, weights, taps, count, out, ahead);
  default:
    return HorzPassT<0>(row, start, weights, taps, count, out, ahead);
  }
}

void HorzPass2Avx2(const TColor32* const* rows, const int32_t* start, const int16_t* weights,
                   int taps, int count, int16_t* const* outs, const TColor32* const* ahead) {
  switch (taps) {
  case 2:
    return HorzPass2T<2>(rows, start, weights, taps, count, outs, ahead);
  case 4:
    return HorzPass2T<4>(rows, start, weights, taps, count, outs, ahead);
  case 6:
    return HorzPass2T<6>(rows, start, weights, taps, count, outs, ahead);
  case 8:
    return HorzPass2T<8>(rows, start, weights, taps, count, outs, ahead);
  default:
    return HorzPass2T<0>(rows, start, weights, taps, count, outs, ahead);
  }
}

void VertPassAvx2(const int16_t* const* rows, const int16_t* weights, int taps, int count,
                  TColor32* out, const TColor32* ahead) {
  switch (taps) {
  case 1:
    return VertPassT<1>(rows, weights, taps, count, out, ahead);
  case 2:
    return VertPassT<2>(rows, weights, taps, count, out, ahead);
  case 3:
    return VertPassT<3>(rows, weights, taps, count, out, ahead);
  case 5:
    return VertPassT<5>(rows, weights, taps, count, out, ahead);
  case 7:
    return VertPassT<7>(rows, weights, taps, count, out, ahead);
  case 4:
    return VertPassT<4>(rows, weights, taps, count, out, ahead);
  case 6:
    return VertPassT<6>(rows, weights, taps, count, out, ahead);
  case 8:
    return VertPassT<8>(rows, weights, taps, count, out, ahead);
  default:
    return VertPassT<0>(rows, weights, taps, count, out, ahead);
  }
}

} // namespace dtp::resample
