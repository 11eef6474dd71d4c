// The output that plays nowhere. It keeps the sound's real pace on a thread
// of its own, reading the sound as far as it is rendered, so that whatever
// depends on a sound playing (a stop that must silence it, a replay that
// must start it again from its first frame, a render that must stay ahead)
// runs as it would with a device.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "audio/output.hpp"
#include "engine/renderer.hpp"

namespace quibbet {

namespace {

using Clock = std::chrono::steady_clock;

// How often the thread takes the next piece: a device's period.
constexpr auto kPeriod = std::chrono::milliseconds(10);

class NullOutput final : public Output {
 public:
  NullOutput() : thread_(StartAudioThread([this] { Run(); })) {}

  ~NullOutput() override {
    {
      const std::lock_guard lock(mutex_);
      quit_ = true;
    }
    changed_.notify_one();
    thread_.join();
  }

  std::string Play(std::span<const std::uint8_t> pcm, std::size_t ready) override {
    {
      const std::lock_guard lock(mutex_);
      pcm_ = pcm;
      ready_ = std::min(ready, pcm.size());
      position_ = 0;
      playing_ = true;
      next_ = Clock::now();
    }
    changed_.notify_one();
    return "";
  }

  void Ready(std::size_t ready) override {
    {
      const std::lock_guard lock(mutex_);
      ready_ = std::min(ready, pcm_.size());
    }
    changed_.notify_one();
  }

  bool Silence() override {
    const std::lock_guard lock(mutex_);
    playing_ = false;
    return true;
  }

 private:
  // Takes a period's worth of the sound each period, as a device would,
  // waiting for the render where it is not there yet.
  void Run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
      if (!playing_ || position_ >= ready_) {
        changed_.wait(lock);
        next_ = std::max(next_, Clock::now());
        continue;
      }
      if (changed_.wait_until(lock, next_, [&] { return quit_; })) break;
      if (!playing_) continue;
      const std::size_t period_bytes =
          std::size_t{kFramesPerSecond} * kBytesPerFrame * kPeriod / std::chrono::seconds(1);
      const std::size_t n = std::min(period_bytes, ready_ - position_);
      // Read as a device reads it, so that a sound changed under a playing
      // stream shows up in the tools that look for such races.
      played_ ^= pcm_[position_] ^ pcm_[position_ + n - 1];
      position_ += n;
      next_ += kPeriod;
      if (position_ == pcm_.size()) playing_ = false;
    }
  }

  std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  std::span<const std::uint8_t> pcm_;
  std::size_t ready_ = 0;     // bytes of pcm_ rendered
  std::size_t position_ = 0;  // bytes of pcm_ played
  bool playing_ = false;
  bool quit_ = false;
  Clock::time_point next_;  // when the next period is due
  std::uint8_t played_ = 0;
  std::thread thread_;  // last: starts once the rest is set up
};

}  // namespace

std::unique_ptr<Output> OpenNullOutput(std::string&, OpenContext&) {
  return std::make_unique<NullOutput>();
}

}  // namespace quibbet
