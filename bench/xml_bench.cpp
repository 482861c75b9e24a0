// Serialising and reading a page-sized shape tree, the work a page save and load does.
#include <benchmark/benchmark.h>

#include "engine/shapes/shape.h"
#include "platform/xml/values.h"

namespace {

std::unique_ptr<dtp::TdtpShape> MakeTree(int children) {
  auto root = std::make_unique<dtp::TdtpShape>();
  root->SetBounds(0, 0, 210, 297);
  for (int i = 0; i < children; ++i) {
    auto c = std::make_unique<dtp::TdtpShape>();
    c->SetBoundsAndAngle(1.5f * i, 2.25f * i, 40.125f, 20.5f, 12.5f * i);
    c->SetMasterAlpha(100 + i % 100);
    root->AddShape(std::move(c));
  }
  return root;
}

void BM_ShapeSaveToString(benchmark::State& state) {
  auto root = MakeTree(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(root->SaveToString());
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ShapeSaveToString)->Arg(40)->Arg(400);

void BM_ShapeLoadFromString(benchmark::State& state) {
  auto root = MakeTree(static_cast<int>(state.range(0)));
  const dtp::Bytes form = root->SaveToString();
  for (auto _ : state) {
    dtp::TdtpShape copy;
    copy.LoadFromString(form);
    benchmark::DoNotOptimize(copy.ShapeCount());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ShapeLoadFromString)->Arg(40)->Arg(400);

void BM_FloatToText(benchmark::State& state) {
  float v = 0.123456f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dtp::xml::FloatToText(v));
    v += 1.37f;
  }
}
BENCHMARK(BM_FloatToText);

} // namespace
