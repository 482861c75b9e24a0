#include "engine/graphics/sampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "engine/graphics/sampler_kernels.h"
#include "platform/core/errors.h"
#include "platform/raster/blend.h"

namespace dtp {
namespace {

// Restores the program's kernels after a test switched them.
struct KernelsGuard {
  ~KernelsGuard() { SetSamplerKernels(skOptimised); }
};

TBitmap32 RandomBitmap(int w, int h, uint32_t seed, bool opaque = false) {
  TBitmap32 b(w, h);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      TColor32 c = rng();
      // Many runs of a real cache are fully opaque or fully clear; keep both common.
      const uint32_t pick = rng() % 4;
      if (opaque || pick == 0) c |= 0xFF000000u;
      if (!opaque && pick == 1) c &= 0x00FFFFFFu;
      b.SetPixel(x, y, c);
    }
  return b;
}

TBitmap32 Filled(int w, int h, TColor32 c) {
  TBitmap32 b(w, h);
  b.Clear(c);
  return b;
}

std::vector<TColor32> Samples(TdtpMapSampler& s, int x, int y, int count) {
  const TColor32* p = s.SampleRun(x, y, count);
  return {p, p + count};
}

// Reads per channel of the average of four reads, truncated.
TColor32 TruncatedAverage(const TColor32 (&c)[4]) {
  TColor32 r = 0;
  for (int shift = 0; shift <= 24; shift += 8) {
    uint32_t sum = 0;
    for (TColor32 v : c) sum += (v >> shift) & 0xFF;
    r |= (sum / 4) << shift;
  }
  return r;
}

TEST(SpreadSteps, EntriesAreTheFlooredFractionsOfTheTotal) {
  struct Case {
    int32_t total, n;
    std::vector<int32_t> expected;
  };
  const Case cases[] = {
      {10, 4, {0, 2, 5, 7, 10}}, {-10, 4, {0, -3, -5, -8, -10}},
      {0, 3, {0, 0, 0, 0}},      {7, 1, {0, 7}},
      {-1, 3, {0, -1, -1, -1}},  {3, 0, {0}},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> steps(c.expected.size());
    SpreadSteps(c.total, c.n, steps.data());
    EXPECT_EQ(steps, c.expected) << c.total << " over " << c.n;
  }
  // The incremental form must match floor(k · total / n) for every sign and size.
  for (int32_t total : {-1000003, -256, -255, -3, 1, 2, 255, 256, 65535, 1 << 28})
    for (int32_t n : {1, 2, 3, 7, 64, 255, 1000}) {
      std::vector<int32_t> steps(size_t(n) + 1);
      SpreadSteps(total, n, steps.data());
      for (int32_t k = 0; k <= n; ++k)
        ASSERT_EQ(steps[k], int32_t(std::floor(double(k) * total / n))) << total << "/" << n;
    }
}

TEST(InterpolatedRead, GammaWeightsAtTheHalfWayPoint) {
  EXPECT_EQ(SamplerGammaTable()[127], 157);
  EXPECT_EQ(SamplerGammaTable()[0], 0);
  EXPECT_EQ(SamplerGammaTable()[255], 255);

  // With an identity transform and s = 1, target pixel (0, 0) reads at (0.5, 0.5).
  struct Case {
    const char* what;
    TColor32 p00, p10, p01, p11;
    TColor32 expected;
  };
  const Case cases[] = {
      // Left column 255 in blue, right column 0: the left gets 157/255.
      {"along x", 0xFF0000FF, 0xFF000000, 0xFF0000FF, 0xFF000000, 0xFF00009D},
      {"along y", 0xFF00FF00, 0xFF00FF00, 0xFF000000, 0xFF000000, 0xFF009D00},
      // Both axes: 255 · 157/255 rounded = 157, then 157 · 157/255 rounded = 97.
      {"upper-left only", 0xFFFF0000, 0xFF000000, 0xFF000000, 0xFF000000, 0xFF610000},
      // Alpha mixes like the colours.
      {"alpha", 0xFF000000, 0x00000000, 0xFF000000, 0x00000000, 0x9D000000},
  };
  for (const Case& c : cases) {
    TBitmap32 src(2, 2);
    src.SetPixel(0, 0, c.p00);
    src.SetPixel(1, 0, c.p10);
    src.SetPixel(0, 1, c.p01);
    src.SetPixel(1, 1, c.p11);
    TdtpAffineTransform identity;
    TdtpMapSampler s;
    s.SetOversampling(1);
    s.SetSourceMap(&src);
    s.SetTransform(&identity);
    EXPECT_EQ(Samples(s, 0, 0, 1)[0], c.expected) << c.what;
  }
}

TEST(InterpolatedRead, OnlyStrictlyInsidePositionsMix) {
  TBitmap32 src = RandomBitmap(4, 3, 5, true);
  src.OuterColor = 0x12345678;
  struct Case {
    int32_t x, y;
    bool inside;
  };
  // Inner area: 0 < x < 768 and 0 < y < 512.
  const Case cases[] = {{0, 100, false},  {1, 100, true},     {767, 100, true},  {768, 100, false},
                        {100, 0, false},  {100, 511, true},   {100, 512, false}, {-5, -5, false},
                        {256, 256, true}, {1 << 28, 1, false}};
  for (const Case& c : cases) {
    const TColor32 v = InterpolatedRead(src, c.x, c.y);
    if (c.inside)
      EXPECT_NE(v, src.OuterColor) << c.x << "," << c.y;
    else
      EXPECT_EQ(v, src.OuterColor) << c.x << "," << c.y;
  }
  // At a whole-pixel position the upper-left pixel has all the weight.
  EXPECT_EQ(InterpolatedRead(src, 256, 256), src.Pixel(1, 1));
}

TEST(MapSampler, DefaultSupersamplingAveragesFourReadsTruncated) {
  const TBitmap32 src = RandomBitmap(9, 7, 3);
  TdtpAffineTransform identity;
  for (TSamplerKernels k : {skReference, skPortable, skOptimised}) {
    KernelsGuard guard;
    SetSamplerKernels(k);
    TdtpMapSampler s;
    s.SetSourceMap(&src);
    s.SetTransform(&identity);
    for (int y = 0; y < 7; ++y) {
      const std::vector<TColor32> run = Samples(s, 0, y, 9);
      for (int x = 0; x < 9; ++x) {
        const int32_t X = x * 256, Y = y * 256;
        const TColor32 reads[4] = {
            InterpolatedRead(src, X + 64, Y + 64), InterpolatedRead(src, X + 64, Y + 192),
            InterpolatedRead(src, X + 192, Y + 64), InterpolatedRead(src, X + 192, Y + 192)};
        ASSERT_EQ(run[x], TruncatedAverage(reads))
            << "kernels " << int(k) << " at " << x << "," << y;
      }
    }
  }
}

TEST(MapSampler, TooSmallSourcesGiveOnlyTheOuterColour) {
  struct Case {
    int w, h;
  };
  for (const Case c : {Case{1, 1}, Case{1, 5}, Case{5, 1}, Case{0, 0}})
    for (int n : {1, 2})
      for (TSamplerKernels k : {skReference, skOptimised}) {
        KernelsGuard guard;
        SetSamplerKernels(k);
        TBitmap32 src = Filled(c.w, c.h, 0xFFFFFFFF);
        src.OuterColor = 0x80112233;
        TdtpAffineTransform t;
        t.Scale(3, 3);
        TdtpMapSampler s;
        s.SetOversampling(n);
        s.SetSourceMap(&src);
        s.SetTransform(&t);
        for (TColor32 v : Samples(s, -2, 1, 12))
          ASSERT_EQ(v, src.OuterColor) << c.w << "x" << c.h << " n " << n;
      }
}

TEST(MapSampler, SetOversampling) {
  TdtpMapSampler s;
  const std::vector<TFloatPoint> grid2 = {
      {-0.25f, -0.25f}, {-0.25f, 0.25f}, {0.25f, -0.25f}, {0.25f, 0.25f}};
  EXPECT_EQ(s.SubSamples(), 4);
  EXPECT_EQ(s.SubSampleOffsets(), grid2);

  s.SetOversampling(2);
  EXPECT_EQ(s.SubSamples(), 4);
  EXPECT_EQ(s.SubSampleOffsets(), grid2);

  for (int bad : {7, 0, -7, 100}) {
    try {
      s.SetOversampling(bad);
      ADD_FAILURE() << bad << " accepted";
    } catch (const EDtpError& e) {
      EXPECT_STREQ(e.what(), "Illegal oversampling value");
    }
    EXPECT_EQ(s.SubSamples(), 4) << bad;
    EXPECT_EQ(s.SubSampleOffsets(), grid2) << bad;
  }

  s.SetOversampling(3);
  ASSERT_EQ(s.SubSamples(), 9);
  ASSERT_EQ(s.SubSampleOffsets().size(), 9u);
  EXPECT_FLOAT_EQ(s.SubSampleOffsets()[0].X, float(0.5 / 3 - 0.5));
  EXPECT_FLOAT_EQ(s.SubSampleOffsets()[1].X, float(0.5 / 3 - 0.5));
  EXPECT_FLOAT_EQ(s.SubSampleOffsets()[1].Y, 0.0f);
  EXPECT_FLOAT_EQ(s.SubSampleOffsets()[8].Y, float(2.5 / 3 - 0.5));

  s.SetOversampling(1);
  EXPECT_EQ(s.SubSamples(), 1);
  s.SetOversampling(6);
  EXPECT_EQ(s.SubSamples(), 36);
}

TEST(MapSampler, MasterAlphaScalesTheContribution) {
  struct Case {
    uint8_t master;
    TColor32 behind, expected;
  };
  const Case cases[] = {
      {128, 0xFF000000, 0xFF808080},
      {255, 0xFF000000, 0xFFFFFFFF},
      // Over a transparent target the alpha grows by the scaled alpha.
      {128, 0x00000000, 0x80808080},
      {0, 0xFF102030, 0xFF102030},
  };
  for (const Case& c : cases)
    for (TSamplerKernels k : {skReference, skOptimised}) {
      KernelsGuard guard;
      SetSamplerKernels(k);
      TBitmap32 src = Filled(6, 5, 0xFFFFFFFF);
      src.OuterColor = 0xFFFFFFFF;
      src.MasterAlpha = c.master;
      TBitmap32 target = Filled(8, 8, c.behind);
      TdtpAffineTransform identity;
      TdtpMapSampler s;
      s.SetTargetMap(&target);
      s.SetSourceMap(&src);
      s.SetTransform(&identity);
      s.Draw({0, 0, 6, 5});
      // The bounding box covers x 0 … 6 and y 0 … 5 inclusive.
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
          const TColor32 want = (x <= 6 && y <= 5) ? c.expected : c.behind;
          ASSERT_EQ(target.Pixel(x, y), want)
              << "master " << int(c.master) << " at " << x << "," << y;
        }
    }
}

