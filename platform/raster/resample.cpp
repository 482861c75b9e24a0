#include "platform/raster/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/core/numeric.h"
#include "platform/raster/blend.h"
#include "platform/raster/resample_kernels.h"

namespace dtp {

namespace resample {

void HorzPassReference(const TColor32* row, const int32_t* start, const int16_t* weights, int taps,
                       int count, int16_t* out, const TColor32* /*ahead*/) {
  for (int i = 0; i < count; ++i)
    HorzPixel(row, start[i], weights + static_cast<size_t>(i) * taps, taps, out + 4 * i);
}

void HorzPass2Reference(const TColor32* const* rows, const int32_t* start, const int16_t* weights,
                        int taps, int count, int16_t* const* outs, const TColor32* const* ahead) {
  for (int j = 0; j < 2; ++j)
    HorzPassReference(rows[j], start, weights, taps, count, outs[j], ahead[j]);
}

void HorzPrepareReference(const int16_t* weights, int taps, int count,
                          std::vector<int16_t>& prepared) {
  prepared.assign(weights, weights + static_cast<size_t>(taps) * count);
}

void VertPassReference(const int16_t* const* rows, const int16_t* weights, int taps, int count,
                       TColor32* out, const TColor32* /*ahead*/) {
  for (int x = 0; x < count; ++x) out[x] = VertPixel(rows, weights, taps, x);
}

} // namespace resample

namespace {

using resample::kWeightOne;
using resample::TContribs;

double Sinc(double x) {
  if (x == 0) return 1;
  const double px = kPi * x;
  return std::sin(px) / px;
}

struct TPasses {
  resample::THorzPrepare Prepare;
  resample::THorzPass Horz;
  resample::THorzPass2 Horz2;
  resample::TVertPass Vert;
};

TPasses ReferencePasses() {
  return {resample::HorzPrepareReference, resample::HorzPassReference, resample::HorzPass2Reference,
          resample::VertPassReference};
}

bool CpuHasAvx2() {
#if defined(KARTOLINO_HAVE_AVX2)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

TPasses OptimisedPasses() {
#if defined(KARTOLINO_HAVE_AVX2)
  if (CpuHasAvx2())
    return {resample::HorzPrepareAvx2, resample::HorzPassAvx2, resample::HorzPass2Avx2,
            resample::VertPassAvx2};
#endif
  return ReferencePasses();
}

// Filled once from the CPU check; tests may switch to the reference.
TPasses& ActivePasses() {
  static TPasses passes = OptimisedPasses();
  return passes;
}

// Weights of one output pixel whose centre maps to source position c, with the kernel
// widened by f (>= 1); taps outside the source are kept (the caller repeats the edges).
void PixelWeights(TStretchFilter filter, double c, double f, std::vector<double>& w,
                  int64_t& first) {
  w.clear();
  if (filter == sfDraft) {
    // Overlap of the output pixel's footprint [c - f/2, c + f/2] with each source pixel.
    const double lo = c - f / 2, hi = c + f / 2;
    first = static_cast<int64_t>(std::floor(lo + 0.5));
    const int64_t last = static_cast<int64_t>(std::ceil(hi - 0.5));
    for (int64_t j = first; j <= last; ++j) {
      const double a = std::max(lo, j - 0.5), b = std::min(hi, j + 0.5);
      w.push_back(std::max(0.0, b - a));
    }
    return;
  }
  const double support = StretchKernelRadius(filter) * f;
  first = static_cast<int64_t>(std::floor(c - support)) + 1;
  const int64_t last = static_cast<int64_t>(std::ceil(c + support)) - 1;
  for (int64_t j = first; j <= last; ++j) w.push_back(StretchKernel(filter, (j - c) / f));
}

// The table of one axis for the output pixels v0 … v1 - 1 of a dstLen-pixel span fed
// from srcLen source pixels; starts are relative to the source span's first pixel.
TContribs BuildContribs(int64_t srcLen, int64_t dstLen, int64_t v0, int64_t v1,
                        TStretchFilter filter, bool evenTaps) {
  TContribs t;
  t.Count = static_cast<int>(v1 - v0);
  const double scale = static_cast<double>(srcLen) / static_cast<double>(dstLen);
  const double f = std::max(1.0, scale);
  std::vector<double> w;
  std::vector<int16_t> q;
  std::vector<std::vector<int16_t>> perPixel(static_cast<size_t>(t.Count));
  t.Start.resize(static_cast<size_t>(t.Count));
  int maxTaps = 1;
  for (int64_t i = v0; i < v1; ++i) {
    int64_t first = i;
    if (srcLen == dstLen) {
      w.assign(1, 1.0);
    } else {
      const double c = (static_cast<double>(i) + 0.5) * scale - 0.5;
      PixelWeights(filter, c, f, w, first);
    }
    double sum = 0;
    for (double v : w) sum += v;
    q.assign(w.size(), 0);
    if (!(sum > 1e-12) || w.empty()) {
      // Degenerate kernel sums fall back to the nearest source pixel.
      const double c = (static_cast<double>(i) + 0.5) * scale - 0.5;
      first = static_cast<int64_t>(std::floor(c + 0.5));
      q.assign(1, static_cast<int16_t>(kWeightOne));
    } else {
      // Rounding the running sum keeps the total exact and spreads the rounding error,
      // so even thousands of tiny weights of a large shrink keep their share.
      double running = 0;
      int64_t before = 0;
      for (size_t k = 0; k < w.size(); ++k) {
        running += w[k] / sum;
        const int64_t now = k + 1 == w.size() ? kWeightOne : std::llround(running * kWeightOne);
        q[k] = static_cast<int16_t>(now - before);
        before = now;
      }
    }
    // Drop zero weights at both ends.
    size_t b = 0, e = q.size();
    while (e - b > 1 && q[b] == 0) ++b;
    while (e - b > 1 && q[e - 1] == 0) --e;
    const auto idx = static_cast<size_t>(i - v0);
    t.Start[idx] = static_cast<int32_t>(first + static_cast<int64_t>(b));
    perPixel[idx].assign(q.begin() + static_cast<ptrdiff_t>(b),
                         q.begin() + static_cast<ptrdiff_t>(e));
    maxTaps = std::max(maxTaps, static_cast<int>(e - b));
  }
  // The horizontal fast paths multiply taps in pairs.
  t.Taps = evenTaps ? (maxTaps + 1) & ~1 : maxTaps;
  t.Weights.assign(static_cast<size_t>(t.Count) * t.Taps, 0);
  for (size_t i = 0; i < perPixel.size(); ++i)
    std::copy(perPixel[i].begin(), perPixel[i].end(),
              t.Weights.begin() + static_cast<ptrdiff_t>(i * t.Taps));
  return t;
}

// Moves every window inside [0, srcLen) by adding the weights of taps beyond an edge to
// that edge pixel: the same sums as repeating the edge pixels, without padded copies of
// the source rows. Needs srcLen >= Taps.
void FoldToSource(TContribs& t, int64_t srcLen) {
  std::vector<int32_t> folded(static_cast<size_t>(t.Taps));
  for (int i = 0; i < t.Count; ++i) {
    const int64_t start = t.Start[static_cast<size_t>(i)];
    const int64_t moved = std::clamp<int64_t>(start, 0, srcLen - t.Taps);
    int16_t* w = t.Weights.data() + static_cast<size_t>(i) * t.Taps;
    std::fill(folded.begin(), folded.end(), 0);
    for (int k = 0; k < t.Taps; ++k) {
      const int64_t j = std::clamp<int64_t>(start + k, 0, srcLen - 1);
      folded[static_cast<size_t>(j - moved)] += w[k];
    }
    for (int k = 0; k < t.Taps; ++k) w[k] = static_cast<int16_t>(folded[static_cast<size_t>(k)]);
    t.Start[static_cast<size_t>(i)] = static_cast<int32_t>(moved);
  }
}

void WriteRow(TColor32* dst, const TColor32* row, size_t n, TDrawMode drawMode,
              TCombineMode combineMode, uint8_t masterAlpha) {
  if (drawMode == dmOpaque)
    std::memcpy(dst, row, n * sizeof(TColor32));
  else
    BlendLine(row, dst, n, masterAlpha, combineMode);
}

struct TSpan {
  int64_t Src0, SrcLen; // source span (absolute)
  int64_t Dst0, DstLen; // destination span (absolute, may reach outside the bitmap)
  int64_t Vis0, Vis1;   // visible destination pixels, relative to Dst0
};

// Clips one axis: the source span to [0, srcSize) (shrinking the destination in
// proportion) and the destination to [clip0, clip1). False when nothing is left.
bool ClipAxis(int64_t s0, int64_t s1, int64_t d0, int64_t d1, int64_t srcSize, int64_t clip0,
              int64_t clip1, TSpan& span) {
  if (s1 <= s0 || d1 <= d0) return false;
  if (s0 < 0 || s1 > srcSize) {
    const double k = static_cast<double>(d1 - d0) / static_cast<double>(s1 - s0);
    const int64_t c0 = std::max<int64_t>(s0, 0), c1 = std::min<int64_t>(s1, srcSize);
    if (c1 <= c0) return false;
    const int64_t nd0 = d0 + Round(static_cast<double>(c0 - s0) * k);
    const int64_t nd1 = d0 + Round(static_cast<double>(c1 - s0) * k);
    s0 = c0, s1 = c1, d0 = nd0, d1 = nd1;
    if (d1 <= d0) return false;
  }
  span.Src0 = s0;
  span.SrcLen = s1 - s0;
  span.Dst0 = d0;
  span.DstLen = d1 - d0;
  span.Vis0 = std::max(d0, clip0) - d0;
  span.Vis1 = std::min(d1, clip1) - d0;
  return span.Vis1 > span.Vis0;
}

void StretchNearest(TBitmap32& dst, const TBitmap32& src, const TSpan& sx, const TSpan& sy,
                    TDrawMode drawMode, TCombineMode combineMode, uint8_t masterAlpha) {
  const auto w = static_cast<size_t>(sx.Vis1 - sx.Vis0);
  std::vector<int32_t> xmap(w);
  for (size_t i = 0; i < w; ++i) {
    const int64_t d = sx.Vis0 + static_cast<int64_t>(i);
    xmap[i] = static_cast<int32_t>(sx.Src0 + ((2 * d + 1) * sx.SrcLen) / (2 * sx.DstLen));
  }
  std::vector<TColor32> row(w);
  for (int64_t d = sy.Vis0; d < sy.Vis1; ++d) {
    const int64_t sRow = sy.Src0 + ((2 * d + 1) * sy.SrcLen) / (2 * sy.DstLen);
    const TColor32* s = src.ScanLine(static_cast<int>(sRow));
    for (size_t i = 0; i < w; ++i) row[i] = s[xmap[i]];
    WriteRow(dst.ScanLine(static_cast<int>(sy.Dst0 + d)) + (sx.Dst0 + sx.Vis0), row.data(), w,
             drawMode, combineMode, masterAlpha);
  }
}

// Bound on the vertical ring of filtered rows; wider outputs are done in column strips.
constexpr size_t kRingBudgetBytes = size_t(32) << 20;
// How many source rows ahead the horizontal pass prefetches.
constexpr int64_t kRowsAhead = 3;

void StretchFiltered(TBitmap32& dst, const TBitmap32& src, const TSpan& sx, const TSpan& sy,
                     TStretchFilter filter, TDrawMode drawMode, TCombineMode combineMode,
                     uint8_t masterAlpha) {
  const TPasses passes = ActivePasses();
  TContribs h = BuildContribs(sx.SrcLen, sx.DstLen, sx.Vis0, sx.Vis1, filter, true);
  // Sources narrower than a window keep the padded-row path.
  const bool folded = sx.SrcLen >= h.Taps;
  if (folded) FoldToSource(h, sx.SrcLen);
  const TContribs v = BuildContribs(sy.SrcLen, sy.DstLen, sy.Vis0, sy.Vis1, filter, false);
  // One ring slot more than a window: the row after a window's last one can be filtered
  // together with it without evicting a row the window still reads (the window's rows
  // lie within Taps consecutive rows, so that slot belongs to a row before it).
  const int ringSlots = v.Taps + 1;
  const size_t perColumn = static_cast<size_t>(ringSlots) * 4 * sizeof(int16_t);
  const int stripWidth =
      static_cast<int>(std::clamp<size_t>(kRingBudgetBytes / perColumn, 16, size_t(h.Count)));

  std::vector<int32_t> starts;
  std::vector<int16_t> prepared;
  std::vector<TColor32> padded;
  std::vector<int16_t> ring;
  std::vector<int64_t> ringRow(static_cast<size_t>(ringSlots));
  std::vector<const int16_t*> rows(static_cast<size_t>(v.Taps));
  std::vector<TColor32> out;
  const int64_t srcRowLast = sy.SrcLen - 1;

  for (int x0 = 0; x0 < h.Count; x0 += stripWidth) {
    const int n = std::min(stripWidth, h.Count - x0);
    // Source columns this strip reads, and its starts rebased onto the padded row.
    int64_t lo = INT64_MAX, hi = INT64_MIN;
    for (int i = 0; i < n; ++i) {
      lo = std::min<int64_t>(lo, h.Start[static_cast<size_t>(x0 + i)]);
      hi = std::max<int64_t>(hi, int64_t(h.Start[static_cast<size_t>(x0 + i)]) + h.Taps);
    }
    if (folded) lo = 0;
    starts.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
      starts[static_cast<size_t>(i)] = static_cast<int32_t>(h.Start[size_t(x0 + i)] - lo);
    if (!folded) padded.resize(static_cast<size_t>(hi - lo));
    ring.resize(static_cast<size_t>(ringSlots) * static_cast<size_t>(n) * 4);
    std::fill(ringRow.begin(), ringRow.end(), -1);
    out.resize(static_cast<size_t>(n));
    passes.Prepare(h.Weights.data() + static_cast<size_t>(x0) * h.Taps, h.Taps, n, prepared);
    const int16_t* weightsH = prepared.data();

    const auto slotOf = [&](int64_t r) { return static_cast<size_t>(r % ringSlots); };
    const auto bufOf = [&](int64_t r) {
      return ring.data() + slotOf(r) * static_cast<size_t>(n) * 4;
    };
    const auto sourceRow = [&](int64_t r) {
      return src.ScanLine(static_cast<int>(sy.Src0 + r)) + sx.Src0;
    };
    // The rows are filtered in order; fetching one a little further down while this one
    // is filtered hides most of the memory latency of a large source.
    const auto aheadOf = [&](int64_t r) { return sourceRow(std::min(r + kRowsAhead, srcRowLast)); };

    for (int yi = 0; yi < v.Count; ++yi) {
      for (int k = 0; k < v.Taps; ++k) {
        const int64_t r = std::clamp<int64_t>(int64_t(v.Start[size_t(yi)]) + k, 0, srcRowLast);
        if (ringRow[slotOf(r)] != r) {
          if (!folded) {
            const TColor32* s = sourceRow(r);
            const int64_t last = sx.SrcLen - 1;
            for (int64_t j = 0; j < hi - lo; ++j)
              padded[static_cast<size_t>(j)] = s[std::clamp<int64_t>(lo + j, 0, last)];
            passes.Horz(padded.data(), starts.data(), weightsH, h.Taps, n, bufOf(r), nullptr);
          } else if (r < srcRowLast && ringRow[slotOf(r + 1)] != r + 1) {
            // The next row is read by this window or the next ones: both in one pass.
            const TColor32* pair[2] = {sourceRow(r), sourceRow(r + 1)};
            int16_t* outs[2] = {bufOf(r), bufOf(r + 1)};
            const TColor32* ahead[2] = {aheadOf(r), aheadOf(r + 1)};
            passes.Horz2(pair, starts.data(), weightsH, h.Taps, n, outs, ahead);
            ringRow[slotOf(r + 1)] = r + 1;
          } else {
            passes.Horz(sourceRow(r), starts.data(), weightsH, h.Taps, n, bufOf(r), aheadOf(r));
          }
          ringRow[slotOf(r)] = r;
        }
        rows[static_cast<size_t>(k)] = bufOf(r);
      }
      TColor32* d = dst.ScanLine(static_cast<int>(sy.Dst0 + sy.Vis0 + yi)) + sx.Dst0 + sx.Vis0 + x0;
      const int16_t* weightsV = v.Weights.data() + static_cast<size_t>(yi) * v.Taps;
      const TColor32* next =
          yi + 2 < v.Count ? d + 2 * static_cast<ptrdiff_t>(dst.Width()) : nullptr;
      if (drawMode == dmOpaque) {
        passes.Vert(rows.data(), weightsV, v.Taps, n, d, next); // straight into the destination
      } else {
        passes.Vert(rows.data(), weightsV, v.Taps, n, out.data(), next);
        BlendLine(out.data(), d, static_cast<size_t>(n), masterAlpha, combineMode);
      }
    }
  }
}

} // namespace

double StretchKernelRadius(TStretchFilter filter) {
  switch (filter) {
  case sfNearest:
  case sfDraft:
    return 0.5;
  case sfLinear:
  case sfCosine:
    return 1;
  case sfSpline:
  case sfMitchell:
    return 2;
  case sfLanczos:
    return 3;
  }
  return 1;
}

double StretchKernel(TStretchFilter filter, double x) {
  x = std::fabs(x);
  switch (filter) {
  case sfNearest:
  case sfDraft:
    return x < 0.5 ? 1 : (x == 0.5 ? 0.5 : 0);
  case sfLinear:
    return x < 1 ? 1 - x : 0;
  case sfCosine:
    return x < 1 ? (std::cos(kPi * x) + 1) / 2 : 0;
  case sfSpline:
    if (x < 1) return 2.0 / 3 - x * x + x * x * x / 2;
    if (x < 2) return (2 - x) * (2 - x) * (2 - x) / 6;
    return 0;
  case sfLanczos:
    return x < 3 ? Sinc(x) * Sinc(x / 3) : 0;
  case sfMitchell: {
    constexpr double B = 1.0 / 3, C = 1.0 / 3;
    if (x < 1)
      return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6;
    if (x < 2)
      return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x +
              (8 * B + 24 * C)) /
             6;
    return 0;
  }
  }
  return 0;
}

void SetResampleKernels(TResampleKernels kernels) {
  ActivePasses() = kernels == rkReference ? ReferencePasses() : OptimisedPasses();
}

bool OptimisedResampleAvailable() {
  return CpuHasAvx2();
}

void StretchTransfer(TBitmap32& dst, const TRect& dstRect, const TRect& dstClip,
                     const TBitmap32& src, const TRect& srcRect, TStretchFilter filter,
                     TDrawMode drawMode, TCombineMode combineMode, uint8_t masterAlpha) {
  if (dst.Empty() || src.Empty()) return;
  if (drawMode == dmBlend && masterAlpha == 0) return;
  if (&dst == &src) {
    // Reading and writing one bitmap: resample from a copy.
    const TBitmap32 copy(src);
    StretchTransfer(dst, dstRect, dstClip, copy, srcRect, filter, drawMode, combineMode,
                    masterAlpha);
    return;
  }
  const int64_t cx0 = std::max<int64_t>(dstClip.Left, 0);
  const int64_t cy0 = std::max<int64_t>(dstClip.Top, 0);
  const int64_t cx1 = std::min<int64_t>(dstClip.Right, dst.Width());
  const int64_t cy1 = std::min<int64_t>(dstClip.Bottom, dst.Height());
  TSpan sx, sy;
  if (!ClipAxis(srcRect.Left, srcRect.Right, dstRect.Left, dstRect.Right, src.Width(), cx0, cx1,
                sx) ||
      !ClipAxis(srcRect.Top, srcRect.Bottom, dstRect.Top, dstRect.Bottom, src.Height(), cy0, cy1,
                sy))
    return;
  if (filter == sfNearest || (sx.SrcLen == sx.DstLen && sy.SrcLen == sy.DstLen)) {
    // Equal sizes map every output pixel onto exactly one source pixel.
    StretchNearest(dst, src, sx, sy, drawMode, combineMode, masterAlpha);
    return;
  }
  StretchFiltered(dst, src, sx, sy, filter, drawMode, combineMode, masterAlpha);
}

} // namespace dtp
