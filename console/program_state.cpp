#include "console/program_state.hpp"

#include <cstdio>

#include "engine/fast_renderer.hpp"

namespace quibbet {

Patch patch;
std::int32_t selected_osc = 0;
NoiseGenerator noise_generator;
SampleBuffer sample_buffer;

void RenderSound() {
  std::printf("Tone = %d\n", patch.tone);
  std::fflush(stdout);
  RenderFast(patch, noise_generator, sample_buffer);
}

}  // namespace quibbet
