#include "engine/renderer.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/fast_renderer.hpp"

namespace quibbet {

NoiseGenerator noise_generator;
SampleBuffer sample_buffer;

std::int16_t LimitToPcm(float value) {
  // The gain is applied in double and rounded to single before the sine.
  const float y = static_cast<float>(value * kOutputGain);
  // The soft limiter's output is a float.
  const float s = Sine(y);
  // Converting NaN to an integer is undefined, so it is mapped to silence here.
  if (std::isnan(s)) return 0;
  // |s| <= 1, so the truncated product always fits in -32767..32767.
  return static_cast<std::int16_t>(std::trunc(s * 32767.0));
}

namespace {

// One oscillator's contribution to a frame, before noise.
float OscillatorVoices(const Osc& o, float p) {
  const WaveformFn fn = WaveTable[o.type];
  // The two voices are summed in double, then rounded to single.
  float h = static_cast<float>(static_cast<double>(fn(p, o.detune)) + fn(p, 1.0f));
  if (o.fm > 0.0f) {
    // Waveshaper: (h * fm) * pi in double, rounded to single before the sine.
    const float x = static_cast<float>((static_cast<double>(h) * o.fm) * kPi);
    h = Sine(x);
  }
  return h;
}

void ConvertToPcm(SampleBuffer& buffer) {
  auto* bytes = reinterpret_cast<unsigned char*>(buffer.values);
  // Ascending order: sample j overwrites bytes 2j and 2j+1, which belong to
  // floats that have already been read.
  for (int j = 0; j < kRenderSamples; ++j) {
    float value;
    std::memcpy(&value, bytes + 4 * static_cast<std::size_t>(j), sizeof value);
    const auto bits = static_cast<std::uint16_t>(LimitToPcm(value));
    bytes[2 * j] = static_cast<unsigned char>(bits & 0xFF);  // little-endian on every host
    bytes[2 * j + 1] = static_cast<unsigned char>(bits >> 8);
  }
}

}  // namespace

void RenderReference(const Patch& p, NoiseGenerator& noise, SampleBuffer& buffer) {
  const double inc = PitchToIncrement(std::int64_t{p.tone} + 36);
  std::memset(buffer.values, 0, sizeof buffer.values);

  double phase = 0.0;
  float env = 1.0f;
  for (int k = 0; k < kRenderFrames; ++k) {
    float sum = 0.0f;
    // Both oscillators see the phase rounded to single.
    const float ph = static_cast<float>(phase);
    for (const Osc& o : p.osc) {
      const float h = OscillatorVoices(o, ph);
      const float n = noise.Step();  // taken even when noise is 0
      const float t = static_cast<float>(static_cast<double>(h) + sum);
      sum = static_cast<float>(t + static_cast<double>(n) * o.noise);
    }
    const double e = static_cast<double>(sum) * env;  // not rounded
    float* frame = buffer.values + 2 * static_cast<std::size_t>(k);
    frame[0] = static_cast<float>(frame[0] + e);
    frame[1] = static_cast<float>(frame[1] + e);
    env = static_cast<float>(env * kEnvelopeFactor);
    // Accumulated, as the sound is defined. The sum is in fact never rounded
    // (a float increment times k < 2^19 fits in a double), which RenderFast
    // relies on to compute k * inc instead.
    phase += inc;
  }
  ConvertToPcm(buffer);
}

void RenderSound() {
  std::printf("Tone = %d\n", patch.tone);
  std::fflush(stdout);
#ifdef QUIBBET_REFERENCE_RENDER
  RenderReference(patch, noise_generator, sample_buffer);
#else
  RenderFast(patch, noise_generator, sample_buffer);
#endif
}

}  // namespace quibbet