TEST(MapSampler, DrawClipsToTheTargetAndSkipsWhatLiesOutside) {
  const TBitmap32 src = RandomBitmap(10, 10, 9, true);
  struct Case {
    const char* what;
    double dx, dy, sx;
    bool changes;
  };
  const Case cases[] = {
      {"wholly left", -40, 0, 1, false},           {"wholly below", 0, 30, 1, false},
      {"far away", 1e30, 1e30, 1, false},          {"straddles top-left", -5, -5, 1, true},
      {"straddles right", 15, 2, 1.7, true},       {"collapsed", 3, 3, 0, false},
      {"not a number", std::nan(""), 0, 1, false},
  };
  for (const Case& c : cases) {
    TBitmap32 target = RandomBitmap(20, 20, 4, true);
    const TBitmap32 before = target;
    TdtpAffineTransform t;
    t.Scale(c.sx, 1);
    t.Translate(c.dx, c.dy);
    TdtpMapSampler s;
    s.SetTargetMap(&target);
    s.SetSourceMap(&src);
    s.SetTransform(&t);
    s.Draw({0, 0, 10, 10});
    const bool changed = std::vector<TColor32>(target.Bits(), target.Bits() + 400) !=
                         std::vector<TColor32>(before.Bits(), before.Bits() + 400);
    EXPECT_EQ(changed, c.changes) << c.what;
  }
}

