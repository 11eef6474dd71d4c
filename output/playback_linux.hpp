// The two ways Linux playback reaches a speaker; playback_linux.cpp picks one.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace quibbet {

// An open output stream, kept for the whole run. Play and Silence are called
// from one thread, and follow the contract of DevicePlay and DeviceSilence.
class LinuxOutput {
 public:
  virtual ~LinuxOutput() = default;
  // Empty, or why the stream cannot play (it is then broken for good).
  virtual std::string Play(std::span<const std::uint8_t> pcm) = 0;
  virtual void Silence() = 0;
};

// Called on a thread that feeds the sound: raises its priority where the
// system allows it (as root, or with a nice limit that permits it), and
// otherwise leaves it as it is.
void RaiseFeedingThreadPriority();

// A playback stream on the PulseAudio (or PipeWire) server the environment
// names, never a server started for us. Null, with `reason` set, when there
// is none.
std::unique_ptr<LinuxOutput> OpenPulseOutput(std::string& reason);

// ALSA's "default" device, for machines without a sound server. Null, with
// `reason` set, when it cannot be opened at the sound's format.
std::unique_ptr<LinuxOutput> OpenAlsaOutput(std::string& reason);

}  // namespace quibbet
