// The program's entry: start-up, the loop of passes over the keys, and exit.
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include "audio/playback.hpp"
#include "console/command_line.hpp"
#include "console/key_event.hpp"
#include "console/key_table.hpp"
#include "console/keyboard.hpp"
#include "console/program_state.hpp"
#include "console/screen.hpp"
#include "console/terminal.hpp"
#include "engine/renderer.hpp"
#include "files/param_dump.hpp"
#include "files/wav_writer.hpp"

namespace quibbet {
namespace {

// The sound starts as soon as its first piece is rendered; the output reads
// each further piece as it is done. The rest takes milliseconds, so it is
// rendered right away: the start returns with the sound complete, for F7 to
// save.
void StartSound() {
  StartPlayback(sample_buffer, SoundBytesReady());
  while (RenderMore()) PlaybackReady(SoundBytesReady());
}

const Actions kProgramActions = {
    .draw_screen = DrawScreen,
    .stop_playback = StopPlayback,
    .render_sound = BeginSound,
    .start_playback = StartSound,
    .save_wave = [] { SaveWave("out.wav", sample_buffer); },
    .save_param = [] { SaveParam("import.txt", patch); },
};

// Hands what the terminal has to the keyboard; true when Ctrl-Z was pressed.
bool TakeKeys(Terminal& terminal, Keyboard& keyboard, std::vector<KeyEvent>& events) {
  events.clear();
  // With nothing held or queued the loop sleeps in the wait for input
  // instead of polling every 16 ms: an idle program costs no CPU.
  terminal.ReadKeys(events, keyboard.Room(), keyboard.Idle() ? -1 : 0);
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

KeysDown DownKeys(const Keyboard& keyboard) {
  KeysDown down;
  for (std::size_t k = 0; k < kKeyCount; ++k) down.set(k, keyboard.KeyDown(static_cast<Key>(k)));
  return down;
}

int Run() {
  Terminal terminal;
  Keyboard keyboard(terminal.DetectKeySource());
  std::vector<KeyEvent> events;
  events.reserve(Keyboard::kQueueCapacity);

  OnPlaybackNews(Terminal::Wake);
  BeginSound();
  StartSound();
  DrawScreen();
  // The first screen wipes the start-up lines; a user hearing nothing must
  // still see why.
  if (!PlaybackFailure().empty() && ScreenClears()) {
    std::printf("no audio output: %s\n", PlaybackFailure().c_str());
    std::fflush(stdout);
  }

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

    keyboard.BeginPass();
    if (RunPass(DownKeys(keyboard), kProgramActions) == PassResult::Exit) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPassPauseMs));
  }

  DrawScreen();
  StopPlayback();
  return 0;
}

}  // namespace
}  // namespace quibbet

int main(int argc, char** argv) {
  if (!quibbet::OpenStandardStreams()) return 1;
  if (const std::optional<int> status = quibbet::StartFromCommandLine(argc, argv)) return *status;
  return quibbet::Run();
}
