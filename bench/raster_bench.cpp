// Stretched draws of an A4 page at 300 DPI (2480 × 3508) enlarged by 1.3 and reduced by
// 0.77, with our separable filters and, in the same run, pixman's bilinear and
// separable-convolution filters at the same scales. Throughput is destination pixels.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "platform/raster/bitmap32.h"
#include "platform/raster/resample.h"

namespace {

using namespace dtp;

constexpr int kSrcW = 2480, kSrcH = 3508;

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

int Scaled(int v, double s) {
  return static_cast<int>(std::lround(v * s));
}

void SetRate(benchmark::State& state, int w, int h) {
  state.counters["Mpixel/s"] = benchmark::Counter(double(w) * h * 1e-6 * double(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}

void Ours(benchmark::State& state, TStretchFilter filter, double scale, TResampleKernels k) {
  const TBitmap32& src = Source();
  const int w = Scaled(kSrcW, scale), h = Scaled(kSrcH, scale);
  TBitmap32 dst(w, h);
  SetResampleKernels(k);
  for (auto _ : state) {
    StretchTransfer(dst, {0, 0, w, h}, dst.BoundsRect(), src, src.BoundsRect(), filter, dmOpaque,
                    cmBlend, 255);
    benchmark::DoNotOptimize(dst.Bits());
  }
  SetResampleKernels(rkOptimised);
  SetRate(state, w, h);
}

enum TPixmanFilter { pxBilinear, pxLinear, pxLanczos3, pxMitchell };

void Pixman(benchmark::State& state, TPixmanFilter filter, double scale) {
  const TBitmap32& src = Source();
  const int w = Scaled(kSrcW, scale), h = Scaled(kSrcH, scale);
  TBitmap32 dst(w, h);
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSrcW, kSrcH,
                                               const_cast<uint32_t*>(src.Bits()), kSrcW * 4);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, dst.Bits(), w * 4);
  // Destination to source, as pixman maps.
  const double sx = double(kSrcW) / w, sy = double(kSrcH) / h;
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy));
  pixman_image_set_transform(s, &t);
  pixman_image_set_repeat(s, PIXMAN_REPEAT_PAD);
  if (filter == pxBilinear) {
    pixman_image_set_filter(s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  } else {
    // The same kernel as ours: reconstructing when enlarging, widened by the scale as
    // the sampling kernel when reducing.
    const pixman_kernel_t k = filter == pxLanczos3 ? PIXMAN_KERNEL_LANCZOS3
                              : filter == pxLinear ? PIXMAN_KERNEL_LINEAR
                                                   : PIXMAN_KERNEL_CUBIC;
    const bool up = scale > 1;
    int n = 0;
    pixman_fixed_t* params = pixman_filter_create_separable_convolution(
        &n, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy), up ? k : PIXMAN_KERNEL_IMPULSE,
        up ? k : PIXMAN_KERNEL_IMPULSE, up ? PIXMAN_KERNEL_IMPULSE : k,
        up ? PIXMAN_KERNEL_IMPULSE : k, 4, 4);
    pixman_image_set_filter(s, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
    free(params);
  }
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, w, h);
    benchmark::DoNotOptimize(dst.Bits());
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  SetRate(state, w, h);
}

constexpr double kUp = 1.3, kDown = 0.77;

#define OURS(name, filter, scale, kernels)                                                         \
  BENCHMARK_CAPTURE(Ours, name, filter, scale, kernels)->Unit(benchmark::kMillisecond)->MinTime(1)
#define PIXMAN(name, filter, scale)                                                                \
  BENCHMARK_CAPTURE(Pixman, name, filter, scale)->Unit(benchmark::kMillisecond)->MinTime(1)

OURS(Linear_Up, sfLinear, kUp, rkOptimised);
PIXMAN(Bilinear_Up, pxBilinear, kUp);
OURS(Linear_Down, sfLinear, kDown, rkOptimised);
PIXMAN(Bilinear_Down, pxBilinear, kDown);
// pixman's bilinear filter does not widen when reducing; this is its widened linear kernel.
PIXMAN(LinearConvolution_Down, pxLinear, kDown);
OURS(Lanczos_Up, sfLanczos, kUp, rkOptimised);
PIXMAN(Lanczos3_Up, pxLanczos3, kUp);
OURS(Lanczos_Down, sfLanczos, kDown, rkOptimised);
PIXMAN(Lanczos3_Down, pxLanczos3, kDown);
OURS(Mitchell_Up, sfMitchell, kUp, rkOptimised);
PIXMAN(Mitchell_Up, pxMitchell, kUp);
OURS(Mitchell_Down, sfMitchell, kDown, rkOptimised);
PIXMAN(Mitchell_Down, pxMitchell, kDown);
OURS(Reference_Linear_Up, sfLinear, kUp, rkReference);
OURS(Reference_Lanczos_Down, sfLanczos, kDown, rkReference);

} // namespace

BENCHMARK_MAIN();
