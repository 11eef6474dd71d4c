// Playback straight to ALSA's default device, for machines with no sound
// server. The device is opened once and fed by a thread of its own in small
// periods; a stop drops what the device holds.
//
// Only the feeding thread touches the device after it is set up. The
// device's thread (playback.cpp) hands it requests (play from the start,
// silence) through an atomic and an eventfd that wakes its poll, then waits
// on an atomic for the thread's answer: no lock is ever shared. The sound is played as it is
// rendered: an atomic count says how much of it is, and the same eventfd
// wakes the thread when that grows.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <thread>

#include "audio/output.hpp"
#include "engine/renderer.hpp"

namespace quibbet {

namespace {

// 256-frame periods, sixteen to the buffer: 93 ms in the device. Shorter
// periods made a stop quicker but ran dry under load. The buffer's length
// costs no latency, since a start fills it at once from what is rendered
// and a stop drops it. With four periods (23 ms) a busy machine (a load
// of 6 to 9 on two cores) starved the device about nine times in every
// 15 s of sound; with sixteen, once in 75 s.
constexpr snd_pcm_uframes_t kPeriodFrames = 256;
constexpr snd_pcm_uframes_t kBufferFrames = 16 * kPeriodFrames;

// After the sound, a buffer's worth of silence, so that a device which runs
// past the end of what it was given plays silence and not old samples.
constexpr std::array<std::uint8_t, kBufferFrames * kBytesPerFrame> kSilence{};

// libasound prints "ALSA lib ..." lines on stderr whenever a PCM cannot be
// opened, e.g. "default" with no card; they would land in the middle of the
// screen. The failure is reported as the one "no audio output" line instead.
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

std::string Reason(const char* what, int err) {
  return std::string(what) + ": " + snd_strerror(err);
}

enum class Request : std::uint32_t { None, Play, Silence, Quit };

class AlsaOutput final : public Output {
 public:
  ~AlsaOutput() override {
    if (thread_.joinable()) {
      Ask(Request::Quit);
      thread_.join();
    }
    if (wake_fd_ >= 0) ::close(wake_fd_);
    if (pcm_ != nullptr) snd_pcm_close(pcm_);
  }

  std::string Open() {
    snd_lib_error_set_handler(&IgnoreAlsaError);
    // Non-blocking: a device another program holds fails at once instead of
    // waiting for it, and the thread below polls instead of blocking.
    if (const int err = snd_pcm_open(&pcm_, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        err < 0) {
      pcm_ = nullptr;
      return Reason("default", err);
    }
    if (std::string reason = Configure(); !reason.empty()) return reason;
    wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) return std::strerror(errno);
    const int count = snd_pcm_poll_descriptors_count(pcm_);
    if (count <= 0 || count + 1 > static_cast<int>(fds_.size())) return "default: cannot poll it";
    fds_[0] = {wake_fd_, POLLIN, 0};
    device_fds_ = static_cast<unsigned>(snd_pcm_poll_descriptors(pcm_, &fds_[1], count));
    thread_ = std::thread([this] { Run(); });
    return "";
  }

  std::string Play(std::span<const std::uint8_t> pcm, std::size_t ready) override {
    pcm_bytes_ = pcm;
    ready_.store(ready, std::memory_order_relaxed);  // published by the request
    const int err = Ask(Request::Play);
    return err < 0 ? Reason("default", err) : "";
  }

  void Ready(std::size_t ready) override {
    ready_.store(ready, std::memory_order_release);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t put = ::write(wake_fd_, &one, sizeof one);
  }

  bool Silence() override {
    Ask(Request::Silence);
    return true;
  }

