// Linux's sound backends, in the order they are tried: the sound server
// (PulseAudio, or PipeWire's pulse server) where one runs, ALSA's default
// device where none does. null only when QUIBBET_AUDIO names it.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <functional>
#include <span>
#include <thread>

#include "audio/output.hpp"

namespace quibbet {

namespace {

constexpr Backend kBackends[] = {
    {"pulse", "sound server", OpenPulseOutput, true},
    {"alsa", "ALSA device", OpenAlsaOutput, true},
    {"null", "null output", OpenNullOutput, false},
};

// The sound server's own default for its threads. Ahead of ordinary
// programs, so that a busy machine (a build on every core) cannot keep the
// thread from its next period long enough for the sound to break up.
constexpr int kFeedingThreadNice = -11;

}  // namespace

std::span<const Backend> Backends() { return kBackends; }

// The signals meant for the program end the main loop's wait, so they are
// blocked on the sound's threads before those start, and on the threads the
// libraries start from them, which inherit the mask.
std::thread StartAudioThread(std::function<void()> body) {
  sigset_t async_signals, before;
  sigemptyset(&async_signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGTSTP, SIGCONT, SIGWINCH}) {
    sigaddset(&async_signals, signal);
  }
  ::pthread_sigmask(SIG_BLOCK, &async_signals, &before);
  std::thread thread(std::move(body));
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return thread;
}

void RaiseFeedingThreadPriority() {
  // Linux sets the nice value of one thread when given its id.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kFeedingThreadNice);
}

}  // namespace quibbet
