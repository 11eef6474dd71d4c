// Windows' sound backends, in the order they are tried: WASAPI, and waveOut
// where WASAPI cannot be opened. null only when QUIBBET_AUDIO names it.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <objbase.h>

#include <functional>
#include <span>
#include <thread>

#include "audio/output.hpp"

namespace quibbet {

namespace {

constexpr Backend kBackends[] = {
    {"wasapi", "WASAPI output", OpenWasapiOutput, true},
    {"waveout", "waveOut output", OpenWaveOutOutput, true},
    {"null", "null output", OpenNullOutput, false},
};

}  // namespace

std::span<const Backend> Backends() { return kBackends; }

// Windows has no signals to keep off the thread. The audio objects are
// made on one of these threads and used from another, so each is in the
// multithreaded apartment, which also keeps that apartment alive while any
// of them runs.
std::thread StartAudioThread(std::function<void()> body) {
  return std::thread([body = std::move(body)] {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    body();
    if (SUCCEEDED(init)) CoUninitialize();
  });
}

// Ahead of ordinary threads, so that a busy machine cannot starve the stream.
void RaiseFeedingThreadPriority() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

}  // namespace quibbet
