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

inline __m256i Load256(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Prepared layout, per pair of output pixels (lane 0: the first, lane 1: the second):
// for every 4 taps two vectors (taps 0/1 and 2/3, each pair repeated for the four
// channels), for 2 remaining taps one vector; then, for an odd count, the last pixel's
// plain weights.
inline int PairStride(int taps) {
  return (taps / 4) * 32 + (taps % 4 ? 16 : 0);
}

// Sums of two output pixels (one per lane): four int32 channel sums each.
template <int kTaps>
inline __m256i HorzPair(const TColor32* r0, const TColor32* r1, const int16_t* w, int taps) {
  const int n = kTaps ? kTaps : taps;
  const __m256i zero = _mm256_setzero_si256();
  __m256i acc = _mm256_set1_epi32(1 << (kHorzShift - 1));
  int k = 0;
  for (; k + 4 <= n; k += 4, w += 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + k));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + k));
    const __m256i v = PairChannels(_mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1));
    acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_unpacklo_epi8(v, zero), Load256(w)));
    acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_unpackhi_epi8(v, zero), Load256(w + 16)));
  }
  if (k < n) { // two taps left (taps is even)
    const __m256i v = PairChannels(
        _mm256_inserti128_si256(_mm256_castsi128_si256(Load64(r0 + k)), Load64(r1 + k), 1));
    acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_unpacklo_epi8(v, zero), Load256(w)));
  }
  return _mm256_srai_epi32(acc, kHorzShift);
}

template <int kTaps>
void HorzPassT(const TColor32* row, const int32_t* start, const int16_t* weights, int taps,
               int count, int16_t* out) {
  const int stride = PairStride(taps);
  int i = 0;
  for (; i + 4 <= count; i += 4) {
    const int16_t* w = weights + static_cast<size_t>(i / 2) * stride;
    const __m256i a = HorzPair<kTaps>(row + start[i], row + start[i + 1], w, taps);
    const __m256i b = HorzPair<kTaps>(row + start[i + 2], row + start[i + 3], w + stride, taps);
    // Lanes hold (i, i+2) and (i+1, i+3) after packing; put them back in order.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), packed);
  }
  if (i + 2 <= count) {
    const int16_t* w = weights + static_cast<size_t>(i / 2) * stride;
    const __m256i a = HorzPair<kTaps>(row + start[i], row + start[i + 1], w, taps);
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, a), 0xD8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm256_castsi256_si128(packed));
    i += 2;
  }
  if (i < count) {
    const int16_t* plain = weights + static_cast<size_t>(count / 2) * stride;
    HorzPixel(row, start[i], plain, taps, out + 4 * i);
  }
}

template <int kTaps>
void VertPassT(const int16_t* const* rows, const int16_t* weights, int taps, int count,
               TColor32* out) {
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
  const __m256i single = _mm256_set1_epi32(n % 2 ? static_cast<uint16_t>(weights[n - 1]) : 0);
  const __m256i round = _mm256_set1_epi32(1 << (kVertShift - 1));
  int x = 0;
  for (; x + 8 <= count; x += 8) {
    __m256i lo0 = round, hi0 = round, lo1 = round, hi1 = round;
    if (n % 2) { // a last single tap: its row against zeros
      const int16_t* ra = rows[n - 1] + 4 * x;
      const __m256i a0 = Load256(ra), a1 = Load256(ra + 16), z = _mm256_setzero_si256();
      lo0 = _mm256_add_epi32(lo0, _mm256_madd_epi16(_mm256_unpacklo_epi16(a0, z), single));
      hi0 = _mm256_add_epi32(hi0, _mm256_madd_epi16(_mm256_unpackhi_epi16(a0, z), single));
      lo1 = _mm256_add_epi32(lo1, _mm256_madd_epi16(_mm256_unpacklo_epi16(a1, z), single));
      hi1 = _mm256_add_epi32(hi1, _mm256_madd_epi16(_mm256_unpackhi_epi16(a1, z), single));
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
  prepared.assign(static_cast<size_t>(count / 2) * stride + static_cast<size_t>(taps), 0);
  for (int pair = 0; pair < count / 2; ++pair) {
    int16_t* dst = prepared.data() + static_cast<size_t>(pair) * stride;
    for (int lane = 0; lane < 2; ++lane) {
      const int16_t* w = weights + static_cast<size_t>(2 * pair + lane) * taps;
      int k = 0, offset = 0;
      for (; k < taps; k += 2) {
        // Taps k and k+1 fill one half of a vector: four channel copies per lane.
        int16_t* v = dst + offset + lane * 8;
        for (int c = 0; c < 4; ++c) v[2 * c] = w[k], v[2 * c + 1] = w[k + 1];
        offset += 16;
      }
    }
  }
  if (count % 2) {
    const int16_t* last = weights + static_cast<size_t>(count - 1) * taps;
    std::memcpy(prepared.data() + static_cast<size_t>(count / 2) * stride, last,
                sizeof(int16_t) * static_cast<size_t>(taps));
  }
}

void HorzPassAvx2(const TColor32* row, const int32_t* start, const int16_t* weights, int taps,
                  int count, int16_t* out) {
  switch (taps) {
  case 2:
    return HorzPassT<2>(row, start, weights, taps, count, out);
  case 4:
    return HorzPassT<4>(row, start, weights, taps, count, out);
  case 6:
    return HorzPassT<6>(row, start, weights, taps, count, out);
  case 8:
    return HorzPassT<8>(row, start, weights, taps, count, out);
  default:
    return HorzPassT<0>(row, start, weights, taps, count, out);
  }
}

void VertPassAvx2(const int16_t* const* rows, const int16_t* weights, int taps, int count,
                  TColor32* out) {
  switch (taps) {
  case 1:
    return VertPassT<1>(rows, weights, taps, count, out);
  case 2:
    return VertPassT<2>(rows, weights, taps, count, out);
  case 3:
    return VertPassT<3>(rows, weights, taps, count, out);
  case 5:
    return VertPassT<5>(rows, weights, taps, count, out);
  case 7:
    return VertPassT<7>(rows, weights, taps, count, out);
  case 4:
    return VertPassT<4>(rows, weights, taps, count, out);
  case 6:
    return VertPassT<6>(rows, weights, taps, count, out);
  case 8:
    return VertPassT<8>(rows, weights, taps, count, out);
  default:
    return VertPassT<0>(rows, weights, taps, count, out);
  }
}

} // namespace dtp::resample
