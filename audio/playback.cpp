// The program's side of playback: which output plays, chosen from the
// platform's table of backends and kept open for the run, and the one line
// that tells the user when there is nothing to play on.
//
// The program's loop never calls into an output, and never waits on one for
// longer than kStopLimit. A thread of the device's own makes every call;
// the loop hands it requests and, for a stop, waits for its answer, since
// after a stop the render writes the buffer the output was reading:
//  - Opening is done on a further thread, which the device's thread waits
//    for up to kGiveUp: a sound server that accepted the connection and then
//    hung would otherwise hold the device's thread, and libasound's
//    PulseAudio plugin waits for such a server without any limit. A start
//    while the output opens is kept and plays, from its first byte, once it
//    is open; the loop does not wait for it.
//  - A stop the device's thread has not done within kStopLimit, or one the
//    output could not confirm, gives that stream up: the loop goes on, and
//    the next start opens a new one on a new device thread. The old thread,
//    should it ever come back from the library, destroys its output.
// A thread left inside a library stays there, and the process may end
// under it.
#include "audio/playback.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "audio/output.hpp"
#include "engine/renderer.hpp"

namespace quibbet {

namespace {

// The whole open, every backend tried together. A sound server's own limit
// (1 s) fits inside it with time for the next backend after it.
constexpr auto kGiveUp = std::chrono::milliseconds(1500);

// The longest the loop waits for a stop. A device answers a stop in a few
// milliseconds, even on a busy machine; one that has not after this is held
// up by something that may never answer.
constexpr auto kStopLimit = std::chrono::milliseconds(1500);

// A failure from the device's threads, until the loop shows it. Never
// destroyed: those threads may still run while the process ends.
struct News {
  std::mutex mutex;
  std::string failure;
  void (*wake)() = nullptr;
};
News& news = *new News;

void Report(const std::string& reason) {
  std::printf("no audio output: %s\n", reason.c_str());
  std::fflush(stdout);
}

void Tell(const std::string& reason) {
  void (*wake)() = nullptr;
  {
    const std::lock_guard lock(news.mutex);
    news.failure = reason;
    wake = news.wake;
  }
  if (wake != nullptr) wake();
}

// ---- Which backends: the platform's table, or the one QUIBBET_AUDIO names.

struct Choice {
  std::vector<const Backend*> rows;  // in the order they are tried
  std::string refusal;               // why none is tried: a name not in the table
};

// Never destroyed, as News: an open still under way at exit reads it.
const Choice& Chosen() {
  static const Choice& choice = *[] {
    auto* chosen = new Choice;
    Choice& c = *chosen;
    const char* only = std::getenv("QUIBBET_AUDIO");
    std::string names;
    for (const Backend& row : Backends()) {
      names += std::string(names.empty() ? "" : ", ") + row.name;
      const bool wanted =
          only != nullptr && *only != '\0' ? only == std::string(row.name) : row.tried_by_default;
      if (wanted) c.rows.push_back(&row);
    }
    if (c.rows.empty()) {
      c.refusal = "QUIBBET_AUDIO=" + std::string(only != nullptr ? only : "") +
                  " names no output here; it may be one of " + names;
    }
    return chosen;
  }();
  return choice;
}

std::string Failed(const Backend& row, const std::string& reason) {
  return "no " + std::string(row.what) + " (" + reason + ")";
}

// ---- Opening, on a thread of its own.

// What the opens share, whichever device thread started them. Never
// destroyed, as News.
struct Opening {
  std::mutex mutex;
  bool stuck = false;            // an open given up is still inside a library
  std::string stuck_reason;      // why it was given up
  std::unique_ptr<Output> late;  // opened after all, once given up: the next start takes it
};
Opening& opening = *new Opening;

// One open, run on its own thread; the device's thread waits for it up to
// kGiveUp. Held by both, as either may finish last.
struct Attempt {
  std::mutex mutex;
  std::condition_variable done_signal;
  bool done = false;
  bool given_up = false;
  std::unique_ptr<Output> output;
  std::string reasons;  // each backend that failed, as the line says it
  const Backend* trying = nullptr;
};

void RunAttempt(const std::shared_ptr<Attempt>& attempt) {
  OpenContext context;
  std::unique_ptr<Output> opened;
  for (const Backend* row : Chosen().rows) {
    {
      const std::lock_guard lock(attempt->mutex);
      attempt->trying = row;
    }
    std::string reason;
    opened = row->open(reason, context);
    if (opened != nullptr) break;
    const std::lock_guard lock(attempt->mutex);
    attempt->reasons += (attempt->reasons.empty() ? "" : " and ") + Failed(*row, reason);
  }
  bool given_up = false;
  {
    const std::lock_guard lock(attempt->mutex);
    attempt->done = true;
    given_up = attempt->given_up;
    if (!given_up) attempt->output = std::move(opened);
  }
  attempt->done_signal.notify_one();
  if (!given_up) return;
  // The user was told there is no output; one that opened after all is kept
  // for the next start, which then does not wait.
  const std::lock_guard lock(opening.mutex);
  opening.stuck = false;
  if (opened != nullptr && opening.late == nullptr) opening.late = std::move(opened);
}

// On the device's thread: an open output, or null with `reason` set.
std::unique_ptr<Output> Open(std::string& reason) {
  if (!Chosen().refusal.empty()) {
    reason = Chosen().refusal;
    return nullptr;
  }
  {
    const std::lock_guard lock(opening.mutex);
    if (opening.late != nullptr) return std::move(opening.late);
    // One open left inside a library is enough.
    if (opening.stuck) {
      reason = opening.stuck_reason;
      return nullptr;
    }
  }
  auto attempt = std::make_shared<Attempt>();
  StartAudioThread([attempt] { RunAttempt(attempt); }).detach();

  std::unique_lock lock(attempt->mutex);
  if (attempt->done_signal.wait_for(lock, kGiveUp, [&] { return attempt->done; })) {
    if (attempt->output == nullptr) reason = attempt->reasons;
    return std::move(attempt->output);
  }
  attempt->given_up = true;
  // Every backend has its say: why it failed, that it does not answer, or
  // that the one before it took all the time.
  reason = attempt->reasons;
  bool reached = false;
  for (const Backend* row : Chosen().rows) {
    if (row == attempt->trying) reached = true;
    if (!reached) continue;
    reason += (reason.empty() ? "" : " and ") +
              Failed(*row, row == attempt->trying ? "it does not answer" : "not tried");
  }
  // Marked while the attempt cannot finish, so that its own end, which
  // clears the mark, comes after.
  const std::lock_guard opening_lock(opening.mutex);
  opening.stuck = true;
  opening.stuck_reason = reason;
  return nullptr;
}

// Destroys an output given up where nothing waits for it: its destructor
// may wait for the server that stopped answering.
void Discard(std::unique_ptr<Output> output) {
  if (output == nullptr) return;
  StartAudioThread([gone = output.release()] { delete gone; }).detach();
}

// ---- The device's thread, and what the loop asks of it.

class Device {
 public:
  Device() {
    StartAudioThread([this] { Run(); }).detach();
  }

