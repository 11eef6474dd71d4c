// The seam of the sound device: one interface every backend implements, and
// each platform's table of backends in the order they are tried, as
// engine/simd picks its kernels. playback.cpp drives whichever opens; no
// platform type crosses here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>

namespace quibbet {

// An open output stream, kept for the whole run. Its calls come from one
// thread at a time (the device's thread in playback.cpp), never from the
// program's loop, so a call that hangs inside a library holds no key.
// An output owns a stream and a thread that reads the pcm: neither is
// copied.
class Output {
 public:
  Output() = default;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  virtual ~Output() = default;

  // Plays pcm (44.1 kHz, 16-bit little-endian, stereo) once from its first
  // byte and returns at once; only its first `ready` bytes may be read
  // until Ready allows more. pcm stays unchanged until the next Silence.
  // Empty, or why the stream cannot play: it is then broken for good and
  // another is opened.
  virtual std::string Play(std::span<const std::uint8_t> pcm, std::size_t ready) = 0;

  // The first `ready` bytes of the playing pcm may be read now (it only
  // grows). Should the output catch up with the render, it waits for it.
  virtual void Ready(std::size_t ready) = 0;

  // Silences at once; once it returns nothing reads the pcm. False when the
  // output cannot tell that its stop took effect, because whatever lies
  // behind it (a sound server) has stopped answering: the stream is then
  // given up, and destroyed where no one waits for it.
  virtual bool Silence() = 0;
};

// A new T opened by its Open(): the output, or null with `reason` saying
// why not.
template <typename T>
std::unique_ptr<Output> Opened(std::string& reason) {
  auto out = std::make_unique<T>();
  reason = out->Open();
  if (!reason.empty()) return nullptr;
  return out;
}

// What one open learns for those tried after it.
struct OpenContext {
  // A sound server took the connection and then did not answer.
  bool server_hung = false;
};

struct Backend {
  const char* name;  // as QUIBBET_AUDIO names it
  // What the "no audio output" line calls it when it cannot be opened:
  // "no <what> (<reason>)".
  const char* what;
  // Null, with `reason` set to one line, when it cannot be opened here.
  std::unique_ptr<Output> (*open)(std::string& reason, OpenContext& context);
  // False for a backend only QUIBBET_AUDIO chooses (null plays nowhere).
  bool tried_by_default;
};

// This platform's backends, in the order they are tried.
std::span<const Backend> Backends();

// Starts a thread of the sound side: it takes no signal meant for the
// program's loop, and may use the platform's audio objects from any other
// such thread.
std::thread StartAudioThread(std::function<void()> body);

// Called on a thread that feeds the sound: raises its priority where the
// system allows it, and otherwise leaves it as it is.
void RaiseFeedingThreadPriority();

// The backends, one file each; a platform's table names those it builds.
//  - null: plays nowhere, at the sound's real pace, so that stops, replays
//    and a sound's end behave as with a device (tests, machines without one);
//  - pulse: a PulseAudio server, or PipeWire's, through libpulse;
//  - alsa: ALSA's default device, where no sound server runs;
//  - wasapi: the Windows audio engine, shared mode;
//  - waveout: Windows' waveform-audio output, where WASAPI is not to be had.
std::unique_ptr<Output> OpenNullOutput(std::string& reason, OpenContext& context);
std::unique_ptr<Output> OpenPulseOutput(std::string& reason, OpenContext& context);
std::unique_ptr<Output> OpenAlsaOutput(std::string& reason, OpenContext& context);
std::unique_ptr<Output> OpenWasapiOutput(std::string& reason, OpenContext& context);
std::unique_ptr<Output> OpenWaveOutOutput(std::string& reason, OpenContext& context);

}  // namespace quibbet
