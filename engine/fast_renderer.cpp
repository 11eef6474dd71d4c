#include "engine/fast_renderer.hpp"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace quibbet {

namespace {

// The envelope's product of two floats is exact in double, so rounding it to
// single is the same as the single-precision multiplication.
constexpr float kEnvelopeFactorSingle = static_cast<float>(kEnvelopeFactor);

// The envelope is the same in every render, but each value depends on the
// one before. Its value at every kEnvelopeStride-th frame is computed once,
// so that a block's envelope can run as independent chains.
constexpr int kEnvelopeStride = 128;
constexpr int kChains = fast::kBlockFrames / kEnvelopeStride;
static_assert(kChains * kEnvelopeStride == fast::kBlockFrames);
constexpr int kEnvelopeCheckpoints = (kRenderFrames + kEnvelopeStride - 1) / kEnvelopeStride;

const float* EnvelopeCheckpoints() {
  static const std::array<float, kEnvelopeCheckpoints> checkpoints = [] {
    std::array<float, kEnvelopeCheckpoints> table{};
    float env = 1.0f;
    for (int k = 0; k < kRenderFrames; ++k) {
      if (k % kEnvelopeStride == 0) table[k / kEnvelopeStride] = env;
      env = env * kEnvelopeFactorSingle;
    }
    return table;
  }();
  return checkpoints.data();
}

const fast::KernelSet& SetFor(SimdLevel level) {
  return fast::KernelSetAt(static_cast<int>(level));
}

// The noise step is linear modulo 2^32: (s0, s1, s2) becomes
// (s0 + s1 + s2, s1 + s2, s0 + s2). Skipping is a power of that matrix.
struct Matrix3 {
  std::uint32_t m[3][3];
};

Matrix3 Multiply(const Matrix3& a, const Matrix3& b) {
  Matrix3 c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) c.m[i][j] += a.m[i][k] * b.m[k][j];  // wraps modulo 2^32
  return c;
}

// Which distinct voice evaluates (kind, ratio); ratios are compared by bits,
// so -0 and +0 stay apart.
int VoiceFor(fast::KernelPlan& plan, fast::VoiceKind kind, float ratio) {
  for (int v = 0; v < plan.voice_count; ++v) {
    if (plan.voice_kind[v] == kind &&
        std::bit_cast<std::uint32_t>(plan.voice_ratio[v]) == std::bit_cast<std::uint32_t>(ratio))
      return v;
  }
  plan.voice_kind[plan.voice_count] = kind;
  plan.voice_ratio[plan.voice_count] = ratio;
  return plan.voice_count++;
}

fast::KernelPlan PlanFor(const Patch& p) {
  fast::KernelPlan plan;
  plan.increment = PitchToIncrement(std::int64_t{p.tone} + 36);
  for (int o = 0; o < 2; ++o) {
    const Osc& osc = p.osc[o];
    const auto kind = osc.type == SIN ? fast::VoiceKind::kSin : fast::VoiceKind::kSaw;
    plan.detuned_voice[o] = VoiceFor(plan, kind, osc.detune);
    plan.base_voice[o] = VoiceFor(plan, kind, 1.0f);
    plan.square[o] = osc.type == SQR;
    plan.shaper[o] = osc.fm > 0.0f;
    plan.fm[o] = osc.fm;
    for (int i = 0; i < 3; ++i) {
      const double h = 2.0 * (i - 1);
      // The shaper's argument exactly as the reference forms it.
      plan.shaped_square[o][i] = Sine(static_cast<float>((h * osc.fm) * kPi));
    }
    plan.noisy[o] = !(osc.noise == 0.0f);  // NaN counts as noisy
    plan.noise[o] = osc.noise;
  }
  return plan;
}

}  // namespace

int SimdLevelCount() { return fast::KernelSetCount(); }

SimdLevel BestSimdLevel() { return SimdLevel{fast::RunnableKernelSets() - 1}; }

const char* SimdLevelName(SimdLevel level) { return SetFor(level).name; }

void SinesRoundedToFloat(SimdLevel level, const float* x, float* out, int n,
                         SineGuardCount& counts) {
  SetFor(level).sines(x, out, n, counts);
}