 private:
  std::string Configure() {
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    snd_pcm_hw_params_any(pcm_, hw);
    snd_pcm_uframes_t period = kPeriodFrames, buffer = kBufferFrames;
    int err;
    // "default" converts where the card cannot take the sound as it is.
    if ((err = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (err = snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_S16_LE)) < 0 ||
        (err = snd_pcm_hw_params_set_channels(pcm_, hw, kChannels)) < 0 ||
        (err = snd_pcm_hw_params_set_rate(pcm_, hw, kFramesPerSecond, 0)) < 0 ||
        (err = snd_pcm_hw_params_set_period_size_near(pcm_, hw, &period, nullptr)) < 0 ||
        (err = snd_pcm_hw_params_set_buffer_size_near(pcm_, hw, &buffer)) < 0 ||
        (err = snd_pcm_hw_params(pcm_, hw)) < 0)
      return Reason("default at 44.1 kHz 16-bit stereo", err);
    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_sw_params_current(pcm_, sw);
    // The device starts once a start has filled it, and wakes the thread
    // for every free period.
    if ((err = snd_pcm_sw_params_set_start_threshold(pcm_, sw, buffer)) < 0 ||
        (err = snd_pcm_sw_params_set_avail_min(pcm_, sw, period)) < 0 ||
        (err = snd_pcm_sw_params(pcm_, sw)) < 0)
      return Reason("default", err);
    return "";
  }

  // The device's thread: passes a request to the feeding thread and waits for its
  // answer, which is what it returns (0 or a negative ALSA error).
  int Ask(Request request) {
    const std::uint32_t serial = asked_.load(std::memory_order_relaxed) + 1;
    request_.store(request, std::memory_order_relaxed);
    asked_.store(serial, std::memory_order_release);
    const std::uint64_t one = 1;
    if (::write(wake_fd_, &one, sizeof one) != sizeof one) return -errno;
    for (std::uint32_t seen; (seen = answered_.load(std::memory_order_acquire)) != serial;)
      answered_.wait(seen, std::memory_order_acquire);
    return answer_;
  }

  // The feeding thread. Allocates nothing and prints nothing.
  void Run() {
    RaiseFeedingThreadPriority();
    std::uint32_t handled = 0;
    for (;;) {
      // While it waits for the render there is nothing to write, and the
      // device, which has room, would wake it at once.
      const nfds_t watched = playing_ && !starved_ ? 1 + device_fds_ : 1;
      if (::poll(fds_.data(), watched, -1) < 0 && errno != EINTR) continue;
      if (fds_[0].revents & POLLIN) {
        std::uint64_t count;
        [[maybe_unused]] const ssize_t got = ::read(wake_fd_, &count, sizeof count);
        const std::uint32_t serial = asked_.load(std::memory_order_acquire);
        if (serial != handled) {
          handled = serial;
          const Request request = request_.load(std::memory_order_relaxed);
          if (request == Request::Quit) {
            snd_pcm_drop(pcm_);
            Answer(serial, 0);
            return;
          }
          Answer(serial, Handle(request));
          continue;
        }
        // More of the sound is rendered.
        if (playing_) Fill();
        continue;
      }
      if (!playing_) continue;
      unsigned short revents = 0;
      snd_pcm_poll_descriptors_revents(pcm_, &fds_[1], device_fds_, &revents);
      if (revents & (POLLOUT | POLLERR)) Fill();
    }
  }

  void Answer(std::uint32_t serial, int result) {
    answer_ = result;
    answered_.store(serial, std::memory_order_release);
    answered_.notify_all();
  }

  // Both requests begin by dropping whatever the device still holds.
  int Handle(Request request) {
    playing_ = false;
    snd_pcm_drop(pcm_);
    if (request != Request::Play) return 0;
    if (const int err = snd_pcm_prepare(pcm_); err < 0) return err;
    frames_done_ = 0;
    playing_ = true;
    Fill();  // the whole buffer at once; the device starts when it is full
    return 0;
  }

