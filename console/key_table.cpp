#include "console/key_table.hpp"

#include "console/program_state.hpp"

namespace quibbet {
namespace {

// The parameter steps, as double constants (the sums are done in double).
constexpr double kDetuneStep = 0.001;
constexpr double kFmStep = 0.1;
constexpr double kNoiseStep = 0.01;

bool Down(const KeysDown& down, Key key) { return down.test(static_cast<std::size_t>(key)); }

struct OscEdit {
  Key key;
  void (*apply)(Osc& osc);
};

// Rows 10 to 18 of the key table, in their order.
constexpr OscEdit kOscEdits[] = {
    {Key::A, [](Osc& o) { o.type = SAW; }},
    {Key::S, [](Osc& o) { o.type = SIN; }},
    {Key::D, [](Osc& o) { o.type = SQR; }},
    {Key::Q, [](Osc& o) { o.detune = Step(o.detune, -kDetuneStep); }},
    {Key::W, [](Osc& o) { o.detune = Step(o.detune, kDetuneStep); }},
    {Key::E, [](Osc& o) { o.fm = Step(o.fm, -kFmStep); }},
    {Key::R, [](Osc& o) { o.fm = Step(o.fm, kFmStep); }},
    {Key::T, [](Osc& o) { o.noise = Step(o.noise, -kNoiseStep); }},
    {Key::Y, [](Osc& o) { o.noise = Step(o.noise, kNoiseStep); }},
};

// Any 32-bit tone is valid; stepping past either end wraps rather than
// overflowing, which would be undefined behaviour.
std::int32_t StepTone(std::int32_t tone, std::int32_t by) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(tone) +
                                   static_cast<std::uint32_t>(by));
}

}  // namespace

float Step(float value, double step) {
  // The one rounding of an edit: the double sum back to the float field.
  return static_cast<float>(static_cast<double>(value) + step);
}

PassResult RunPass(const KeysDown& down, const Actions& actions) {
  if (Down(down, Key::Escape)) return PassResult::Exit;
  // F5 and Space are one test: both held give one replay, not two.
  if (Down(down, Key::F5) || Down(down, Key::Space)) {
    actions.draw_screen();
    actions.stop_playback();
    actions.render_sound();
    actions.start_playback();
  }
  if (Down(down, Key::F7)) {
    actions.draw_screen();
    actions.save_wave();
  }
  if (Down(down, Key::F8)) {
    actions.draw_screen();
    actions.save_param();
  }
  // The oscillator edits below act on the oscillator selected when the pass
  // began, even if 1 or 2 changes the selection in this same pass.
  Osc& osc = patch.osc[selected_osc == 1 ? 1 : 0];
  bool edited = false;
  // Every edit, like every action, draws the screen before its change.
  const auto before_edit = [&] {
    actions.draw_screen();
    edited = true;
  };
  if (Down(down, Key::O)) {
    before_edit();
    patch.tone = StepTone(patch.tone, -1);
  }
  if (Down(down, Key::P)) {
    before_edit();
    patch.tone = StepTone(patch.tone, +1);
  }
  if (Down(down, Key::One)) {
    before_edit();
    selected_osc = 0;
  }
  if (Down(down, Key::Two)) {
    before_edit();
    selected_osc = 1;
  }
  for (const OscEdit& edit : kOscEdits) {
    if (Down(down, edit.key)) {
      before_edit();
      edit.apply(osc);
    }
  }
  // The screen is the only display: after an edit it must show the values the
  // next render will use, not those from before the last change. A pass that
  // only replays or saves keeps its "Tone" or error line below the screen.
  if (edited) actions.draw_screen();
  return PassResult::Continue;
}

}  // namespace quibbet