TEST(MapSampler, DrawingABitmapIntoItselfReadsTheOriginalPixels) {
  for (TSamplerKernels k : {skReference, skOptimised}) {
    KernelsGuard guard;
    SetSamplerKernels(k);
    TBitmap32 self = RandomBitmap(31, 23, 2);
    TBitmap32 copy = self, target = self;
    TdtpAffineTransform t;
    t.Translate(2.25, 1.5);
    TdtpMapSampler a, b;
    a.SetTargetMap(&self);
    a.SetSourceMap(&self);
    a.SetTransform(&t);
    a.Draw({0, 0, 31, 23});
    b.SetTargetMap(&target);
    b.SetSourceMap(&copy);
    b.SetTransform(&t);
    b.Draw({0, 0, 31, 23});
    for (int i = 0; i < 31 * 23; ++i) ASSERT_EQ(self.Bits()[i], target.Bits()[i]) << i;
  }
}

// A transform the sampler must treat as non-affine: each pixel is mapped on its own.
class TWavyTransform : public TdtpTransform {
public:
  void Invert() override { m_Inverted = !m_Inverted; }
  void Assign(const TdtpTransform& source) override {
    if (const auto* w = dynamic_cast<const TWavyTransform*>(&source)) m_Inverted = w->m_Inverted;
  }
  void Transform(TFloatPoint src, TFloatPoint& dst) const override {
    const double s = m_Inverted ? -1 : 1;
    dst = {static_cast<float>(src.X + s * 0.3 * std::sin(src.Y * 0.7)),
           static_cast<float>(src.Y + s * 0.2 * std::cos(src.X * 0.9))};
  }

private:
  bool m_Inverted = false;
};

