// Turns a Patch into 7 seconds of 44.1 kHz 16-bit stereo PCM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/patch.hpp"
#include "engine/voice.hpp"

namespace quibbet {

inline constexpr int kFramesPerSecond = 44100;
inline constexpr int kChannels = 2;
inline constexpr int kBytesPerSample = 2;
inline constexpr int kBytesPerFrame = kChannels * kBytesPerSample;
inline constexpr int kRenderFrames = 308700;  // 7.0 s
inline constexpr int kRenderSamples = kRenderFrames * kChannels;
inline constexpr std::size_t kPcmBytes = std::size_t{kRenderFrames} * kBytesPerFrame;
// The work area is sized in floats; a render uses the first kRenderSamples.
inline constexpr std::size_t kSampleBufferValues = 1234800;

// Constants of the render, single-precision values used as doubles.
inline constexpr double kEnvelopeFactor = static_cast<double>(0.99997f);
inline constexpr double kOutputGain = static_cast<double>(0.3f);

// During a render: interleaved float frames (left, right). Afterwards its
// first kPcmBytes bytes are the interleaved signed 16-bit little-endian PCM.
struct SampleBuffer {
  alignas(64) float values[kSampleBufferValues];

  std::span<const std::uint8_t, kPcmBytes> Pcm() const {
    return std::span<const std::uint8_t, kPcmBytes>(reinterpret_cast<const std::uint8_t*>(values),
                                                    kPcmBytes);
  }
};

// The straightforward render, one frame at a time: the player's
// (quibbet_render), its samples stored little-endian. The whole buffer is
// cleared first. Pure: no I/O, no allocation. Advances noise by two steps per
// frame.
void RenderReference(const Patch& p, NoiseGenerator& noise, SampleBuffer& buffer);

}  // namespace quibbet
