// Milliseconds per render for fixed patches; asserts nothing.
//
// Each patch is timed with the reference render and then with the fast
// render forced to each instruction set, so the ratios can be read side by
// side. `speedup` is the reference's mean wall-clock time per render in the
// same run (the fastest of its repetitions) divided by this benchmark's, the
// `Time` column. `guard_ppm` is how many sines per million the exactness
// guard sent to the scalar sine.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "engine/fast_renderer.hpp"
#include "engine/renderer.hpp"

namespace quibbet {
namespace {

Patch AllOf(std::int32_t type) {
  Patch p;
  for (Osc& o : p.osc) o.type = type;
  return p;
}

// The default patch at tone 110, note 146: about 27.6 kHz, far above what
// the phase-to-sine arguments of ordinary tones reach.
Patch HighTone() {
  Patch p;
  p.tone = 110;
  return p;
}

// Mean time of a reference render, in seconds, of the patch timed last: the
// fastest of its repetitions, which all run before the fast renders.
double reference_seconds = 0.0;

// Wall-clock seconds per iteration since start.
double MeanSeconds(std::chrono::steady_clock::time_point start, const benchmark::State& state) {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / static_cast<double>(state.iterations());
}

void BM_RenderReference(benchmark::State& state, Patch p, std::string name) {
  auto buffer = std::make_unique<SampleBuffer>();
  NoiseGenerator noise;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    RenderReference(p, noise, *buffer);
    benchmark::DoNotOptimize(buffer->values);
    benchmark::ClobberMemory();
  }
  const double mean = MeanSeconds(start, state);
  static std::string patch_timed_last;
  if (name != patch_timed_last || mean < reference_seconds) reference_seconds = mean;
  patch_timed_last = name;
}

void BM_RenderFast(benchmark::State& state, Patch p, SimdLevel level) {
  const SimdLevel saved = ActiveSimdLevel();
  if (!ForceSimdLevel(level)) {
    state.SkipWithError("this CPU cannot run that instruction set");
    return;
  }
  auto buffer = std::make_unique<SampleBuffer>();
  NoiseGenerator noise;
  const SineGuardCount before = SineGuardCounts();
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    RenderFast(p, noise, *buffer);
    benchmark::DoNotOptimize(buffer->values);
    benchmark::ClobberMemory();
  }
  const double mean = MeanSeconds(start, state);
  const SineGuardCount after = SineGuardCounts();
  ForceSimdLevel(saved);
  if (after.total > before.total) {
    state.counters["guard_ppm"] = 1e6 * static_cast<double>(after.scalar - before.scalar) /
                                  static_cast<double>(after.total - before.total);
  }
  if (reference_seconds > 0.0) state.counters["speedup"] = reference_seconds / mean;
}

#define QUIBBET_RENDER_BENCHMARKS(name, patch)                                                \
  BENCHMARK_CAPTURE(BM_RenderReference, name, patch, #name)->Unit(benchmark::kMillisecond);   \
  BENCHMARK_CAPTURE(BM_RenderFast, name##_sse2, patch, SimdLevel::kSse2)                      \
      ->Unit(benchmark::kMillisecond);                                                        \
  BENCHMARK_CAPTURE(BM_RenderFast, name##_avx2, patch, SimdLevel::kAvx2)                      \
      ->Unit(benchmark::kMillisecond);                                                        \
  BENCHMARK_CAPTURE(BM_RenderFast, name##_avx512, patch, SimdLevel::kAvx512)                  \
      ->Unit(benchmark::kMillisecond)

QUIBBET_RENDER_BENCHMARKS(default, Patch{});
QUIBBET_RENDER_BENCHMARKS(all_saw, AllOf(SAW));
QUIBBET_RENDER_BENCHMARKS(all_sqr, AllOf(SQR));
QUIBBET_RENDER_BENCHMARKS(high_tone, HighTone());

}  // namespace
}  // namespace quibbet

BENCHMARK_MAIN();
