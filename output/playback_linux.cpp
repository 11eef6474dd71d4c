// Linux playback: the sound server when there is one, ALSA's default device
// when there is not. The output chosen at the first start is kept open for
// the rest of the run; a start after it broke (say, the server restarted)
// chooses again.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "output/playback_device.hpp"
#include "output/playback_linux.hpp"

namespace quibbet {

namespace {

// The sound server's own default for its threads. Ahead of ordinary
// programs, so that a busy machine (a build on every core) cannot keep the
// thread from its next period long enough for the sound to break up.
constexpr int kFeedingThreadNice = -11;

// Never destroyed: at exit the process simply ends, with the sound already
// silenced by the last stop. Closing a stream means a round trip to the
// server and joining its thread, which would keep a quitting program alive
// for nothing.
LinuxOutput* output = nullptr;

std::string Open() {
  std::string pulse_reason, alsa_reason;
  std::unique_ptr<LinuxOutput> opened = OpenPulseOutput(pulse_reason);
  if (opened == nullptr) opened = OpenAlsaOutput(alsa_reason);
  if (opened == nullptr) return "no sound server (" + pulse_reason + ") and no ALSA device (" + alsa_reason + ")";
  output = opened.release();
  return "";
}

}  // namespace

void RaiseFeedingThreadPriority() {
  // Linux sets the nice value of one thread when given its id.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kFeedingThreadNice);
}

std::string DevicePlay(std::span<const std::uint8_t> pcm) {
  if (output != nullptr) {
    if (output->Play(pcm).empty()) return "";
    delete output;  // broken: choose again
    output = nullptr;
  }
  if (std::string reason = Open(); !reason.empty()) return reason;
  std::string reason = output->Play(pcm);
  if (!reason.empty()) {
    delete output;
    output = nullptr;
  }
  return reason;
}

void DeviceSilence() {
  if (output != nullptr) output->Silence();
}

}  // namespace quibbet