  void Play(std::span<const std::uint8_t> pcm, std::size_t ready) {
    {
      const std::lock_guard lock(mutex_);
      pcm_ = pcm;
      ready_ = ready;
      ++play_serial_;
    }
    asked_.notify_one();
  }

  void Ready(std::size_t ready) {
    {
      const std::lock_guard lock(mutex_);
      ready_ = ready;
      ready_news_ = true;
    }
    asked_.notify_one();
  }

  // False when the stop was not done in time: this device is given up, and
  // must not be asked anything again.
  bool Silence() {
    std::unique_lock lock(mutex_);
    silenced_serial_ = play_serial_;  // a start not yet begun plays nothing
    if (!handed_) return true;
    const std::uint64_t asked = ++stops_asked_;
    asked_.notify_one();
    if (answered_.wait_for(lock, kStopLimit, [&] { return stops_done_ >= asked; })) return true;
    abandoned_ = true;
    asked_.notify_one();
    return false;
  }

 private:
  void Run() {
    // It passes on each piece of the render as it is done; late, the output
    // would run dry of a sound that is there.
    RaiseFeedingThreadPriority();
    std::unique_ptr<Output> output;
    std::unique_lock lock(mutex_);
    for (;;) {
      asked_.wait(lock, [&] {
        return abandoned_ || stops_done_ != stops_asked_ || play_serial_ > taken_serial_ ||
               (ready_news_ && handed_);
      });
      if (abandoned_) break;
      if (stops_done_ != stops_asked_) {
        const std::uint64_t asked = stops_asked_;
        lock.unlock();
        if (output != nullptr && !output->Silence()) Discard(std::exchange(output, nullptr));
        lock.lock();
        stops_done_ = asked;
        handed_ = false;
        answered_.notify_all();
      } else if (play_serial_ > taken_serial_) {
        taken_serial_ = play_serial_;
        StartPlaying(output, lock);
      } else {
        ready_news_ = false;
        const std::size_t ready = ready_;
        lock.unlock();
        if (output != nullptr) output->Ready(ready);
        lock.lock();
      }
    }
    lock.unlock();
    // Back from whatever held this thread, long after the loop gave up on
    // it: nothing waits for it now.
    output.reset();
    delete this;
  }

