// Milliseconds per render for fixed patches; asserts nothing.
#include <benchmark/benchmark.h>

#include <memory>

#include "engine/renderer.hpp"

namespace quibbet {
namespace {

Patch AllOf(std::int32_t type) {
  Patch p;
  for (Osc& o : p.osc) o.type = type;
  return p;
}

void BM_RenderReference(benchmark::State& state, Patch p) {
  auto buffer = std::make_unique<SampleBuffer>();
  NoiseGenerator noise;
  for (auto _ : state) {
    RenderReference(p, noise, *buffer);
    benchmark::DoNotOptimize(buffer->values);
    benchmark::ClobberMemory();
  }
}

BENCHMARK_CAPTURE(BM_RenderReference, default, Patch{})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderReference, all_saw, AllOf(SAW))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderReference, all_sqr, AllOf(SQR))->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quibbet

BENCHMARK_MAIN();