class TWavySampler : public TdtpMapSampler {
protected:
  std::unique_ptr<TdtpTransform> NewTransformLike(const TdtpTransform& t) const override {
    if (dynamic_cast<const TWavyTransform*>(&t)) return std::make_unique<TWavyTransform>();
    return TdtpMapSampler::NewTransformLike(t);
  }
};

TEST(MapSampler, NonAffineTransformsMapEveryPixelOnItsOwn) {
  const TBitmap32 src = RandomBitmap(16, 12, 8);
  TWavyTransform wavy;
  TWavySampler s;
  s.SetOversampling(1);
  s.SetSourceMap(&src);
  s.SetTransform(&wavy);
  ASSERT_NE(s.Inverse(), nullptr);
  const int x = 2, y = 5, count = 11;
  const std::vector<TColor32> run = Samples(s, x, y, count);
  for (int i = 0; i < count; ++i) {
    TFloatPoint p;
    s.Inverse()->Transform({float(x + 0.5 + i), float(y + 0.5)}, p);
    EXPECT_EQ(run[i], InterpolatedRead(src, int32_t(std::nearbyint(p.X * 256.0)),
                                       int32_t(std::nearbyint(p.Y * 256.0))))
        << i;
  }

  // A kind of transform the sampler cannot copy is refused, not mis-drawn.
  TdtpMapSampler plain;
  EXPECT_THROW(plain.SetTransform(&wavy), EDtpError);
}

