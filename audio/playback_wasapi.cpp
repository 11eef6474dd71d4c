// Playback through WASAPI, the audio engine's own client interface, in
// shared mode: one stream on the default device, opened at the first start
// and kept for the whole run.
//
// The engine signals an event each period; a thread of ours waits on it and
// copies the next bytes of the sound into the stream's buffer. A stop stops
// the stream and drops what its buffer still holds (Reset); a start fills the
// whole buffer from the sound's first frame and starts the stream, without
// waiting to be asked. So the buffer's size costs no latency, and it is sized
// for safety. A lock makes the thread, starts and stops take turns; it is
// only held for a copy of a few kilobytes or a call into the engine.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <audioclient.h>
#include <avrt.h>
#include <mmdeviceapi.h>

#include <cstdint>
#include <cstdio>
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

// The stream's buffer, in 100 ns units: 100 ms, as much as waveOut keeps
// queued on the same engine. On a busy two-core machine 40 ms was heard to
// run dry under wine.
constexpr REFERENCE_TIME kBufferDuration = 1'000'000;

// How long the stream keeps running once the sound's last frame has left its
// buffer, before it is stopped so that an idle program gets no more events:
// the engine and whatever lies behind it (under wine, a sound server) still
// hold the end of the sound for a while, and stopping early would cut it.
constexpr ULONGLONG kDrainMs = 500;

// AUDCLNT_E_* and the usual COM failures in fixed words; the system's texts
// depend on the installed language.
std::string Reason(HRESULT result) {
  switch (result) {
    case AUDCLNT_E_DEVICE_INVALIDATED:
      return "the output device was removed";
    case AUDCLNT_E_DEVICE_IN_USE:
      return "the output device is in use";
    case AUDCLNT_E_UNSUPPORTED_FORMAT:
      return "the output device cannot play 44.1 kHz 16-bit stereo";
    case AUDCLNT_E_SERVICE_NOT_RUNNING:
      return "the Windows audio service is not running";
    case E_OUTOFMEMORY:
      return "out of memory";
    case HRESULT_FROM_WIN32(ERROR_NOT_FOUND):
      return "no output device";
    case REGDB_E_CLASSNOTREG:  // what wine answers when no audio driver loads
      return "no audio driver";
    default:
      break;
  }
  char text[32];
  std::snprintf(text, sizeof text, "error 0x%08lx", static_cast<unsigned long>(result));
  return text;
}

