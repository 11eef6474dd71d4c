// Milliseconds per render for fixed patches; asserts nothing.
//
// Each patch is timed with the reference render and then with the fast
// render at each instruction-set level, so the ratios can be read side by
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

void BM_RenderFast(benchmark::State& state, Patch p, int level) {
  if (level > static_cast<int>(BestSimdLevel())) {
    state.SkipWithError("this CPU cannot run that instruction set");
    return;
  }
  auto buffer = std::make_unique<SampleBuffer>();
  NoiseGenerator noise;
  SineGuardCount counts;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    RenderFast(p, noise, *buffer, SimdLevel{level}, counts);
    benchmark::DoNotOptimize(buffer->values);
    benchmark::ClobberMemory();
  }
  const double mean = MeanSeconds(start, state);
  if (counts.total > 0) {
    state.counters["guard_ppm"] =
        1e6 * static_cast<double>(counts.scalar) / static_cast<double>(counts.total);
  }
  if (reference_seconds > 0.0) state.counters["speedup"] = reference_seconds / mean;
}

// The reference, then the fast render at each level this program is built
// with, named after the level (default_sse2, default_neon, ...).
void RegisterRenderBenchmarks(const std::string& name, const Patch& p) {
  const std::string reference = "BM_RenderReference/" + name;
  benchmark::RegisterBenchmark(reference.c_str(), BM_RenderReference, p, name)
      ->Unit(benchmark::kMillisecond);
  for (int l = 0; l < SimdLevelCount(); ++l) {
    const std::string fast = "BM_RenderFast/" + name + "_" + SimdLevelName(SimdLevel{l});
    benchmark::RegisterBenchmark(fast.c_str(), BM_RenderFast, p, l)->Unit(benchmark::kMillisecond);
  }
}

}  // namespace
}  // namespace quibbet

int main(int argc, char** argv) {
  using quibbet::AllOf;
  quibbet::RegisterRenderBenchmarks("default", quibbet::Patch{});
  quibbet::RegisterRenderBenchmarks("all_saw", AllOf(quibbet::SAW));
  quibbet::RegisterRenderBenchmarks("all_sqr", AllOf(quibbet::SQR));
  quibbet::RegisterRenderBenchmarks("high_tone", quibbet::HighTone());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
