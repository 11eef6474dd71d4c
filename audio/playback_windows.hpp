// What the two Windows backends share (WASAPI in playback_wasapi.cpp,
// waveOut in playback_waveout.cpp): both keep their stream open for the
// whole run and are fed from a thread of their own.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "engine/renderer.hpp"

namespace quibbet {

// The sound's format, as both APIs take it.
inline WAVEFORMATEX PcmFormat() {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = kChannels;
  format.nSamplesPerSec = kFramesPerSecond;
  format.nAvgBytesPerSec = kFramesPerSecond * kBytesPerFrame;
  format.nBlockAlign = kBytesPerFrame;
  format.wBitsPerSample = 8 * kBytesPerSample;
  return format;
}

// Where the feeding thread is in the sound. Guarded by its output's lock,
// which also hands the rendered bytes over from the rendering thread. The
// device never reads past `ready`, the part of the sound rendered so far.
struct PlayCursor {
  std::span<const std::uint8_t> pcm;
  std::size_t position = 0;  // bytes handed to the device
  std::size_t ready = 0;     // bytes of pcm that may be handed over
  bool playing = false;

  void Start(std::span<const std::uint8_t> sound, std::size_t rendered) {
    pcm = sound;
    position = 0;
    ready = std::min(rendered, sound.size());
    playing = true;
  }
  void Rendered(std::size_t rendered) { ready = std::min(rendered, pcm.size()); }
  // Copies up to `bytes` of the sound to `to`; how many it copied.
  std::size_t Take(std::uint8_t* to, std::size_t bytes) {
    if (!playing) return 0;
    const std::size_t n = std::min(bytes, ready - position);
    std::memcpy(to, pcm.data() + position, n);
    position += n;
    return n;
  }
  bool Finished() const { return !playing || position == pcm.size(); }
};

// Ends an output's feeding thread, which leaves its loop once `quit` is set
// under `mutex` and it is woken by `wake` (a SetEvent on what it waits for).
template <typename Wake>
void StopFeeder(std::thread& feeder, std::mutex& mutex, bool& quit, Wake wake) {
  if (!feeder.joinable()) return;
  {
    std::lock_guard lock(mutex);
    quit = true;
  }
  wake();
  feeder.join();
}

}  // namespace quibbet