  // Writes as much of the sound as is rendered, then of the silence after
  // it, as the device takes now.
  void Fill() {
    const snd_pcm_uframes_t sound_frames = pcm_bytes_.size() / kBytesPerFrame;
    const snd_pcm_uframes_t ready_frames =
        std::min(ready_.load(std::memory_order_acquire), pcm_bytes_.size()) / kBytesPerFrame;
    const snd_pcm_uframes_t total =
        ready_frames < sound_frames ? ready_frames : sound_frames + kBufferFrames;
    starved_ = false;
    while (frames_done_ < total) {
      const void* from;
      snd_pcm_uframes_t frames;
      if (frames_done_ < sound_frames) {
        from = pcm_bytes_.data() + frames_done_ * kBytesPerFrame;
        frames = std::min(total, sound_frames) - frames_done_;
      } else {
        from = kSilence.data();
        frames = total - frames_done_;
      }
      const snd_pcm_sframes_t n = snd_pcm_writei(pcm_, from, frames);
      if (n == -EAGAIN) return;  // full: poll says when there is room
      if (n < 0) {
        // Ran dry (the machine was too busy) or was suspended: go on from
        // where it broke off, quietly.
        if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) playing_ = false;
        if (!playing_) return;
        continue;
      }
      frames_done_ += static_cast<snd_pcm_uframes_t>(n);
    }
    if (frames_done_ < sound_frames) {
      starved_ = true;  // the rest is not rendered yet: Ready wakes the thread
      return;
    }
    playing_ = false;  // all handed over; the device plays it out on its own
  }

  snd_pcm_t* pcm_ = nullptr;
  int wake_fd_ = -1;
  std::thread thread_;
  std::array<pollfd, 9> fds_{};  // the eventfd, then the device's
  unsigned device_fds_ = 0;

  // The device's thread to the feeding thread: the request numbered asked_. pcm_bytes_
  // is written before asked_ and read after it.
  std::span<const std::uint8_t> pcm_bytes_;
  std::atomic<std::size_t> ready_{0};  // bytes of pcm_bytes_ rendered; stored before the wake
  std::atomic<Request> request_{Request::None};
  std::atomic<std::uint32_t> asked_{0};
  // The feeding thread to the device's thread: the request answered_ is done; answer_
  // is written before it.
  std::atomic<std::uint32_t> answered_{0};
  int answer_ = 0;

  // The feeding thread's own.
  bool playing_ = false;
  bool starved_ = false;  // playing, and all that is rendered is written
  snd_pcm_uframes_t frames_done_ = 0;
};

// ALSA's "default" device is the PulseAudio plugin, as the distributions set
// it up where a sound server runs. Reading ALSA's configuration may run its
// hooks, which may ask the server too, so this is no quicker than it.
bool AlsaDefaultIsPulse() {
  snd_lib_error_set_handler(&IgnoreAlsaError);
  if (snd_config_update() < 0) return false;
  // "default" may name the plugin itself or lead to it through the slaves of
  // converting plugins ("plug", "rate", ...); a few steps cover real setups.
  std::string name = "default";
  for (int step = 0; step < 8; ++step) {
    snd_config_t* pcm = nullptr;
    if (snd_config_search_definition(snd_config, "pcm", name.c_str(), &pcm) < 0) return false;
    const char* type = nullptr;
    const char* slave = nullptr;
    snd_config_t* node = nullptr;
    if (snd_config_search(pcm, "type", &node) >= 0) snd_config_get_string(node, &type);
    const bool pulse = type != nullptr && std::strcmp(type, "pulse") == 0;
    // A slave is a name, or a block with its own "pcm" name; "asym" names
    // its playback side.
    for (const char* key : {"slave.pcm", "slave", "playback.pcm"}) {
      if (pulse || slave != nullptr || snd_config_search(pcm, key, &node) < 0) continue;
      if (snd_config_get_string(node, &slave) < 0) slave = nullptr;
    }
    const std::string next = slave != nullptr ? slave : "";
    snd_config_delete(pcm);
    if (pulse) return true;
    if (next.empty()) return false;
    name = next;
  }
  return false;
}

}  // namespace

std::unique_ptr<Output> OpenAlsaOutput(std::string& reason, OpenContext& context) {
  // Where ALSA's default device is the server's own plugin, it would only
  // wait for the same server that did not answer, and without a limit.
  if (context.server_hung && AlsaDefaultIsPulse()) {
    reason = "default: it plays through that same server";
    return nullptr;
  }
  return Opened<AlsaOutput>(reason);
}

}  // namespace quibbet
