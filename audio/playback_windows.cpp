// Windows playback: WASAPI, and waveOut where WASAPI cannot be opened. The
// output chosen at the first start is kept open for the rest of the run; a
// start after it broke (the device was unplugged, or the audio service
// restarted) chooses again.
//
// QUIBBET_WINDOWS_AUDIO=wasapi or =waveout in the environment allows only
// that one, so that each can be tested on a machine where both open.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "audio/playback_device.hpp"
#include "audio/playback_windows.hpp"

namespace quibbet {

namespace {

// Never destroyed: at exit the process simply ends, with the sound already
// silenced by the last stop.
WindowsOutput* output = nullptr;

std::string OnlyBackend() {
  char name[16] = {};
  const DWORD n = GetEnvironmentVariableA("QUIBBET_WINDOWS_AUDIO", name, sizeof name);
  return n > 0 && n < sizeof name ? std::string(name, n) : std::string();
}

std::string Open() {
  const std::string only = OnlyBackend();
  std::string wasapi_reason, waveout_reason;
  std::unique_ptr<WindowsOutput> opened;
  if (only != "waveout") opened = OpenWasapiOutput(wasapi_reason);
  if (opened == nullptr && only == "wasapi") return wasapi_reason;
  if (opened == nullptr) opened = OpenWaveOutOutput(waveout_reason);
  if (opened == nullptr && only == "waveout") return waveout_reason;
  if (opened == nullptr) return wasapi_reason + " (WASAPI), " + waveout_reason + " (waveOut)";
  output = opened.release();
  return "";
}

}  // namespace

std::string DevicePlay(std::span<const std::uint8_t> pcm, std::size_t ready) {
  if (output != nullptr) {
    if (output->Play(pcm, ready).empty()) return "";
    delete output;  // broken: choose again
    output = nullptr;
  }
  if (std::string reason = Open(); !reason.empty()) return reason;
  std::string reason = output->Play(pcm, ready);
  if (!reason.empty()) {
    delete output;
    output = nullptr;
  }
  return reason;
}

void DeviceReady(std::size_t ready) {
  if (output != nullptr) output->Ready(ready);
}

void DeviceSilence() {
  if (output != nullptr) output->Silence();
}

}  // namespace quibbet
