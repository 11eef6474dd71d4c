// Playback through SDL2, which picks PipeWire, PulseAudio or bare ALSA at run
// time. This is the program's only contact with the audio stack.
//
// The render is handed over as a one-shot queue (SDL_QueueAudio of all
// kPcmBytes, then unpause) rather than a callback that reads sample_buffer:
// SDL copies the bytes before SDL_QueueAudio returns, so none of our code runs
// on the audio thread, there is no shared play position to guard, and nothing
// can read sample_buffer after StartPlayback, let alone after StopPlayback.
// The copy of 1.2 MB is cheap next to opening the device (about 3 ms).
#define SDL_MAIN_HANDLED
#include "output/playback.hpp"

#include <SDL.h>
#include <alsa/asoundlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/renderer.hpp"

namespace quibbet {

namespace {

// Frames per device period, SDL's own choice for 44.1 kHz (about 46 ms).
// SDL makes one period the sound server's target latency. Half of it let the
// feeding thread underrun on a busy two-core machine, which is heard as a
// click and shifts the rest of the sound; a period also bounds how long
// a stop takes to be heard.
constexpr Uint16 kDeviceFrames = 2048;

SDL_AudioDeviceID device = 0;  // 0 while no device is open

// libasound prints "ALSA lib ..." lines on stderr whenever a PCM cannot be
// opened, e.g. "default" with no sound server and no card; they would land
// in the middle of the screen. SDL reports the failure itself.
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

void IgnoreSdlLog(void*, int, SDL_LogPriority, const char*) {}

void CloseDevice() {
  if (device == 0) return;
  SDL_CloseAudioDevice(device);
  device = 0;
}

void QuitAudio() {
  CloseDevice();
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

// True when SDL's audio subsystem is up. Tried again at every start until it
// succeeds, so a failed start costs nothing but a retry.
bool InitAudio() {
  if (SDL_WasInit(SDL_INIT_AUDIO) != 0) return true;
  static bool quiet = false;
  if (!quiet) {
    snd_lib_error_set_handler(&IgnoreAlsaError);
    SDL_LogSetOutputFunction(&IgnoreSdlLog, nullptr);
    // Ctrl-C and SIGTERM belong to the console front end.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Quibbet");
    quiet = true;
  }
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  static bool quit_registered = false;
  if (!quit_registered) quit_registered = std::atexit(&QuitAudio) == 0;
  return true;
}

std::string failure;  // empty while the last start could play

// One line, whatever SDL's message holds.
void ReportNoOutput() {
  const char* reason = SDL_GetError();
  if (reason[0] == '\0') reason = "unknown reason";
  failure.assign(reason, std::strcspn(reason, "\r\n"));
  std::printf("no audio output: %s\n", failure.c_str());
  std::fflush(stdout);
}

}  // namespace

// Sanitizer builds: libpulse keeps a few small blocks to the end of the
// process that it never frees. The suppression is scoped to allocations made
// inside libpulse, so a leak in our own code still fails the build's tests.
#if defined(__SANITIZE_ADDRESS__)
#define QUIBBET_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUIBBET_LEAK_CHECKED 1
#endif
#endif
#ifdef QUIBBET_LEAK_CHECKED
extern "C" const char* __lsan_default_suppressions() { return "leak:libpulse.so\n"; }
// The list of suppressions used would be printed over the screen at exit.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

const std::string& PlaybackFailure() { return failure; }

void StartPlayback() {
  failure.clear();
  CloseDevice();  // callers stop first; be safe if not
  if (!InitAudio()) {
    ReportNoOutput();
    return;
  }
  SDL_AudioSpec want{};
  want.freq = kFramesPerSecond;
  want.format = AUDIO_S16LSB;
  want.channels = kChannels;
  want.samples = kDeviceFrames;
  // No allowed changes: if the device runs at another rate or format, SDL
  // converts, so what is heard is always 44.1 kHz 16-bit stereo.
  device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
  if (device == 0) {
    ReportNoOutput();
    return;
  }
  const auto pcm = sample_buffer.Pcm();
  if (SDL_QueueAudio(device, pcm.data(), static_cast<Uint32>(pcm.size())) != 0) {
    ReportNoOutput();
    CloseDevice();
    return;
  }
  SDL_PauseAudioDevice(device, 0);
}

void StopPlayback() {
  // Closing drops what the sound server still holds of the sound, so it is
  // heard to end within about 30 ms. Pausing and keeping the device open
  // would return at once but lets the server play out its buffer first,
  // up to 80 ms, measured. The price of closing is that it waits for SDL's
  // audio thread to finish its period, about 100 ms.
  CloseDevice();
}

}  // namespace quibbet
