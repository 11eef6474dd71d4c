// Linux playback: the sound server when there is one, ALSA's default device
// when there is not. The output chosen at the first start is kept open for
// the rest of the run; a start after it broke (say, the server restarted)
// chooses again.
//
// Opening is done on a thread of its own, never on the caller's: a sound
// server that accepted the connection and then hung would otherwise freeze
// the program, and libasound's PulseAudio plugin waits for such a server
// without any limit. A start while the output opens is kept and plays, from
// its first byte, once it is open. The program stops waiting after
// kGiveUpMs and reports why; a thread still inside a library then stays
// there, and the process may end under it.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "audio/playback_device.hpp"
#include "audio/playback_linux.hpp"

namespace quibbet {

namespace {

// The sound server's own default for its threads. Ahead of ordinary
// programs, so that a busy machine (a build on every core) cannot keep the
// thread from its next period long enough for the sound to break up.
constexpr int kFeedingThreadNice = -11;

// The whole open, the sound server and the ALSA fallback together. The
// server's own limit (1 s) fits inside it with time for ALSA after it.
constexpr auto kGiveUp = std::chrono::milliseconds(1500);

// Shared by the caller's thread and the opening threads. Never destroyed: at
// exit the process simply ends, with the sound already silenced by the last
// stop. Closing a stream means a round trip to the server and joining its
// thread, which would keep a quitting program alive for nothing; and an
// opening thread may still be inside a library then.
struct Shared {
  std::mutex mutex;               // held only for short steps, never for an open
  LinuxOutput* output = nullptr;  // open and playing or ready to
  bool opening = false;           // an open is under way and not given up
  bool stuck = false;             // an open given up is still inside a library
  std::string stuck_reason;       // why that open was given up
  bool play_waiting = false;      // a start came while opening: play `waiting` once open
  std::span<const std::uint8_t> waiting;
  std::size_t ready = 0;  // bytes of the last start's sound that may be read
};
Shared& shared = *new Shared;

// One open, run on its own thread; the opening thread waits for it up to
// kGiveUp. Held by both, as either may finish last.
struct Attempt {
  std::mutex mutex;
  std::condition_variable done_signal;
  bool done = false;
  bool given_up = false;
  std::unique_ptr<LinuxOutput> output;
  std::string pulse_reason, alsa_reason;  // each set once that way failed
};

// Runs on the attempt's thread: the server, then ALSA's default device.
void OpenEither(const std::shared_ptr<Attempt>& attempt) {
  std::string pulse_reason, alsa_reason;
  bool no_answer = false;
  std::unique_ptr<LinuxOutput> opened = OpenPulseOutput(pulse_reason, no_answer);
  if (opened == nullptr) {
    {
      const std::lock_guard lock(attempt->mutex);
      attempt->pulse_reason = pulse_reason;
    }
    // On a machine where ALSA's default device is the server's own plugin,
    // it would only wait for the same server, and without a limit.
    if (no_answer && AlsaDefaultIsPulse()) {
      alsa_reason = "default: it plays through that same server";
    } else {
      opened = OpenAlsaOutput(alsa_reason);
    }
  }
  bool given_up = false;
  {
    const std::lock_guard lock(attempt->mutex);
    attempt->alsa_reason = alsa_reason;
    attempt->done = true;
    given_up = attempt->given_up;
    if (!given_up) attempt->output = std::move(opened);
  }
  attempt->done_signal.notify_one();
  if (!given_up) return;
  // The program told the user there is no output; an output that opened
  // after all is kept for the next start, which will not wait then.
  const std::lock_guard lock(shared.mutex);
  shared.stuck = false;
  if (opened != nullptr && shared.output == nullptr && !shared.opening) {
    shared.output = opened.release();
  }
}

std::string Describe(const std::string& pulse_reason, const std::string& alsa_reason) {
  return "no sound server (" + pulse_reason + ") and no ALSA device (" + alsa_reason + ")";
}

// The opening thread: starts the attempt, waits for it or for the limit,
// and hands the outcome over.
void Open() {
  auto attempt = std::make_shared<Attempt>();
  std::thread([attempt] { OpenEither(attempt); }).detach();

  std::unique_ptr<LinuxOutput> opened;
  std::string reason;
  {
    std::unique_lock lock(attempt->mutex);
    const bool done = attempt->done_signal.wait_for(lock, kGiveUp, [&] { return attempt->done; });
    if (done) {
      opened = std::move(attempt->output);
      if (opened == nullptr) reason = Describe(attempt->pulse_reason, attempt->alsa_reason);
    } else {
      attempt->given_up = true;
      reason = Describe(attempt->pulse_reason.empty() ? "the PulseAudio server does not answer"
                                                      : attempt->pulse_reason,
                        "default: it does not answer");
      // Marked while the attempt cannot finish, so that its own end, which
      // clears the mark, comes after.
      const std::lock_guard shared_lock(shared.mutex);
      shared.stuck = true;
      shared.stuck_reason = reason;
    }
  }

  std::string failure;
  {
    const std::lock_guard lock(shared.mutex);
    shared.opening = false;
    if (opened == nullptr) {
      if (shared.play_waiting) failure = reason;
    } else {
      shared.output = opened.release();
      if (shared.play_waiting) {
        failure = shared.output->Play(shared.waiting, shared.ready);
        if (!failure.empty()) {
          delete shared.output;
          shared.output = nullptr;
        }
      }
    }
    shared.play_waiting = false;
  }
  if (!failure.empty()) DeviceGaveUp(failure);
}

// Threads of the playback take no signal meant for the program: those are
// the main loop's, whose wait they end. Threads started from them (the
// libraries') inherit this.
void StartOpening() {
  sigset_t async_signals, before;
  sigemptyset(&async_signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGTSTP, SIGCONT, SIGWINCH}) {
    sigaddset(&async_signals, signal);
  }
  ::pthread_sigmask(SIG_BLOCK, &async_signals, &before);
  std::thread(Open).detach();
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace

void RaiseFeedingThreadPriority() {
  // Linux sets the nice value of one thread when given its id.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kFeedingThreadNice);
}

std::string DevicePlay(std::span<const std::uint8_t> pcm, std::size_t ready) {
  const std::lock_guard lock(shared.mutex);
  shared.ready = ready;
  if (shared.output != nullptr) {
    if (shared.output->Play(pcm, ready).empty()) return "";
    delete shared.output;  // broken: choose again
    shared.output = nullptr;
  }
  if (shared.stuck) return shared.stuck_reason;  // one open left inside a library is enough
  shared.waiting = pcm;
  shared.play_waiting = true;
  if (!shared.opening) {
    shared.opening = true;
    StartOpening();
  }
  return "";
}

void DeviceReady(std::size_t ready) {
  const std::lock_guard lock(shared.mutex);
  shared.ready = ready;
  // A start that waits for the output takes the count when the output opens.
  if (shared.output != nullptr) shared.output->Ready(ready);
}

void DeviceSilence() {
  const std::lock_guard lock(shared.mutex);
  shared.play_waiting = false;
  if (shared.output != nullptr) shared.output->Silence();
}

}  // namespace quibbet