template <typename T>
void Release(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

class WasapiOutput final : public Output {
 public:
  ~WasapiOutput() override {
    StopFeeder(feeder_, mutex_, quit_, [this] { SetEvent(event_); });
    if (client_ != nullptr) client_->Stop();
    Release(render_);
    Release(client_);
    Release(device_);
    if (event_ != nullptr) CloseHandle(event_);
    if (com_) CoUninitialize();
  }

  // Opens the stream; empty, or why not.
  std::string Open() {
    // The stream's objects are used from two threads, so they must live in
    // the multithreaded apartment. A thread already in another one keeps it;
    // the audio objects work from either.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    com_ = SUCCEEDED(init);
    if (FAILED(init) && init != RPC_E_CHANGED_MODE) return Reason(init);

    IMMDeviceEnumerator* devices = nullptr;
    HRESULT hr =
        CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                         __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&devices));
    if (FAILED(hr)) return Reason(hr);
    hr = devices->GetDefaultAudioEndpoint(eRender, eConsole, &device_);
    devices->Release();
    if (FAILED(hr)) return Reason(hr);
    hr = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                           reinterpret_cast<void**>(&client_));
    if (FAILED(hr)) return Reason(hr);
    if (hr = Initialize(); FAILED(hr)) return Reason(hr);

    event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event_ == nullptr) return "cannot create an event";
    if (hr = client_->SetEventHandle(event_); FAILED(hr)) return Reason(hr);
    if (hr = client_->GetBufferSize(&buffer_frames_); FAILED(hr)) return Reason(hr);
    hr = client_->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&render_));
    if (FAILED(hr)) return Reason(hr);
    feeder_ = std::thread([this] { Feed(); });
    return "";
  }

  std::string Play(std::span<const std::uint8_t> pcm, std::size_t ready) override {
    std::lock_guard lock(mutex_);
    if (broken_ != S_OK) return Reason(broken_);
    StopLocked();
    cursor_.Start(pcm, ready);
    HRESULT hr = FillLocked();
    if (SUCCEEDED(hr)) hr = client_->Start();
    if (FAILED(hr)) {
      cursor_.playing = false;
      broken_ = hr;
      return Reason(hr);
    }
    running_ = true;
    drained_since_ = 0;
    return "";
  }

  // The newly rendered bytes go into the stream's buffer now, as far as it
  // has room, rather than at the engine's next event.
  void Ready(std::size_t ready) override {
    std::lock_guard lock(mutex_);
    cursor_.Rendered(ready);
    if (!running_ || !cursor_.playing) return;
    if (const HRESULT hr = FillLocked(); FAILED(hr)) {
      cursor_.playing = false;  // the next start finds out, as in Feed
      broken_ = hr;
      running_ = false;
    }
  }

  bool Silence() override {
    std::lock_guard lock(mutex_);
    // With the lock held the thread is not copying, and with playing false
    // it will not touch the sound again. Reset drops what the stream's
    // buffer still holds, so the sound ends within one of the engine's
    // periods.
    cursor_.playing = false;
    StopLocked();
    return true;
  }

 private:
  // The engine's smallest period where IAudioClient3 offers one below its
  // default (it does only when the sound's format is the engine's own), and
  // otherwise the classic stream, which converts the format as it mixes.
  HRESULT Initialize() {
    const WAVEFORMATEX format = PcmFormat();
    IAudioClient3* client3 = nullptr;
    if (SUCCEEDED(
            client_->QueryInterface(__uuidof(IAudioClient3), reinterpret_cast<void**>(&client3)))) {
      UINT32 default_frames = 0, fundamental_frames = 0, min_frames = 0, max_frames = 0;
      HRESULT hr = client3->GetSharedModeEnginePeriod(&format, &default_frames, &fundamental_frames,
                                                      &min_frames, &max_frames);
      if (SUCCEEDED(hr) && min_frames > 0 && min_frames < default_frames)
        hr = client3->InitializeSharedAudioStream(AUDCLNT_STREAMFLAGS_EVENTCALLBACK, min_frames,
                                                  &format, nullptr);
      else
        hr = E_FAIL;
      client3->Release();
      if (SUCCEEDED(hr)) return hr;
    }
    // AUTOCONVERTPCM: the engine's mix format is rarely 44.1 kHz 16-bit,
    // and without it such a stream is refused. Its conversion leaves the
    // bytes as they are where the formats match.
    HRESULT hr =
        client_->Initialize(AUDCLNT_SHAREMODE_SHARED,
                            AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                                AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY,
                            kBufferDuration, 0, &format, nullptr);
    // Older systems know no conversion flags; they take the format as it is
    // or not at all.
    if (hr == E_INVALIDARG)
      hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
                               kBufferDuration, 0, &format, nullptr);
    return hr;
  }

  // With the lock held: a stopped stream with an empty buffer.
  void StopLocked() {
    if (!running_) return;
    running_ = false;
    HRESULT hr = client_->Stop();
    if (SUCCEEDED(hr)) hr = client_->Reset();
    if (FAILED(hr)) broken_ = hr;
  }

  // With the lock held: fills the stream's buffer with as much of the
  // sound as it has room for.
  HRESULT FillLocked() {
    UINT32 padding = 0;
    HRESULT hr = client_->GetCurrentPadding(&padding);
    if (FAILED(hr)) return hr;
    const std::size_t room = std::size_t{buffer_frames_ - padding} * kBytesPerFrame;
    const std::size_t bytes = std::min(room, cursor_.ready - cursor_.position);
    if (!cursor_.playing || bytes == 0) return S_OK;
    const UINT32 frames = static_cast<UINT32>(bytes / kBytesPerFrame);
    BYTE* data = nullptr;
    if (hr = render_->GetBuffer(frames, &data); FAILED(hr)) return hr;
    cursor_.Take(data, bytes);
    return render_->ReleaseBuffer(frames, 0);
  }

  // The feeding thread.
  void Feed() {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // Ahead of ordinary threads, so that a busy machine cannot starve the
    // stream; then the multimedia class scheduler's own class for audio,
    // which takes over where it runs (wine has none).
    RaiseFeedingThreadPriority();
    DWORD task_index = 0;
    HANDLE task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &task_index);
    for (;;) {
      WaitForSingleObject(event_, INFINITE);
      std::lock_guard lock(mutex_);
      if (quit_) break;
      if (!running_) continue;
      if (const HRESULT hr = FillLocked(); FAILED(hr)) {
        // Most likely the device went away; the next start finds out and
        // opens another.
        cursor_.playing = false;
        broken_ = hr;
        running_ = false;
        continue;
      }
      if (cursor_.Finished()) StopWhenDrained();
    }
    if (task != nullptr) AvRevertMmThreadCharacteristics(task);
    if (SUCCEEDED(init)) CoUninitialize();
  }

  // With the lock held, after the whole sound was handed over.
  void StopWhenDrained() {
    UINT32 padding = 0;
    if (FAILED(client_->GetCurrentPadding(&padding)) || padding > 0) return;
    const ULONGLONG now = GetTickCount64();
    if (drained_since_ == 0) drained_since_ = now;
    if (now - drained_since_ >= kDrainMs) StopLocked();
  }

  IMMDevice* device_ = nullptr;
  IAudioClient* client_ = nullptr;
  IAudioRenderClient* render_ = nullptr;
  HANDLE event_ = nullptr;
  UINT32 buffer_frames_ = 0;
  bool com_ = false;
  std::thread feeder_;

  std::mutex mutex_;  // guards everything below
  PlayCursor cursor_;
  bool running_ = false;         // the stream is started
  HRESULT broken_ = S_OK;        // why the stream can no longer play
  ULONGLONG drained_since_ = 0;  // when the buffer was first found empty after the end
  bool quit_ = false;
};

}  // namespace

std::unique_ptr<Output> OpenWasapiOutput(std::string& reason, OpenContext&) {
  return Opened<WasapiOutput>(reason);
}

}  // namespace quibbet
