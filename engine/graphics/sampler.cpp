#include "engine/graphics/sampler.h"

#include <algorithm>
#include <cmath>
#include <typeinfo>

#include "engine/graphics/sampler_kernels.h"
#include "platform/core/errors.h"
#include "platform/core/numeric.h"
#include "platform/raster/blend.h"

namespace dtp {

using sampler::kPositionLimit;
using sampler::TKernelTable;
using sampler::TSampleSource;

namespace {

TSamplerKernels& ActiveKernels() {
  static TSamplerKernels kernels = skOptimised;
  return kernels;
}

const TKernelTable& Table(TSamplerKernels k) {
  if (k == skOptimised)
    if (const TKernelTable* avx2 = sampler::Avx2Kernels()) return *avx2;
  return sampler::PortableKernels();
}

TSampleSource SourceOf(const TBitmap32& b) {
  return {b.Bits(), b.Width(), b.Height(), b.OuterColor};
}

// nint(v) kept within ±2 · kPositionLimit; NaN counts as far outside. Positions that far
// out lie outside every source, so the clamp changes no pixel.
int32_t SaturatedNint(double v) {
  constexpr double kMax = 2.0 * kPositionLimit;
  if (!(v == v)) return static_cast<int32_t>(kMax);
  return static_cast<int32_t>(Round(std::clamp(v, -kMax, kMax)));
}

int32_t Clamped(int32_t v) {
  return std::clamp(v, -kPositionLimit, kPositionLimit);
}

TFloatPoint Apply(const TdtpTransform& t, double x, double y) {
  TFloatPoint p;
  t.Transform({static_cast<float>(x), static_cast<float>(y)}, p);
  return p;
}

// [first, last) of the indices i with lo < base + steps[i] < hi, for monotone steps.
void InsideSpan(const int32_t* steps, int32_t count, int32_t base, int32_t lo, int32_t hi,
                int32_t& first, int32_t& last) {
  const int32_t* end = steps + count;
  const int32_t l = lo - base, h = hi - base;
  if (steps[count - 1] >= steps[0]) {
    first = static_cast<int32_t>(std::upper_bound(steps, end, l) - steps);
    last = static_cast<int32_t>(std::lower_bound(steps, end, h) - steps);
  } else {
    first = static_cast<int32_t>(
        std::partition_point(steps, end, [h](int32_t s) { return s >= h; }) - steps);
    last = static_cast<int32_t>(std::partition_point(steps, end, [l](int32_t s) { return s > l; }) -
                                steps);
  }
  if (last < first) last = first;
}

bool IsSingular(const TdtpTransform& t) {
  const auto* a = dynamic_cast<const TdtpAffineTransform*>(&t);
  if (!a) return false;
  const TAffineMatrix& m = a->Matrix();
  const double det = m.m00 * m.m11 - m.m01 * m.m10;
  return det == 0 || !std::isfinite(det);
}

} // namespace

void SpreadSteps(int32_t total, int32_t n, int32_t* steps) {
  steps[0] = 0;
  if (n <= 0) return;
  // Floored quotient and remainder (0 <= r < n), so that negative totals round toward −∞.
  int32_t q = total / n, r = total % n;
  if (r < 0) {
    q -= 1;
    r += n;
  }
  int32_t value = 0, acc = 0;
  for (int32_t k = 1; k <= n; ++k) {
    value += q;
    acc += r;
    if (acc >= n) {
      acc -= n;
      value += 1;
    }
    steps[k] = value;
  }
}

const uint8_t* SamplerGammaTable() {
  return sampler::GammaTable();
}

TColor32 InterpolatedRead(const TBitmap32& source, int32_t x, int32_t y) {
  return sampler::ReadAt(SourceOf(source), x, y);
}

void SetSamplerKernels(TSamplerKernels kernels) {
  ActiveKernels() = kernels;
}

TSamplerKernels SamplerKernels() {
  return ActiveKernels();
}

bool OptimisedSamplerAvailable() {
  return sampler::Avx2Kernels() != nullptr;
}

// --- TdtpSampler -----------------------------------------------------------------------

TdtpSampler::~TdtpSampler() = default;

void TdtpSampler::SetTransform(TdtpTransform* transform) {
  m_Transform = transform;
  m_Inverse.reset();
  if (!transform) return;
  std::unique_ptr<TdtpTransform> inverse = NewTransformLike(*transform);
  inverse->Assign(*transform);
  inverse->Invert();
  m_Inverse = std::move(inverse);
}

std::unique_ptr<TdtpTransform> TdtpSampler::NewTransformLike(const TdtpTransform& t) const {
  if (typeid(t) == typeid(TdtpAffineTransform)) return std::make_unique<TdtpAffineTransform>();
  throw EDtpError("The sampler cannot copy this kind of transform");
}

// --- TdtpMapSampler --------------------------------------------------------------------

// Where the samples of one run lie. Stepped: sub-sample k of pixel i is at
// (StartX[k] + StepX[i], StartY[k] + StepY[i]); otherwise at (PosX[k·count + i], PosY[…]).
struct TdtpMapSampler::TRunPlan {
  bool Stepped = false;
  int SubSamples = 1;
};

TdtpMapSampler::TdtpMapSampler() {
  SetOversampling(2);
}

void TdtpMapSampler::SetOversampling(int n) {
  const int64_t s = int64_t(n) * n;
  if (s == m_SubSamples) return;
  if (n < 1 || n > 6) throw EDtpError("Illegal oversampling value");
  m_SubSamples = static_cast<int>(s);
  if (n == 1) return;
  m_SubSampleOffsets.clear();
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      m_SubSampleOffsets.push_back(
          {static_cast<float>((i + 0.5) / n - 0.5), static_cast<float>((j + 0.5) / n - 0.5)});
}

void TdtpMapSampler::PlanRun(int32_t x, int32_t y, int32_t count, TRunPlan& plan) {
  const TdtpTransform& inv = *m_Inverse;
  const int s = m_SubSamples;
  static constexpr TFloatPoint kCentre{};
  const TFloatPoint* offsets = s == 1 ? &kCentre : m_SubSampleOffsets.data();
  plan.SubSamples = s;
  m_StartX.resize(std::max<size_t>(m_StartX.size(), static_cast<size_t>(s)));
  m_StartY.resize(m_StartX.size());

  const double cx = x + 0.5, cy = y + 0.5;
  plan.Stepped = false;
  if (inv.IsAffine()) {
    // Steps along the run come from the pixel centres, once for every sub-sample.
    const size_t need = static_cast<size_t>(count);
    if (m_StepX.size() < need) m_StepX.resize(need);
    if (m_StepY.size() < need) m_StepY.resize(need);
    int32_t totalX = 0, totalY = 0;
    if (count > 1) {
      const TFloatPoint p0 = Apply(inv, cx, cy);
      const TFloatPoint p1 = Apply(inv, cx + count - 1, cy);
      totalX = SaturatedNint((double(p1.X) - double(p0.X)) * 256.0);
      totalY = SaturatedNint((double(p1.Y) - double(p0.Y)) * 256.0);
      SpreadSteps(totalX, count - 1, m_StepX.data());
      SpreadSteps(totalY, count - 1, m_StepY.data());
    } else {
      m_StepX[0] = m_StepY[0] = 0;
    }
    plan.Stepped = true;
    for (int k = 0; k < s; ++k) {
      const TFloatPoint p = Apply(inv, cx + offsets[k].X, cy + offsets[k].Y);
      const int64_t sx = SaturatedNint(double(p.X) * 256.0);
      const int64_t sy = SaturatedNint(double(p.Y) * 256.0);
      m_StartX[k] = static_cast<int32_t>(sx);
      m_StartY[k] = static_cast<int32_t>(sy);
      // A run that reaches beyond the 32-bit position range (only under absurd scales)
      // is sampled pixel by pixel instead, so that no sum can overflow.
      if (std::abs(sx) > kPositionLimit || std::abs(sy) > kPositionLimit ||
          std::abs(sx + totalX) > kPositionLimit || std::abs(sy + totalY) > kPositionLimit)
        plan.Stepped = false;
    }
  }
  if (!plan.Stepped) {
    const size_t need = static_cast<size_t>(count) * static_cast<size_t>(s);
    if (m_PosX.size() < need) m_PosX.resize(need);
    if (m_PosY.size() < need) m_PosY.resize(need);
    for (int k = 0; k < s; ++k)
      for (int32_t i = 0; i < count; ++i) {
        const TFloatPoint p = Apply(inv, cx + offsets[k].X + i, cy + offsets[k].Y);
        m_PosX[size_t(k) * count + i] = Clamped(SaturatedNint(double(p.X) * 256.0));
        m_PosY[size_t(k) * count + i] = Clamped(SaturatedNint(double(p.Y) * 256.0));
      }
  }
}

void TdtpMapSampler::SampleReference(const TBitmap32& source, const TRunPlan& plan, int32_t count) {
  const int s = plan.SubSamples;
  auto read = [&](int k, int32_t i) {
    if (plan.Stepped)
      return InterpolatedRead(source, m_StartX[k] + m_StepX[i], m_StartY[k] + m_StepY[i]);
    return InterpolatedRead(source, m_PosX[size_t(k) * count + i], m_PosY[size_t(k) * count + i]);
  };
  if (s == 1) {
    for (int32_t i = 0; i < count; ++i) m_RunBuffer[i] = read(0, i);
    return;
  }
  const size_t need = static_cast<size_t>(count) * static_cast<size_t>(s);
  if (m_SubSampleBuffer.size() < need) m_SubSampleBuffer.resize(need);
  for (int k = 0; k < s; ++k)
    for (int32_t i = 0; i < count; ++i) m_SubSampleBuffer[size_t(i) * s + k] = read(k, i);
  for (int32_t i = 0; i < count; ++i) {
    const TColor32* group = &m_SubSampleBuffer[size_t(i) * s];
    TColor32 pixel = 0;
    for (int shift = 0; shift <= 24; shift += 8) {
      uint32_t sum = 0;
      for (int k = 0; k < s; ++k) sum += (group[k] >> shift) & 0xFF;
      pixel |= (sum / static_cast<uint32_t>(s)) << shift;
    }
    m_RunBuffer[i] = pixel;
  }
}

void TdtpMapSampler::SampleOptimised(const TBitmap32& source, const TRunPlan& plan, int32_t count,
                                     int32_t& first, int32_t& last) {
  const TKernelTable& kernels = Table(ActiveKernels());
  const TSampleSource src = SourceOf(source);
  const int s = plan.SubSamples;
  TColor32* run = m_RunBuffer.data();

  if (!plan.Stepped) {
    first = 0;
    last = count;
    if (s == 1) {
      kernels.ReadRun(src, 0, 0, m_PosX.data(), m_PosY.data(), count, run);
      return;
    }
    if (m_Sums.size() < size_t(count) * 4) m_Sums.resize(size_t(count) * 4);
    std::fill_n(m_Sums.data(), size_t(count) * 4, uint16_t(0));
    for (int k = 0; k < s; ++k)
      kernels.AccumulateRun(src, 0, 0, m_PosX.data() + size_t(k) * count,
                            m_PosY.data() + size_t(k) * count, count, m_Sums.data());
    kernels.AverageRun(m_Sums.data(), count, s, run);
    return;
  }

  // Pixels none of whose sub-samples falls inside the source are exactly the outer colour
  // (the average of s equal values is that value); only the hull of the others is read.
  const int32_t limX = (source.Width() - 1) * 256, limY = (source.Height() - 1) * 256;
  first = count;
  last = 0;
  for (int k = 0; k < s; ++k) {
    int32_t fx, lx, fy, ly;
    InsideSpan(m_StepX.data(), count, m_StartX[k], 0, limX, fx, lx);
    InsideSpan(m_StepY.data(), count, m_StartY[k], 0, limY, fy, ly);
    const int32_t f = std::max(fx, fy), l = std::min(lx, ly);
    if (f < l) {
      first = std::min(first, f);
      last = std::max(last, l);
    }
  }
  if (first >= last) {
    first = last = 0;
    return;
  }
  const int32_t n = last - first;
  const int32_t* dx = m_StepX.data() + first;
  const int32_t* dy = m_StepY.data() + first;
  if (s == 1) {
    kernels.ReadRun(src, m_StartX[0], m_StartY[0], dx, dy, n, run + first);
    return;
  }
  if (m_Sums.size() < size_t(n) * 4) m_Sums.resize(size_t(n) * 4);
  std::fill_n(m_Sums.data(), size_t(n) * 4, uint16_t(0));
  for (int k = 0; k < s; ++k)
    kernels.AccumulateRun(src, m_StartX[k], m_StartY[k], dx, dy, n, m_Sums.data());
  kernels.AverageRun(m_Sums.data(), n, s, run + first);
}

void TdtpMapSampler::Sample(const TBitmap32& source, int32_t x, int32_t y, int32_t count,
                            int32_t& first, int32_t& last) {
  TRunPlan plan;
  PlanRun(x, y, count, plan);
  if (ActiveKernels() == skReference) {
    SampleReference(source, plan, count);
    first = 0;
    last = count;
  } else {
    SampleOptimised(source, plan, count, first, last);
  }
}

const TColor32* TdtpMapSampler::SampleRun(int32_t x, int32_t y, int32_t count) {
  if (count <= 0) return m_RunBuffer.data();
  if (m_RunBuffer.size() < size_t(count)) m_RunBuffer.resize(size_t(count));
  if (!m_SourceMap || !m_Inverse || IsSingular(*m_Inverse)) {
    std::fill_n(m_RunBuffer.data(), count, TColor32(0));
    return m_RunBuffer.data();
  }
  int32_t first, last;
  Sample(*m_SourceMap, x, y, count, first, last);
  std::fill(m_RunBuffer.begin(), m_RunBuffer.begin() + first, m_SourceMap->OuterColor);
  std::fill(m_RunBuffer.begin() + last, m_RunBuffer.begin() + count, m_SourceMap->OuterColor);
  return m_RunBuffer.data();
}

void TdtpMapSampler::Draw(const TFloatRect& r) {
  if (!m_TargetMap || !m_SourceMap || !m_Transform || !m_Inverse) return;
  TBitmap32& target = *m_TargetMap;
  if (target.Empty()) return;
  // A transform that collapses the picture has no inverse to sample through.
  if (IsSingular(*m_Transform)) return;

  TFloatPoint corners[4] = {
      {r.Left, r.Top}, {r.Left, r.Bottom}, {r.Right, r.Bottom}, {r.Right, r.Top}};
  m_Transform->TransformPoints(corners, 4);
  double minX = corners[0].X, maxX = minX, minY = corners[0].Y, maxY = minY;
  for (const TFloatPoint& c : corners) {
    if (!std::isfinite(c.X) || !std::isfinite(c.Y)) return;
    minX = std::min(minX, double(c.X));
    maxX = std::max(maxX, double(c.X));
    minY = std::min(minY, double(c.Y));
    maxY = std::max(maxY, double(c.Y));
  }
  const double left = std::max(std::floor(minX), 0.0);
  const double right = std::min(std::ceil(maxX), target.Width() - 1.0);
  const double top = std::max(std::floor(minY), 0.0);
  const double bottom = std::min(std::ceil(maxY), target.Height() - 1.0);
  if (right < left || bottom < top) return;

  const uint8_t master = m_SourceMap->MasterAlpha;
  if (master == 0) return;

  // Reading the bitmap being written would sample rows already blended.
  TBitmap32 copy;
  const TBitmap32* source = m_SourceMap;
  if (source == &target) {
    copy = target;
    source = &copy;
  }

  const int32_t x0 = static_cast<int32_t>(left), y0 = static_cast<int32_t>(top);
  const int32_t count = static_cast<int32_t>(right) - x0 + 1;
  if (m_RunBuffer.size() < size_t(count)) m_RunBuffer.resize(size_t(count));
  const TColor32 outer = source->OuterColor;
  const bool reference = ActiveKernels() == skReference;
  const TKernelTable& kernels = Table(ActiveKernels());
  // Outer-colour pixels that the blend leaves unchanged need not be blended at all.
  const bool outerVisible = (outer >> 24) * master / 255 != 0;

  for (int32_t y = y0; y <= static_cast<int32_t>(bottom); ++y) {
    int32_t first, last;
    Sample(*source, x0, y, count, first, last);
    TColor32* row = target.ScanLine(y) + x0;
    if (reference) {
      BlendLine(m_RunBuffer.data(), row, size_t(count), master, cmBlend);
      continue;
    }
    if (outerVisible) {
      std::fill(m_RunBuffer.begin(), m_RunBuffer.begin() + first, outer);
      std::fill(m_RunBuffer.begin() + last, m_RunBuffer.begin() + count, outer);
      first = 0;
      last = count;
    }
    if (first < last)
      kernels.BlendRun(m_RunBuffer.data() + first, row + first, last - first, master);
  }
}

} // namespace dtp
