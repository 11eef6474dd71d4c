// The program's state: the patch the user edits, the oscillator the edit
// keys act on, the editor that changes both and keeps their history, the
// noise state that runs on from render to render, and the buffer the last
// render lives in. The engine only computes; this side of the program owns
// what it computes from and into. The session renders into it
// (console/session.hpp).
#pragma once

#include <cstdint>

#include "console/editor.hpp"
#include "engine/patch.hpp"
#include "engine/renderer.hpp"
#include "engine/voice.hpp"

namespace quibbet {

extern Patch patch;
// The oscillator the edit keys act on, 0 or 1; the screen calls it "STICK".
extern std::int32_t selected_osc;
// Static, with its history of steps: the loop allocates nothing for it.
extern Editor editor;
extern NoiseGenerator noise_generator;
extern SampleBuffer sample_buffer;

}  // namespace quibbet
