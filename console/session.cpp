// The interactive session: the sound played at once, the status screen, and
// the loop of passes over the keys until Escape.
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "audio/playback.hpp"
#include "console/key_event.hpp"
#include "console/key_table.hpp"
#include "console/program_state.hpp"
#include "console/screen.hpp"
#include "console/session.hpp"
#include "console/terminal.hpp"
#include "engine/fast_renderer.hpp"
#include "engine/renderer.hpp"
#include "files/param_dump.hpp"
#include "files/wav_writer.hpp"

namespace quibbet {
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

long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Renders the patch and plays it. The sound starts as soon as its first
// piece is rendered, and the output reads each further piece as it is done.
// The rest takes milliseconds, so it is rendered right away: this returns
// with the sound complete, for F7 to save.
void PlaySound() {
  editor.Played(NowMs());
  BeginSound();
  StartPlayback(sample_buffer, SoundBytesReady());
  while (RenderMore()) PlaybackReady(SoundBytesReady());
}

// The device reads the buffer until it is stopped.
void Replay() {
  StopPlayback();
  PlaySound();
}

// Does what one pass asks, in its order; false when the program is to end.
bool Perform(const Pass& pass) {
  for (const Command& command : pass) {
    if (command.kind == Command::Kind::Draw) {
      DrawScreen();
      continue;
    }
    switch (command.action) {
      case Action::Quit:
        return false;
      case Action::Replay:
        Replay();
        break;
      case Action::SaveWave:
        SaveWave("out.wav", sample_buffer);
        break;
      case Action::SaveParam:
        SaveParam("import.txt", patch);
        break;
      case Action::Autoplay:
        editor.SetAutoplay(!editor.autoplay());
        break;
      default:
        editor.Do(command);
        break;
    }
  }
  return true;
}

// Hands what the terminal has to the keyboard; true when Ctrl-Z was pressed.
bool TakeKeys(Terminal& terminal, Keyboard& keyboard, std::vector<KeyEvent>& events) {
  events.clear();
  // With nothing held or queued the loop sleeps in the wait for input
  // instead of polling every 16 ms: an idle program costs no CPU. A hold
  // without releases ends by time, and a pass must see it end.
  const bool idle = keyboard.Idle() && keyboard.Held().none();
  terminal.ReadKeys(events, keyboard.Room(), idle ? -1 : 0);
  bool ctrl_z = false;
  for (const KeyEvent& event : events) {
    if (event.kind == KeyEvent::Kind::Suspend) {
      ctrl_z = true;
    } else {
      keyboard.Feed(event);
    }
  }
  return ctrl_z;
}

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

int RunSession() {
  Terminal terminal;
  KeySet once_per_press;
  for (std::size_t k = 0; k < kKeyCount; ++k)
    once_per_press.set(k, kKeyTable[k].repeat == Repeat::OncePerPress);
  Keyboard keyboard(terminal.DetectKeySource(), once_per_press);
  std::vector<KeyEvent> events;
  events.reserve(Keyboard::kQueueCapacity);

  // The output says why it cannot play by waking the loop, which then shows
  // the line below the screen (ShowPlaybackNews): after the first screen,
  // which would wipe it.
  OnPlaybackNews(Terminal::Wake);
  PlaySound();
  DrawScreen();

  for (;;) {
    const bool ctrl_z = TakeKeys(terminal, keyboard, events);
    const SignalRequests signals = terminal.TakeSignals();
    if (signals.quit_signal != 0) {
      StopPlayback();
      Terminal::DieBy(signals.quit_signal);
    }
    ShowPlaybackNews();
    bool resumed = signals.resumed;
    if (ctrl_z || signals.suspend) {
      terminal.Suspend(ctrl_z ? Terminal::StopScope::ProcessGroup : Terminal::StopScope::Process);
      resumed = true;
    }
    if (resumed) {
      // Keys let go while stopped sent no release to us.
      keyboard.ReleaseAll();
      DrawScreen();
      continue;
    }

    keyboard.BeginPass(NowMs());
    editor.Held(keyboard.Held(), keyboard.Pressed());
    if (!Perform(RunPass(keyboard.Down(), selected_osc))) break;
    // Taps and keys let go end their step now, and autoplay plays them.
    editor.Held(keyboard.Held());
    if (editor.ReplayDue(NowMs())) Replay();
    std::this_thread::sleep_for(std::chrono::milliseconds(kPassPauseMs));
  }

  DrawScreen();
  StopPlayback();
  return 0;
}

}  // namespace quibbet
