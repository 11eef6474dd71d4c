#include "console/program_state.hpp"

#include <cstdio>

#include "engine/fast_renderer.hpp"

namespace quibbet {

Patch patch;
std::int32_t selected_osc = 0;
Editor editor(patch, selected_osc);
NoiseGenerator noise_generator;
SampleBuffer sample_buffer;

namespace {

// The first piece is 46 ms of sound, more than any output waits for before
// it starts (ALSA's buffer, the sound server's target); it renders in a
// fraction of a millisecond even without vector instructions. Each later
// piece is twice the one before: a handful of pieces, each far quicker to
// render than to play, so the render stays ahead of the output.
constexpr int kFirstPieceFrames = 2048;

FastRender sound = [] {
  FastRender done;
  done.frames_done = kRenderFrames;  // nothing to finish before the first sound
  return done;
}();
int piece_frames = kFirstPieceFrames;

}  // namespace

void BeginSound() {
  std::printf("Tone = %d\n", patch.tone);
  std::fflush(stdout);
  sound = BeginRenderFast(patch);
  piece_frames = kFirstPieceFrames;
  RenderFastFrames(sound, noise_generator, sample_buffer, piece_frames);
}

std::size_t SoundBytesReady() { return std::size_t{kBytesPerFrame} * sound.frames_done; }

bool RenderMore() {
  if (sound.Done()) return false;
  piece_frames *= 2;
  RenderFastFrames(sound, noise_generator, sample_buffer, piece_frames);
  return true;
}

}  // namespace quibbet
