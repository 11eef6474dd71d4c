// Drives playback the way the main loop does, on a script given as arguments,
// so that a test can listen to what reaches a real sound server:
//   render       the whole render of the default patch
//   start        StartPlayback()
//   play         as the program plays a sound: its first piece rendered,
//                StartPlayback with that much, then the rest rendered and
//                handed over piece by piece
//   stop         StopPlayback()
//   <n>ms        sleep n milliseconds
//   save=<path>  write the PCM of the last render to path
//   news         wait (up to 5 s) until an output that was opening has said
//                it gave up, and show that, as the program's loop does
//   wait=<path>  wait (up to 10 s) until path exists
// After each step it prints "@<step> <begin> <end>", CLOCK_MONOTONIC in
// nanoseconds, the clock the test stamps its capture with.
#include <time.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "audio/playback.hpp"
#include "console/program_state.hpp"
#include "console/session.hpp"

namespace {

std::int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

bool Save(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const auto pcm = quibbet::sample_buffer.Pcm();
  const bool ok = std::fwrite(pcm.data(), 1, pcm.size(), f) == pcm.size();
  return std::fclose(f) == 0 && ok;
}

// The loop's wake, as a flag the news step waits for.
std::atomic<bool> woken{false};

void WaitForNews() {
  for (int ms = 0; ms < 5000 && !woken.exchange(false); ++ms) {
    const timespec pause{0, 1000000};
    nanosleep(&pause, nullptr);
  }
  quibbet::ShowPlaybackNews();
}

bool Run(const std::string& step) {
  if (step == "render") {
    quibbet::BeginSound();
    while (quibbet::RenderMore()) {
    }
  } else if (step == "start") {
    quibbet::StartPlayback(quibbet::sample_buffer);
  } else if (step == "play") {
    quibbet::BeginSound();
    quibbet::StartPlayback(quibbet::sample_buffer, quibbet::SoundBytesReady());
    while (quibbet::RenderMore()) quibbet::PlaybackReady(quibbet::SoundBytesReady());
  } else if (step == "stop") {
    quibbet::StopPlayback();
  } else if (step == "news") {
    WaitForNews();
  } else if (step.starts_with("wait=")) {
    for (int ms = 0; ms < 10000 && !std::filesystem::exists(step.substr(5)); ms += 10) {
      const timespec pause{0, 10000000};
      nanosleep(&pause, nullptr);
    }
  } else if (step.starts_with("save=")) {
    return Save(step.substr(5));
  } else if (step.ends_with("ms")) {
    const long ms = std::strtol(step.c_str(), nullptr, 10);
    const timespec pause{ms / 1000, (ms % 1000) * 1000000};
    nanosleep(&pause, nullptr);
  } else {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  quibbet::OnPlaybackNews([] { woken = true; });
  for (int i = 1; i < argc; ++i) {
    const std::int64_t begin = NowNs();
    if (!Run(argv[i])) {
      std::printf("bad step: %s\n", argv[i]);
      return 2;
    }
    const std::int64_t end = NowNs();
    std::printf("@%s %lld %lld\n", argv[i], static_cast<long long>(begin),
                static_cast<long long>(end));
    std::fflush(stdout);
  }
  return 0;
}
