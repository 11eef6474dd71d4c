// The two ways Linux playback reaches a speaker; playback_linux.cpp picks one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace quibbet {

// An open output stream, kept for the whole run. Play and Silence are never
// called at once (one lock orders them, whichever thread calls), and follow
// the contract of DevicePlay, DeviceReady and DeviceSilence.
class LinuxOutput {
 public:
  virtual ~LinuxOutput() = default;
  // Empty, or why the stream cannot play (it is then broken for good).
  virtual std::string Play(std::span<const std::uint8_t> pcm, std::size_t ready) = 0;
  // Called under the same lock, after a Play that succeeded.
  virtual void Ready(std::size_t ready) = 0;
  virtual void Silence() = 0;
};

// Called on a thread that feeds the sound: raises its priority where the
// system allows it (as root, or with a nice limit that permits it), and
// otherwise leaves it as it is.
void RaiseFeedingThreadPriority();

// A playback stream on the PulseAudio (or PipeWire) server the environment
// names, never a server started for us. Null, with `reason` set, when there
// is none; `no_answer` tells a server that took the connection and then
// did not answer within a second.
std::unique_ptr<LinuxOutput> OpenPulseOutput(std::string& reason, bool& no_answer);

// ALSA's "default" device is the PulseAudio plugin, as the distributions set
// it up where a sound server runs. Reading ALSA's configuration may run its
// hooks, which may ask the server too, so this is no quicker than it.
bool AlsaDefaultIsPulse();

// ALSA's "default" device, for machines without a sound server. Null, with
// `reason` set, when it cannot be opened at the sound's format.
std::unique_ptr<LinuxOutput> OpenAlsaOutput(std::string& reason);

}  // namespace quibbet
