#include "console/program_state.hpp"

namespace quibbet {

Patch patch;
std::int32_t selected_osc = 0;
Editor editor(patch, selected_osc);
NoiseGenerator noise_generator;
SampleBuffer sample_buffer;

}  // namespace quibbet