void SkipNoise(NoiseGenerator& noise, std::uint64_t steps) {
  Matrix3 power{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
  Matrix3 step{{{1, 1, 1}, {0, 1, 1}, {1, 0, 1}}};
  for (; steps != 0; steps >>= 1) {
    if (steps & 1) power = Multiply(power, step);
    step = Multiply(step, step);
  }
  const std::uint32_t s[3] = {noise.s0, noise.s1, noise.s2};
  std::uint32_t t[3] = {};
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) t[i] += power.m[i][k] * s[k];
  noise.s0 = t[0];
  noise.s1 = t[1];
  noise.s2 = t[2];
}

void RenderFast(const Patch& p, NoiseGenerator& noise, SampleBuffer& buffer) {
  SineGuardCount uncounted;
  RenderFast(p, noise, buffer, BestSimdLevel(), uncounted);
}

void RenderFast(const Patch& p, NoiseGenerator& noise, SampleBuffer& buffer, SimdLevel level,
                SineGuardCount& counts) {
  FastRender render = BeginRenderFast(p, level);
  RenderFastFrames(render, noise, buffer, kRenderFrames, counts);
}

FastRender BeginRenderFast(const Patch& p) { return BeginRenderFast(p, BestSimdLevel()); }

FastRender BeginRenderFast(const Patch& p, SimdLevel level) {
  FastRender render;
  render.plan = PlanFor(p);
  render.level = level;
  return render;
}

int RenderFastFrames(FastRender& render, NoiseGenerator& noise, SampleBuffer& buffer, int frames) {
  SineGuardCount uncounted;
  return RenderFastFrames(render, noise, buffer, frames, uncounted);
}

int RenderFastFrames(FastRender& render, NoiseGenerator& noise, SampleBuffer& buffer, int frames,
                     SineGuardCount& counts) {
  const auto kernel = SetFor(render.level).kernel;
  const fast::KernelPlan& plan = render.plan;
  const bool noisy = plan.noisy[0] || plan.noisy[1];

  alignas(64) float env_values[fast::kBlockFrames];
  alignas(64) float noise0[fast::kBlockFrames];
  alignas(64) float noise1[fast::kBlockFrames];

  const float* const checkpoints = EnvelopeCheckpoints();
  auto* pcm = reinterpret_cast<unsigned char*>(buffer.values);
  const int begin = render.frames_done;
  const int end = frames <= 0                      ? begin
                  : frames < kRenderFrames - begin ? begin + frames
                                                   : kRenderFrames;
  for (int first = begin; first < end; first += fast::kBlockFrames) {
    const int frames_now = end - first < fast::kBlockFrames ? end - first : fast::kBlockFrames;
    // The envelope, as eight chains of kEnvelopeStride frames each, started
    // from their checkpoints, so that they overlap instead of waiting on one
    // another. A block that does not begin on a checkpoint steps each chain
    // on to its first frame: the same products in the same order.
    float env[kChains];
    for (int c = 0; c < kChains; ++c) {
      const int checkpoint = first / kEnvelopeStride + c;
      env[c] = checkpoint < kEnvelopeCheckpoints ? checkpoints[checkpoint] : 0.0f;
    }
    for (int j = 0; j < first % kEnvelopeStride; ++j) {
      for (int c = 0; c < kChains; ++c) env[c] = env[c] * kEnvelopeFactorSingle;
    }
    for (int j = 0; j < kEnvelopeStride; ++j) {
      for (int c = 0; c < kChains; ++c) {
        env_values[c * kEnvelopeStride + j] = env[c];
        env[c] = env[c] * kEnvelopeFactorSingle;
      }
    }
    if (noisy) {
      for (int k = 0; k < frames_now; ++k) {
        noise0[k] = noise.Step();
        noise1[k] = noise.Step();
      }
    }
    const fast::KernelBlock block{frames_now, first,  env_values,
                                  noise0,     noise1, pcm + std::size_t{kBytesPerFrame} * first};
    kernel(plan, block, counts);
  }
  // Two steps per frame are taken whether or not the noise is heard.
  if (!noisy) SkipNoise(noise, 2 * static_cast<std::uint64_t>(end - begin));
  render.frames_done = end;
  return end - begin;
}

}  // namespace quibbet