  // Locked on entry and return. Opens an output where there is none (a
  // broken one is replaced, once), then plays the newest start, unless a
  // stop or a newer start came meanwhile.
  void StartPlaying(std::unique_ptr<Output>& output, std::unique_lock<std::mutex>& lock) {
    std::string reason;
    for (int tries = 0; tries < 2; ++tries) {
      if (output == nullptr) {
        lock.unlock();
        output = Open(reason);
        lock.lock();
      }
      if (taken_serial_ <= silenced_serial_ || play_serial_ > taken_serial_) return;
      if (output == nullptr) break;
      handed_ = true;
      ready_news_ = false;
      const std::span<const std::uint8_t> pcm = pcm_;
      const std::size_t ready = ready_;
      lock.unlock();
      reason = output->Play(pcm, ready);
      lock.lock();
      if (reason.empty()) return;
      handed_ = false;
      Discard(std::exchange(output, nullptr));  // broken, as when the server restarted
    }
    lock.unlock();
    Tell(reason);
    lock.lock();
  }

  std::mutex mutex_;                  // guards everything below
  std::condition_variable asked_;     // the loop to the device's thread
  std::condition_variable answered_;  // the device's thread to the loop

  std::span<const std::uint8_t> pcm_;  // the last start's sound
  std::size_t ready_ = 0;              // bytes of it rendered
  bool ready_news_ = false;            // ready_ grew since the output was told
  std::uint64_t play_serial_ = 0;      // starts asked for
  std::uint64_t taken_serial_ = 0;     // starts the device's thread has taken up
  std::uint64_t silenced_serial_ = 0;  // starts a stop came after
  std::uint64_t stops_asked_ = 0;
  std::uint64_t stops_done_ = 0;
  bool handed_ = false;     // an output has the sound, and no stop has followed
  bool abandoned_ = false;  // the loop gave up on this device
};

// The loop's device; replaced when a stop gives it up. Never destroyed
// here: its thread destroys it.
Device* device = nullptr;

Device& TheDevice() {
  if (device == nullptr) device = new Device;
  return *device;
}

}  // namespace

void StartPlayback(const SampleBuffer& buffer, std::size_t ready) {
  StopPlayback();  // callers stop first; be safe if not
  TheDevice().Play(buffer.Pcm(), ready);
}

void PlaybackReady(std::size_t ready) {
  if (device != nullptr) device->Ready(ready);
}

void StopPlayback() {
  if (device != nullptr && !device->Silence()) device = nullptr;
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

}  // namespace quibbet
