// The program's side of playback: which buffer plays, and the one line that
// tells the user when there is nothing to play it on.
#include "output/playback.hpp"

#include <cstdio>

#include "engine/renderer.hpp"
#include "output/playback_device.hpp"

namespace quibbet {

namespace {

std::string failure;  // empty while the last start could play

}  // namespace

const std::string& PlaybackFailure() { return failure; }

void StartPlayback(const SampleBuffer& buffer) {
  DeviceSilence();  // callers stop first; be safe if not
  failure = DevicePlay(buffer.Pcm());
  if (failure.empty()) return;
  std::printf("no audio output: %s\n", failure.c_str());
  std::fflush(stdout);
}

void StopPlayback() { DeviceSilence(); }

}  // namespace quibbet
