// One pass of the main loop: the key table, acting on the global patch.
#pragma once

#include <bitset>
#include <cstdint>

#include "console/keys.hpp"

namespace quibbet {

// The pause at the end of every pass.
inline constexpr int kPassPauseMs = 16;

// The keys that count as held down in this pass.
using KeysDown = std::bitset<kKeyCount>;

// What the keys do besides editing the patch. The program passes the real
// screen, playback and file operations; tests pass recorders.
struct Actions {
  void (*draw_screen)();
  void (*stop_playback)();
  void (*render_sound)();
  void (*start_playback)();
  void (*save_wave)();
  void (*save_param)();
};

enum class PassResult : std::uint8_t { Continue, Exit };

// Tests the keys in table order and performs every held key's action; each
// action except leaving draws the screen first and only then makes its
// change. A pass that edited the patch or the selection draws the screen once
// more at its end, so what is shown is what the next render uses. Escape ends
// the loop before anything else of the pass runs.
PassResult RunPass(const KeysDown& down, const Actions& actions);

// A parameter step done in double precision: the field is widened, the step
// added, and the sum rounded back to single precision.
float Step(float value, double step);

}  // namespace quibbet
