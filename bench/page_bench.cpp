// Whole pages: an A5 page holding 40 cached shapes rendered at 300 DPI, with the caches
// rebuilt on every run (cold) and reused (warm); and one A4 page printed at 600 DPI through
// the recording printer (bands only placed, not kept), with the heap's peak above what the
// document itself holds, for uncached and for cached shapes.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/shapes/render.h"
#include "engine/shapes/shape.h"
#include "platform/raster/polygon32.h"
#include "tests/support/recording_printer.h"

// Heap accounting for the memory figures: every allocation through operator new.
namespace {
std::atomic<int64_t> g_InUse{0}, g_Peak{0};
void* Counted(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  const int64_t now = g_InUse += int64_t(malloc_usable_size(p));
  int64_t peak = g_Peak.load();
  while (now > peak && !g_Peak.compare_exchange_weak(peak, now)) {
  }
  return p;
}
void Uncounted(void* p) {
  if (!p) return;
  g_InUse -= int64_t(malloc_usable_size(p));
  std::free(p);
}
} // namespace

void* operator new(size_t n) {
  return Counted(n);
}
void* operator new[](size_t n) {
  return Counted(n);
}
void operator delete(void* p) noexcept {
  Uncounted(p);
}
void operator delete[](void* p) noexcept {
  Uncounted(p);
}
void operator delete(void* p, size_t) noexcept {
  Uncounted(p);
}
void operator delete[](void* p, size_t) noexcept {
  Uncounted(p);
}

namespace {

using namespace dtp;

int64_t g_Paints = 0;

// A shape that paints a filled frame and an antialiased diamond, as a simple vector shape
// would.
class TBenchShape : public TdtpShape {
public:
  explicit TBenchShape(TColor32 c) : m_Color(c) {}
  void Paint(TBitmap32& bitmap, const TDeviceContext&) override {
    ++g_Paints;
    const int l = DeviceLeft(), t = DeviceTop(), r = DeviceRight(), b = DeviceBottom();
    bitmap.FillRect(l, t, r, b, m_Color);
    TPolygon32 diamond;
    diamond.Add((l + r) / 2.0, t);
    diamond.Add(r, (t + b) / 2.0);
    diamond.Add((l + r) / 2.0, b);
    diamond.Add(l, (t + b) / 2.0);
    diamond.DrawFill(bitmap, 0xFFFFFFFFu ^ (m_Color & 0x00FFFFFFu));
  }

private:
  TColor32 m_Color;
};

// 40 shapes of 24 × 20 mm in a 5 × 8 grid; turned and partly translucent when `cached`.
void FillPage(TdtpDocument& doc, float width, float height, bool cached) {
  doc.SetPageWidth(width);
  doc.SetPageHeight(height);
  doc.SetShowMargins(false);
  const float cw = width / 5, ch = height / 8;
  for (int i = 0; i < 40; ++i) {
    auto s = std::make_unique<TBenchShape>(0xFF000000u | (0x3A5F81u * (i + 1)));
    const float x = (i % 5) * cw + cw * 0.1f, y = (i / 5) * ch + ch * 0.1f;
    s->SetBoundsAndAngle(x, y, cw * 0.8f, ch * 0.8f, cached ? float(7 + 9 * i) : 0);
    if (cached && i % 3 == 0) s->SetMasterAlpha(200);
    doc.AddShape(std::move(s));
  }
}

constexpr float kDpm300 = 300 / 25.4f;

void BM_A5Page40CachedShapes(benchmark::State& state) {
  const bool cold = state.range(0) != 0;
  TdtpDocument doc;
  FillPage(doc, 148, 210, true);
  TdtpPage* page = doc.CurrentPage();
  TDeviceContext ctx;
  ctx.Device = dtPrinter;
  ctx.ScreenDpm = ctx.RenderDpm = kDpm300;
  ctx.Quality = sfLinear;
  TBitmap32 target(int(148 * kDpm300 + 0.5f), int(210 * kDpm300 + 0.5f));
  const TFloatRect area{0, 0, 148, 210};
  DrawShape(*page, target, area, true, ctx); // builds the caches once
  g_Paints = 0;
  for (auto _ : state) {
    if (cold)
      for (int i = 0; i < page->ShapeCount(); ++i) page->Shapes(i)->FreeCache();
    DrawShape(*page, target, area, true, ctx);
    benchmark::DoNotOptimize(target.Bits());
  }
  state.SetLabel(cold ? "cold: caches rebuilt" : "warm: caches reused");
  state.counters["paints/run"] = double(g_Paints) / double(state.iterations());
  state.counters["Mpx/s"] = benchmark::Counter(double(target.Width()) * target.Height() / 1e6,
                                               benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_A5Page40CachedShapes)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_PrintA4At600Dpi(benchmark::State& state) {
  const bool cached = state.range(0) != 0;
  int64_t peakAbove = 0, bands = 0, largest = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto doc = std::make_unique<TdtpDocument>();
    FillPage(*doc, 210, 297, cached);
    doc->SetPrintQuality(pqHigh);
    test::TRecordingPrinter printer(4961, 7016);
    printer.KeepPixels = false;
    printer.Bands.reserve(64);
    const int64_t base = g_InUse.load();
    g_Peak = base;
    state.ResumeTiming();
    doc->PrintAll(printer);
    state.PauseTiming();
    peakAbove = std::max(peakAbove, g_Peak.load() - base);
    bands = int64_t(printer.Bands.size());
    for (const auto& b : printer.Bands) largest = std::max(largest, int64_t(b.Size.X) * b.Size.Y);
    doc.reset();
    state.ResumeTiming();
  }
  state.SetLabel(cached ? "40 turned, cached shapes" : "40 uncached shapes");
  state.counters["peak MiB"] = double(peakAbove) / (1 << 20);
  state.counters["bands"] = double(bands);
  state.counters["largest band px"] = double(largest);
}
BENCHMARK(BM_PrintA4At600Dpi)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