// The reference arithmetic, the portable kernels and the optimised kernels draw the same
// pixels for any transform, sub-sampling, outer colour and master alpha.
TEST(MapSampler, KernelPathsDrawIdenticalPixels) {
  struct Geometry {
    const char* what;
    void (*make)(TdtpAffineTransform&);
  };
  const Geometry geometries[] = {
      {"identity", [](TdtpAffineTransform&) {}},
      {"fractional shift", [](TdtpAffineTransform& t) { t.Translate(3.3, -2.7); }},
      {"rotate 30 scale 1.3",
       [](TdtpAffineTransform& t) {
         t.Rotate(30, 0, 0);
         t.Scale(1.3, 1.3);
         t.Translate(20, 2);
       }},
      {"reduce 0.37",
       [](TdtpAffineTransform& t) {
         t.Scale(0.37, 0.41);
         t.Translate(1, 1);
       }},
      // Sample positions 1/256 pixel inside the left and the bottom edge, then the top and
      // the right edge, with rising and with falling steps.
      {"grazing edges",
       [](TdtpAffineTransform& t) { t.Translate(0.5 - 1 / 256.0, 0.5 + 1 / 256.0); }},
      {"grazing edges mirrored",
       [](TdtpAffineTransform& t) {
         t.Scale(-1, -1);
         t.Translate(10.5 + 1 / 256.0, 32.5 - 1 / 256.0);
       }},
      {"mirrored",
       [](TdtpAffineTransform& t) {
         t.Scale(-1.1, -0.9);
         t.Translate(60, 45);
       }},
      {"quarter turn",
       [](TdtpAffineTransform& t) {
         t.Rotate(90, 0, 0);
         t.Translate(40, 3);
       }},
      {"shear",
       [](TdtpAffineTransform& t) {
         t.SetMatrix({1.2, 0.35, -0.6, 0.9, 25, 4});
       }},
      // A target row spans far more than 32-bit positions along the run.
      {"absurd reduction",
       [](TdtpAffineTransform& t) {
         t.SetMatrix({1e-7, 0, 0, 1, 5, 5});
       }},
      {"absurd shear",
       [](TdtpAffineTransform& t) {
         t.SetMatrix({1e-6, 0, 1, 1, 5.3, 5});
       }},
      {"absurd enlargement",
       [](TdtpAffineTransform& t) {
         t.Scale(4000, 3000);
         t.Translate(-30000, -20000);
       }},
  };
  const TBitmap32 base = RandomBitmap(47, 33, 21);
  for (const Geometry& g : geometries)
    for (int n : {1, 2, 3})
      for (TColor32 outer : {0x00000000u, 0x00FFFFFFu, 0xC0304050u})
        for (uint8_t master : {uint8_t(255), uint8_t(97)}) {
          TBitmap32 src = base;
          src.OuterColor = outer;
          src.MasterAlpha = master;
          TdtpAffineTransform t;
          g.make(t);
          std::vector<TBitmap32> results;
          for (TSamplerKernels k : {skReference, skPortable, skOptimised}) {
            KernelsGuard guard;
            SetSamplerKernels(k);
            TBitmap32 target = RandomBitmap(71, 53, 6);
            TdtpMapSampler s;
            s.SetOversampling(n);
            s.SetTargetMap(&target);
            s.SetSourceMap(&src);
            s.SetTransform(&t);
            s.Draw({0, 0, 47, 33});
            results.push_back(target);
          }
          for (size_t r = 1; r < results.size(); ++r)
            for (int i = 0; i < 71 * 53; ++i)
              ASSERT_EQ(results[r].Bits()[i], results[0].Bits()[i])
                  << g.what << " n " << n << " outer " << std::hex << outer << std::dec
                  << " master " << int(master) << " path " << r << " pixel " << i % 71 << ","
                  << i / 71;
        }
}

// --- kernels -----------------------------------------------------------------------------

using sampler::TKernelTable;
using sampler::TSampleSource;

const TKernelTable* Optimised() {
  return sampler::Avx2Kernels();
}

// Positions around and inside a w × h source: exact edges, whole pixels, random ones.
int32_t RandomPosition(std::mt19937& rng, int side) {
  const int32_t lim = (side - 1) * 256;
  switch (rng() % 6) {
  case 0:
    return int32_t(rng() % 3) - 1; // -1, 0, 1
  case 1:
    return lim + int32_t(rng() % 3) - 1; // lim - 1, lim, lim + 1
  case 2:
    return int32_t(rng() % uint32_t(side)) * 256; // whole pixel
  case 3:
    return int32_t(rng() % uint32_t(side * 256 + 512)) - 256;
  default:
    return int32_t(rng() % uint32_t(std::max(lim, 1)));
  }
}

