// Playback on a PulseAudio server, or PipeWire's, which speaks the same
// protocol: one stream, opened at the first start and kept for the whole run.
//
// The sound is handed to the server as it is rendered: a start writes what
// is rendered so far, and each Ready the pieces rendered since. libpulse runs
// its own thread (pa_threaded_mainloop) and asks for bytes through the write
// callback, which copies any that are rendered and not yet written. The
// callback runs under the main loop's lock, and so do Play, Ready and
// Silence; the lock is all the synchronisation there is (it also hands the
// rendered bytes over from the rendering thread), and it is only ever held
// for a copy of at most the sound's 1.2 MB.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "audio/output.hpp"
#include "engine/renderer.hpp"

// Sanitizer builds: libpulse keeps a few small blocks to the end of the
// process that it never frees. The suppression is scoped to allocations made
// inside libpulse, so a leak in our own code still fails the build's tests.
#if defined(__SANITIZE_ADDRESS__)
#define QUIBBET_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUIBBET_LEAK_CHECKED 1
#endif
#endif
#ifdef QUIBBET_LEAK_CHECKED
extern "C" const char* __lsan_default_suppressions() { return "leak:libpulse.so\n"; }
// The list of suppressions used would be printed over the screen at exit.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

namespace quibbet {

namespace {

// The server's target buffer. A start flushes and then writes all of it at
// once, and a stop flushes, so its size costs no latency: it is sized for
// safety. 10 and 20 ms let the server run dry on a busy two-core machine
// (heard as a click, and the rest of the sound shifted); 40 ms did not.
constexpr pa_usec_t kTargetBufferUsec = 40'000;

// How long a server that accepted the connection gets to answer. A missing
// server fails at once; this only bounds a hung one.
constexpr pa_usec_t kAnswerTimeoutUsec = 1'000'000;

// A server that has left a stop unanswered this long has hung, and the
// stream is given up. A working one answers within milliseconds.
constexpr pa_usec_t kStopAnswerUsec = 1'500'000;

// A server that has left a stop unanswered this long may be hung: until it
// answers, the stream gets only what the server asked for, not the whole
// sound, so that a hung server cannot make the queue grow by a sound at
// every start.
constexpr pa_usec_t kStalledUsec = 200'000;

// Silence written after the sound's last frame. PipeWire's pulse server
// hands a stream on in whole periods of its graph, and while the stream is
// not draining it plays silence in place of a last part period: the end of
// the sound would stay in its buffer unheard (202 frames, measured). A whole
// period of silence behind it carries it through. PipeWire's periods go up
// to 2048 frames by default, 46 ms at 44.1 kHz; a stop flushes the silence
// with the rest, so its length costs nothing.
constexpr std::size_t kTailBytes = std::size_t{kFramesPerSecond / 20} * kBytesPerFrame;  // 50 ms
constexpr std::array<std::uint8_t, kTailBytes> kTail{};

const pa_sample_spec kSpec = {PA_SAMPLE_S16LE, kFramesPerSecond, kChannels};
static_assert(kBytesPerSample == 2 && kChannels == 2, "the stream's format is s16le stereo");

class PulseOutput final : public Output {
 public:
  ~PulseOutput() override {
    // Stopping the loop joins its thread, so nothing below races a callback.
    if (loop_ != nullptr) pa_threaded_mainloop_stop(loop_);
    if (stream_ != nullptr) pa_stream_unref(stream_);
    if (context_ != nullptr) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (loop_ != nullptr) pa_threaded_mainloop_free(loop_);
  }

  // Connects and opens the stream; empty, or why not.
  std::string Open() {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) return "cannot start PulseAudio's thread";
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Quibbet");
    if (context_ == nullptr) return "cannot create a PulseAudio context";
    pa_context_set_state_callback(context_, &Signal, this);
    // Only a server that is running: starting one for us would take long
    // and leave a daemon behind.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
      return pa_strerror(pa_context_errno(context_));
    if (pa_threaded_mainloop_start(loop_) < 0) return "cannot start PulseAudio's thread";

    pa_threaded_mainloop_lock(loop_);
    std::string reason = WaitUntilReady();
    pa_threaded_mainloop_unlock(loop_);
    return reason;
  }

  std::string Play(std::span<const std::uint8_t> pcm, std::size_t ready) override {
    pa_threaded_mainloop_lock(loop_);
    std::string reason;
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
      reason = pa_strerror(pa_context_errno(context_));
    } else {
      pcm_ = pcm;
      ready_ = ready;
      position_ = 0;
      playing_ = true;
      // All that is rendered now, instead of waiting to be asked: the
      // server starts playing the moment it has a target buffer's worth.
      FeedReady();
    }
    pa_threaded_mainloop_unlock(loop_);
    return reason;
  }

  void Ready(std::size_t ready) override {
    pa_threaded_mainloop_lock(loop_);
    ready_ = ready;
    FeedReady();
    pa_threaded_mainloop_unlock(loop_);
  }

  // The server took the connection but did not answer in time.
  bool timed_out() const { return timed_out_; }

  // False once the server has left a stop unanswered for kStopAnswerUsec.
  bool Silence() override {
    pa_threaded_mainloop_lock(loop_);
    // Holding the lock means the write callback is not running; with
    // playing_ false it will not touch pcm_ again. The flush drops what the
    // server still holds, so the sound ends within one of its chunks.
    playing_ = false;
    const bool answering = Unanswered() < kStopAnswerUsec;
    if (pa_operation* op = pa_stream_flush(stream_, &Flushed, this)) {
      if (unanswered_++ == 0) waiting_since_ = pa_rtclock_now();
      pa_operation_unref(op);
    }
    pa_threaded_mainloop_unlock(loop_);
    return answering;
  }

