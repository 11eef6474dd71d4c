// Playback through the waveform-audio output (winmm's waveOut), where WASAPI
// cannot be opened: the default device (WAVE_MAPPER), opened at the first
// start and kept for the whole run.
//
// A small ring of buffers of our own is queued on the device; each time the
// device has played one it signals an event, and a thread of ours refills it
// with the next bytes of the sound. A stop resets the device, which drops
// every queued buffer; a start queues the whole ring from the sound's first
// frame. The ring holds copies, so nothing reads the sound once a stop has
// returned. A lock makes the thread, starts and stops take turns.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "audio/output.hpp"
#include "audio/playback_windows.hpp"
#include "engine/renderer.hpp"

namespace quibbet {

namespace {

// Four buffers of 40 ms: a start queues all of them at once, so their size
// costs no latency, and the device has 120 ms to play while one is refilled.
constexpr int kRingBuffers = 4;
constexpr std::size_t kBufferBytes = std::size_t{1764} * kBytesPerFrame;

// Silence queued after the sound's last frame. A mixer that passes sound on
// only in whole periods of its own keeps back a last part period until more
// comes (wine's winmm, with 5 ms periods, was heard to drop the sound's last
// 74 frames at the next reset); 20 ms of silence carries the end through.
constexpr std::size_t kTailBytes = std::size_t{882} * kBytesPerFrame;
static_assert(kTailBytes <= kBufferBytes);

// waveOutGetErrorText's wording comes from the installed language (and from
// wine, from wine's own table), so the usual cases get fixed texts.
std::string Reason(MMRESULT result) {
  switch (result) {
    case MMSYSERR_BADDEVICEID:
    case MMSYSERR_NODRIVER:
      return "no output device";
    case MMSYSERR_ALLOCATED:
      return "the output device is in use";
    case MMSYSERR_NOMEM:
      return "out of memory";
    case WAVERR_BADFORMAT:
      return "the output device cannot play 44.1 kHz 16-bit stereo";
    default:
      break;
  }
  char text[MAXERRORLENGTH] = {};
  if (waveOutGetErrorTextA(result, text, sizeof text) != MMSYSERR_NOERROR || text[0] == '\0') {
    return "waveOut error " + std::to_string(result);
  }
  std::string reason(text);
  while (!reason.empty() && (reason.back() == '.' || reason.back() == '\r' ||
                             reason.back() == '\n' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason;
}

class WaveOutOutput final : public Output {
 public:
  ~WaveOutOutput() override {
    StopFeeder(feeder_, mutex_, quit_, [this] { SetEvent(event_); });
    if (device_ != nullptr) {
      // Reset, then unprepare, then close: unpreparing a buffer the device
      // still plays is refused (WAVERR_STILLPLAYING).
      waveOutReset(device_);
      for (WAVEHDR& header : headers_)
        if (header.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device_, &header, sizeof header);
      waveOutClose(device_);
    }
    if (event_ != nullptr) CloseHandle(event_);
  }

  // Opens the device; empty, or why not.
  std::string Open() {
    event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event_ == nullptr) return "cannot create an event";
    WAVEFORMATEX format = PcmFormat();
    MMRESULT result = waveOutOpen(&device_, WAVE_MAPPER, &format,
                                  reinterpret_cast<DWORD_PTR>(event_), 0, CALLBACK_EVENT);
    if (result != MMSYSERR_NOERROR) {
      device_ = nullptr;
      return Reason(result);
    }
    for (int i = 0; i < kRingBuffers; ++i) {
      headers_[i] = WAVEHDR{};
      headers_[i].lpData = reinterpret_cast<LPSTR>(storage_[i].data());
      headers_[i].dwBufferLength = kBufferBytes;
      result = waveOutPrepareHeader(device_, &headers_[i], sizeof headers_[i]);
      if (result != MMSYSERR_NOERROR) return Reason(result);
    }
    feeder_ = std::thread([this] { Feed(); });
    return "";
  }

  std::string Play(std::span<const std::uint8_t> pcm, std::size_t ready) override {
    std::lock_guard lock(mutex_);
    if (broken_ != MMSYSERR_NOERROR) return Reason(broken_);
    waveOutReset(device_);
    cursor_.Start(pcm, ready);
    tail_queued_ = false;
    if (const MMRESULT result = FillLocked(); result != MMSYSERR_NOERROR) {
      cursor_.playing = false;
      broken_ = result;
      return Reason(result);
    }
    return "";
  }

  // The newly rendered bytes go into whatever buffers of the ring are free
  // now; the rest as the device hands buffers back.
  void Ready(std::size_t ready) override {
    std::lock_guard lock(mutex_);
    cursor_.Rendered(ready);
    if (!cursor_.playing) return;
    if (const MMRESULT result = FillLocked(); result != MMSYSERR_NOERROR) {
      cursor_.playing = false;
      broken_ = result;
    }
  }

  bool Silence() override {
    std::lock_guard lock(mutex_);
    // With the lock held the thread is not copying, and with playing false
    // it will not queue more. The reset drops every queued buffer.
    if (!cursor_.playing && !Queued()) return true;
    cursor_.playing = false;
    waveOutReset(device_);
    return true;
  }

 private:
  bool Queued() const {
    for (const WAVEHDR& header : headers_)
      if (header.dwFlags & WHDR_INQUEUE) return true;
    return false;
  }

  // With the lock held: queues the next bytes of the sound in every buffer
  // the device is done with, in order.
  MMRESULT FillLocked() {
    for (int i = 0; i < kRingBuffers; ++i) {
      WAVEHDR& header = headers_[next_];
      if (header.dwFlags & WHDR_INQUEUE) break;
      std::size_t n = cursor_.Take(storage_[next_].data(), kBufferBytes);
      if (n == 0) {
        if (!cursor_.Finished() || tail_queued_) break;
        std::fill_n(storage_[next_].data(), kTailBytes, std::uint8_t{0});
        n = kTailBytes;
        tail_queued_ = true;
      }
      header.dwBufferLength = static_cast<DWORD>(n);
      if (const MMRESULT result = waveOutWrite(device_, &header, sizeof header);
          result != MMSYSERR_NOERROR)
        return result;
      next_ = (next_ + 1) % kRingBuffers;
    }
    return MMSYSERR_NOERROR;
  }

  // The feeding thread.
  void Feed() {
    RaiseFeedingThreadPriority();
    for (;;) {
      WaitForSingleObject(event_, INFINITE);
      std::lock_guard lock(mutex_);
      if (quit_) break;
      if (!cursor_.playing) continue;
      if (const MMRESULT result = FillLocked(); result != MMSYSERR_NOERROR) {
        // The device went away; the next start finds out and opens another.
        cursor_.playing = false;
        broken_ = result;
      }
    }
  }

  HWAVEOUT device_ = nullptr;
  HANDLE event_ = nullptr;  // set by the device whenever a buffer is done
  std::thread feeder_;

  std::mutex mutex_;  // guards everything below
  std::array<std::array<std::uint8_t, kBufferBytes>, kRingBuffers> storage_{};
  std::array<WAVEHDR, kRingBuffers> headers_{};
  int next_ = 0;              // the buffer to queue next
  bool tail_queued_ = false;  // the silence after the sound
  PlayCursor cursor_;
  MMRESULT broken_ = MMSYSERR_NOERROR;  // why the device can no longer play
  bool quit_ = false;
};

}  // namespace

std::unique_ptr<Output> OpenWaveOutOutput(std::string& reason, OpenContext&) {
  return Opened<WaveOutOutput>(reason);
}

}  // namespace quibbet
