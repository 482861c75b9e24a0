#pragma once
// Internal to the raster layer: the contribution tables and the two filter passes that
// the reference and the instruction-set files implement identically.

#include <cstdint>
#include <vector>

#include "platform/core/color.h"

namespace dtp::resample {

// Weights are 14-bit fixed point; each output pixel's weights sum to exactly this.
constexpr int kWeightBits = 14;
constexpr int kWeightOne = 1 << kWeightBits;
// The horizontal pass keeps 6 fraction bits per channel in int16 (source value × 64).
constexpr int kHorzShift = 8;
constexpr int kVertShift = 2 * kWeightBits - kHorzShift;

// For Count output pixels: Taps source indices from Start[i] on, with Taps weights each
// (zero-padded to the same count for every pixel).
struct TContribs {
  int Count = 0;
  int Taps = 0;
  std::vector<int32_t> Start;
  std::vector<int16_t> Weights;
};

// Turns a table's plain weights (count × taps) into the layout a horizontal pass reads;
// done once per draw. The reference keeps the plain layout.
using THorzPrepare = void (*)(const int16_t* weights, int taps, int count,
                              std::vector<int16_t>& prepared);
void HorzPrepareReference(const int16_t* weights, int taps, int count,
                          std::vector<int16_t>& prepared);

// row: the source row (already extended by repeated edges so that every index is valid);
// start: count first indices; weights: count × taps (taps even), as prepared by the same
// implementation; out: count × 4 int16.
//   out[i][c] = sat16((sum_k w[i][k] * row[start[i] + k][c] + 128) >> 8)
// ahead (may be null): a row laid out like row that the caller filters soon; a pass may
// prefetch it at the same starts while it works. Every row[start[i]] is a valid address
// in it. Only a hint: the results never depend on it.
using THorzPass = void (*)(const TColor32* row, const int32_t* start, const int16_t* weights,
                           int taps, int count, int16_t* out, const TColor32* ahead);
// The same pass over two source rows with the same starts and weights (sharing the work
// that depends only on them): rows[j] is filtered into outs[j], ahead[j] is its hint.
using THorzPass2 = void (*)(const TColor32* const* rows, const int32_t* start,
                            const int16_t* weights, int taps, int count, int16_t* const* outs,
                            const TColor32* const* ahead);
// rows: taps pointers to int16 rows of count pixels, weights: taps values.
//   out[x][c] = clamp((sum_k w[k] * rows[k][x][c] + 2^19) >> 20, 0, 255)
// ahead (may be null): count pixels the caller writes next; a prefetch hint like above.
using TVertPass = void (*)(const int16_t* const* rows, const int16_t* weights, int taps, int count,
                           TColor32* out, const TColor32* ahead);

void HorzPassReference(const TColor32* row, const int32_t* start, const int16_t* weights, int taps,
                       int count, int16_t* out, const TColor32* ahead);
void HorzPass2Reference(const TColor32* const* rows, const int32_t* start, const int16_t* weights,
                        int taps, int count, int16_t* const* outs, const TColor32* const* ahead);
void VertPassReference(const int16_t* const* rows, const int16_t* weights, int taps, int count,
                       TColor32* out, const TColor32* ahead);

// One output value of each pass, shared by the reference and the tails of the fast paths.
inline void HorzPixel(const TColor32* row, int32_t start, const int16_t* w, int taps,
                      int16_t* out) {
  int32_t acc[4] = {0, 0, 0, 0};
  for (int k = 0; k < taps; ++k) {
    const TColor32 p = row[start + k];
    for (int c = 0; c < 4; ++c) acc[c] += w[k] * static_cast<int32_t>((p >> (8 * c)) & 0xFF);
  }
  for (int c = 0; c < 4; ++c) {
    const int32_t v = (acc[c] + (1 << (kHorzShift - 1))) >> kHorzShift;
    out[c] = static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
  }
}

inline TColor32 VertPixel(const int16_t* const* rows, const int16_t* w, int taps, int x) {
  TColor32 result = 0;
  for (int c = 0; c < 4; ++c) {
    int32_t acc = 0;
    for (int k = 0; k < taps; ++k) acc += w[k] * static_cast<int32_t>(rows[k][4 * x + c]);
    int32_t v = (acc + (1 << (kVertShift - 1))) >> kVertShift;
    v = v < 0 ? 0 : (v > 255 ? 255 : v);
    result |= static_cast<TColor32>(v) << (8 * c);
  }
  return result;
}

#if defined(KARTOLINO_HAVE_AVX2)
void HorzPrepareAvx2(const int16_t* weights, int taps, int count, std::vector<int16_t>& prepared);
void HorzPassAvx2(const TColor32* row, const int32_t* start, const int16_t* weights, int taps,
                  int count, int16_t* out, const TColor32* ahead);
void HorzPass2Avx2(const TColor32* const* rows, const int32_t* start, const int16_t* weights,
                   int taps, int count, int16_t* const* outs, const TColor32* const* ahead);
void VertPassAvx2(const int16_t* const* rows, const int16_t* weights, int taps, int count,
                  TColor32* out, const TColor32* ahead);
#endif

} // namespace dtp::resample