 private:
  // With the lock held. The context, then the stream.
  std::string WaitUntilReady() {
    pa_time_event* deadline =
        pa_context_rttime_new(context_, pa_rtclock_now() + kAnswerTimeoutUsec, &TimedOut, this);
    std::string reason = WaitForContext();
    if (reason.empty()) reason = ConnectStream();
    if (deadline != nullptr) pa_threaded_mainloop_get_api(loop_)->time_free(deadline);
    return reason;
  }

  // Waits on the loop until the context or stream is ready: "", or why not.
  template <typename Object, typename State>
  std::string AwaitReady(const Object* object, State (*state_of)(const Object*), State ready,
                         int (*good)(State)) {
    for (;;) {
      const State state = state_of(object);
      if (state == ready) return "";
      if (good(state) == 0) return pa_strerror(pa_context_errno(context_));
      if (timed_out_) return "the PulseAudio server does not answer";
      pa_threaded_mainloop_wait(loop_);
    }
  }

  std::string WaitForContext() {
    return AwaitReady(context_, &pa_context_get_state, PA_CONTEXT_READY, &PA_CONTEXT_IS_GOOD);
  }

  std::string ConnectStream() {
    stream_ = pa_stream_new(context_, "Quibbet", &kSpec, nullptr);
    if (stream_ == nullptr) return pa_strerror(pa_context_errno(context_));
    pa_stream_set_state_callback(stream_, &StreamSignal, this);
    pa_stream_set_write_callback(stream_, &OnWrite, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);  // -1: the server's choice
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetBufferUsec, &kSpec));
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    // ADJUST_LATENCY: tlength is the latency of the whole path, and the
    // server sizes its own buffers to match instead of its default 2 s.
    if (pa_stream_connect_playback(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                   nullptr) < 0)
      return pa_strerror(pa_context_errno(context_));
    return AwaitReady(stream_, &pa_stream_get_state, PA_STREAM_READY, &PA_STREAM_IS_GOOD);
  }

  // With the lock held: hands the server everything rendered that it does
  // not have yet. Far more than the target buffer, up to the whole sound
  // (1.2 MB, within the server's 4 MiB limit): a busy machine that keeps
  // this program from running then cannot make the server run dry, and the
  // flush of a stop drops it all the same.
  void FeedReady() { Feed(ready_ - position_); }

  // With the lock held: how long the server has left a stop unanswered; 0
  // when it has answered every one.
  pa_usec_t Unanswered() const { return unanswered_ == 0 ? 0 : pa_rtclock_now() - waiting_since_; }

  // With the lock held: hands the server up to `bytes` more of the sound.
  void Feed(std::size_t bytes) {
    if (!playing_) return;
    std::size_t n = std::min(bytes, ready_ - position_);
    if (Unanswered() >= kStalledUsec) n = std::min(n, pa_stream_writable_size(stream_));
    // No free callback: libpulse copies the bytes before it returns.
    if (n > 0 &&
        pa_stream_write(stream_, pcm_.data() + position_, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
      playing_ = false;
      return;
    }
    position_ += n;
    if (position_ < pcm_.size()) return;
    playing_ = false;
    if (pa_stream_write(stream_, kTail.data(), kTail.size(), nullptr, 0, PA_SEEK_RELATIVE) < 0)
      return;
    // Should the stream have run dry and be waiting to fill up again, the
    // end of the sound would stay in the server; this plays it regardless.
    if (pa_operation* op = pa_stream_trigger(stream_, nullptr, nullptr)) pa_operation_unref(op);
  }

  // Only ever called on libpulse's thread.
  static void OnWrite(pa_stream*, std::size_t bytes, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    if (!out->thread_raised_) {
      RaiseFeedingThreadPriority();
      out->thread_raised_ = true;
    }
    out->Feed(bytes);
  }
  // On libpulse's thread, with the lock held: the server answered a stop.
  static void Flushed(pa_stream*, int, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    --out->unanswered_;
    out->waiting_since_ = pa_rtclock_now();
  }
  static void Signal(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseOutput*>(self)->loop_, 0);
  }
  static void StreamSignal(pa_stream*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseOutput*>(self)->loop_, 0);
  }
  static void TimedOut(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    out->timed_out_ = true;
    pa_threaded_mainloop_signal(out->loop_, 0);
  }

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  bool timed_out_ = false;
  bool thread_raised_ = false;  // libpulse's thread's own

  // Guarded by the main loop's lock.
  std::span<const std::uint8_t> pcm_;
  std::size_t position_ = 0;  // bytes of pcm_ handed to the server
  std::size_t ready_ = 0;     // bytes of pcm_ rendered
  bool playing_ = false;
  int unanswered_ = 0;           // stops the server has not answered yet
  pa_usec_t waiting_since_ = 0;  // since the first of them, or the last answer
};

}  // namespace

std::unique_ptr<Output> OpenPulseOutput(std::string& reason, OpenContext& context) {
  auto out = std::make_unique<PulseOutput>();
  reason = out->Open();
  context.server_hung = out->timed_out();
  if (!reason.empty()) return nullptr;
  return out;
}

}  // namespace quibbet
