// The program's side of playback: which buffer plays, and the one line that
// tells the user when there is nothing to play it on.
#include "audio/playback.hpp"

#include <cstdio>
#include <mutex>
#include <utility>

#include "audio/playback_device.hpp"
#include "engine/renderer.hpp"

namespace quibbet {

namespace {

std::string failure;  // empty while the last start could play

// A failure from the device's thread, until the loop shows it. Never
// destroyed: that thread may still run while the process ends.
struct News {
  std::mutex mutex;
  std::string failure;
  void (*wake)() = nullptr;
};
News& news = *new News;

void Report(const std::string& reason) {
  failure = reason;
  if (failure.empty()) return;
  std::printf("no audio output: %s\n", failure.c_str());
  std::fflush(stdout);
}

}  // namespace

const std::string& PlaybackFailure() { return failure; }

void StartPlayback(const SampleBuffer& buffer, std::size_t ready) {
  DeviceSilence();  // callers stop first; be safe if not
  Report(DevicePlay(buffer.Pcm(), ready));
}

void PlaybackReady(std::size_t ready) { DeviceReady(ready); }

void DeviceGaveUp(const std::string& reason) {
  void (*wake)() = nullptr;
  {
    const std::lock_guard lock(news.mutex);
    news.failure = reason;
    wake = news.wake;
  }
  if (wake != nullptr) wake();
}

void OnPlaybackNews(void (*wake)()) {
  const std::lock_guard lock(news.mutex);
  news.wake = wake;
}

void ShowPlaybackNews() {
  std::string reason;
  {
    const std::lock_guard lock(news.mutex);
    reason = std::exchange(news.failure, {});
  }
  if (!reason.empty()) Report(reason);
}

void StopPlayback() { DeviceSilence(); }

}  // namespace quibbet