TEST(SamplerKernels, OptimisedReadsMatchThePortableOnes) {
  const TKernelTable* opt = Optimised();
  if (!opt) GTEST_SKIP() << "no optimised kernels on this CPU or build";
  const TKernelTable& ref = sampler::PortableKernels();
  std::mt19937 rng(17);
  constexpr int kGuard = 8;
  constexpr TColor32 kGuardValue = 0xDEADBEEF;
  for (int w : {1, 2, 3, 17, 33})
    for (int h : {1, 2, 5}) {
      TBitmap32 bmp = RandomBitmap(w, h, uint32_t(w * 100 + h));
      const TSampleSource src{bmp.Bits(), w, h, 0x5A6B7C8D};
      for (int count = 1; count <= 64; ++count) {
        std::vector<int32_t> dx(count), dy(count);
        const int32_t x0 = int32_t(rng() % 512) - 256, y0 = int32_t(rng() % 512) - 256;
        for (int i = 0; i < count; ++i) {
          dx[i] = RandomPosition(rng, w) - x0;
          dy[i] = RandomPosition(rng, h) - y0;
        }
        std::vector<TColor32> a(count + kGuard, kGuardValue), b(count + kGuard, kGuardValue);
        ref.ReadRun(src, x0, y0, dx.data(), dy.data(), count, a.data());
        opt->ReadRun(src, x0, y0, dx.data(), dy.data(), count, b.data());
        ASSERT_EQ(a, b) << w << "x" << h << " count " << count;

        std::vector<uint16_t> sa(4 * (count + kGuard)), sb;
        for (auto& v : sa) v = uint16_t(rng() % 1000);
        sb = sa;
        ref.AccumulateRun(src, x0, y0, dx.data(), dy.data(), count, sa.data());
        opt->AccumulateRun(src, x0, y0, dx.data(), dy.data(), count, sb.data());
        ASSERT_EQ(sa, sb) << w << "x" << h << " count " << count;
      }
    }
}

TEST(SamplerKernels, OptimisedAveragesAndBlendsMatchThePortableOnes) {
  const TKernelTable* opt = Optimised();
  if (!opt) GTEST_SKIP() << "no optimised kernels on this CPU or build";
  const TKernelTable& ref = sampler::PortableKernels();
  std::mt19937 rng(23);
  constexpr int kGuard = 8;
  constexpr TColor32 kGuardValue = 0xDEADBEEF;
  for (int count = 1; count <= 64; ++count) {
    for (int s : {4, 9, 16, 36}) {
      std::vector<uint16_t> sums(4 * size_t(count));
      for (auto& v : sums) v = uint16_t(rng() % (255 * uint32_t(s) + 1));
      std::vector<TColor32> a(count + kGuard, kGuardValue), b(count + kGuard, kGuardValue);
      ref.AverageRun(sums.data(), count, s, a.data());
      opt->AverageRun(sums.data(), count, s, b.data());
      ASSERT_EQ(a, b) << "s " << s << " count " << count;
    }
    for (uint8_t m : {uint8_t(0), uint8_t(1), uint8_t(128), uint8_t(254), uint8_t(255)}) {
      // Whole groups of clear and of opaque pixels take the shortcuts; mixed ones do not.
      const uint32_t mode = rng() % 3;
      std::vector<TColor32> run(count);
      for (auto& c : run) {
        c = rng();
        if (mode == 1) c &= 0x00FFFFFFu;
        if (mode == 2) c |= 0xFF000000u;
      }
      std::vector<TColor32> a(count + kGuard), b;
      for (auto& c : a) c = rng();
      b = a;
      ref.BlendRun(run.data(), a.data(), count, m);
      opt->BlendRun(run.data(), b.data(), count, m);
      ASSERT_EQ(a, b) << "m " << int(m) << " count " << count << " mode " << mode;
    }
  }
}

} // namespace
} // namespace dtp
