// The map sampler drawing an A4 page cache at 300 DPI (2480 × 3508) turned by 30° and
// enlarged by 1.3, with 2 × 2 supersampling and with one sample per pixel, and, in the same
// run, pixman's bilinear affine composite of the same source under the same transform.
// Throughput is destination pixels: the whole bounding box of the turned page, which both
// sides cover (about half of it lies outside the page).
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "engine/graphics/sampler.h"
#include "engine/shapes/transform.h"
#include "platform/raster/bitmap32.h"

namespace {

using namespace dtp;

constexpr int kSrcW = 2480, kSrcH = 3508;
constexpr double kAngle = 30, kScale = 1.3;

const TBitmap32& Source() {
  static const TBitmap32 src = [] {
    TBitmap32 b(kSrcW, kSrcH);
    std::mt19937 rng(1);
    // Smooth content with some noise, opaque: what a rendered page looks like.
    for (int y = 0; y < kSrcH; ++y)
      for (int x = 0; x < kSrcW; ++x) {
        const uint32_t n = rng() & 0x0F;
        const uint32_t r = (x * 255 / kSrcW) ^ n, g = (y * 255 / kSrcH) ^ n, bl = ((x + y) & 0xFF);
        b.SetPixel(x, y, 0xFF000000u | (r << 16) | (g << 8) | bl);
      }
    return b;
  }();
  return src;
}

// The page turned and enlarged, moved so that its bounding box starts at (0, 0).
struct TScene {
  TdtpAffineTransform Transform;
  int Width = 0, Height = 0;
};

const TScene& Scene() {
  static const TScene scene = [] {
    TScene s;
    s.Transform.Rotate(kAngle, 0, 0);
    s.Transform.Scale(kScale, kScale);
    TFloatPoint c[4] = {{0, 0}, {kSrcW, 0}, {kSrcW, kSrcH}, {0, kSrcH}};
    s.Transform.TransformPoints(c, 4);
    float minX = c[0].X, maxX = c[0].X, minY = c[0].Y, maxY = c[0].Y;
    for (const TFloatPoint& p : c) {
      minX = std::min(minX, p.X);
      maxX = std::max(maxX, p.X);
      minY = std::min(minY, p.Y);
      maxY = std::max(maxY, p.Y);
    }
    s.Transform.Translate(-minX, -minY);
    s.Width = static_cast<int>(std::ceil(maxX - minX));
    s.Height = static_cast<int>(std::ceil(maxY - minY));
    return s;
  }();
  return scene;
}

void SetRate(benchmark::State& state, int w, int h) {
  state.counters["Mpixel/s"] = benchmark::Counter(double(w) * h * 1e-6 * double(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}

void Sampler(benchmark::State& state, int oversampling, TSamplerKernels kernels) {
  const TBitmap32& src = Source();
  const TScene& scene = Scene();
  TdtpAffineTransform transform = scene.Transform;
  TBitmap32 dst(scene.Width, scene.Height);
  SetSamplerKernels(kernels);
  for (auto _ : state) {
    // One sampler per drawing, as the shape renderer uses it.
    TdtpMapSampler s;
    s.SetOversampling(oversampling);
    s.SetTargetMap(&dst);
    s.SetSourceMap(&src);
    s.SetTransform(&transform);
    s.Draw({0, 0, float(kSrcW), float(kSrcH)});
    benchmark::DoNotOptimize(dst.Bits());
  }
  SetSamplerKernels(skOptimised);
  SetRate(state, scene.Width, scene.Height);
}

void Pixman(benchmark::State& state, pixman_op_t op) {
  const TBitmap32& src = Source();
  const TScene& scene = Scene();
  TBitmap32 dst(scene.Width, scene.Height);
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSrcW, kSrcH,
                                               const_cast<uint32_t*>(src.Bits()), kSrcW * 4);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, scene.Width, scene.Height,
                                               dst.Bits(), scene.Width * 4);
  // pixman maps destination to source: the inverse of ours.
  TdtpAffineTransform inv = scene.Transform;
  inv.Invert();
  const TAffineMatrix& m = inv.Matrix();
  pixman_transform_t t;
  pixman_transform_init_identity(&t);
  t.matrix[0][0] = pixman_double_to_fixed(m.m00);
  t.matrix[0][1] = pixman_double_to_fixed(m.m10);
  t.matrix[0][2] = pixman_double_to_fixed(m.m20);
  t.matrix[1][0] = pixman_double_to_fixed(m.m01);
  t.matrix[1][1] = pixman_double_to_fixed(m.m11);
  t.matrix[1][2] = pixman_double_to_fixed(m.m21);
  pixman_image_set_transform(s, &t);
  pixman_image_set_repeat(s, PIXMAN_REPEAT_NONE);
  pixman_image_set_filter(s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  for (auto _ : state) {
    pixman_image_composite32(op, s, nullptr, d, 0, 0, 0, 0, 0, 0, scene.Width, scene.Height);
    benchmark::DoNotOptimize(dst.Bits());
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  SetRate(state, scene.Width, scene.Height);
}

#define SAMPLER(name, n, kernels)                                                                  \
  BENCHMARK_CAPTURE(Sampler, name, n, kernels)->Unit(benchmark::kMillisecond)->MinTime(2)
#define PIXMAN(name, op)                                                                           \
  BENCHMARK_CAPTURE(Pixman, name, op)->Unit(benchmark::kMillisecond)->MinTime(2)

SAMPLER(Rotate30_Scale13_1x1, 1, skOptimised);
SAMPLER(Rotate30_Scale13_2x2, 2, skOptimised);
PIXMAN(Bilinear_Over, PIXMAN_OP_OVER);
PIXMAN(Bilinear_Src, PIXMAN_OP_SRC);
SAMPLER(Portable_1x1, 1, skPortable);
SAMPLER(Portable_2x2, 2, skPortable);
SAMPLER(Reference_1x1, 1, skReference);
SAMPLER(Reference_2x2, 2, skReference);

} // namespace

BENCHMARK_MAIN();
