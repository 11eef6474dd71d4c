// The audio output on Windows: the waveform-audio output (winmm's waveOut),
// the program's only contact with the audio stack there.
//
// The whole render is one buffer, handed to the default device (WAVE_MAPPER)
// and played to its end by the device on its own. The device reads the pcm
// in place, so it owns it from waveOutWrite until a silence has reset the
// device. Every silence also closes it, as Windows programs stop waveOut
// (reset, unprepare, close); opening it again costs a few milliseconds.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <mmsystem.h>

#include <string>

#include "engine/renderer.hpp"
#include "output/playback_device.hpp"

namespace quibbet {

namespace {

HWAVEOUT device = nullptr;  // null while no device is open
WAVEHDR header{};

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

// Reset, then unprepare, then close: unpreparing a header the device still
// plays is refused (WAVERR_STILLPLAYING), and only after the reset has
// returned the buffer is the device done with the pcm.
void CloseDevice() {
  if (device == nullptr) return;
  waveOutReset(device);
  if (header.dwFlags & WHDR_PREPARED) {
    // The reset marks the buffer done; allow a moment should a driver be
    // slower to let go of it.
    for (int tries = 0; tries < 100; ++tries) {
      if (waveOutUnprepareHeader(device, &header, sizeof header) != WAVERR_STILLPLAYING) break;
      Sleep(1);
    }
  }
  waveOutClose(device);
  device = nullptr;
  header = WAVEHDR{};
}

}  // namespace

std::string DevicePlay(std::span<const std::uint8_t> pcm) {
  CloseDevice();  // callers silence first; be safe if not

  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = kChannels;
  format.nSamplesPerSec = kFramesPerSecond;
  format.nAvgBytesPerSec = kFramesPerSecond * kBytesPerFrame;
  format.nBlockAlign = kBytesPerFrame;
  format.wBitsPerSample = 8 * kBytesPerSample;
  format.cbSize = 0;

  HWAVEOUT opened = nullptr;
  MMRESULT result = waveOutOpen(&opened, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
  if (result != MMSYSERR_NOERROR) return Reason(result);
  device = opened;

  header = WAVEHDR{};
  // waveOut never writes through lpData of an output buffer.
  header.lpData = const_cast<LPSTR>(reinterpret_cast<const char*>(pcm.data()));
  header.dwBufferLength = static_cast<DWORD>(pcm.size());
  result = waveOutPrepareHeader(device, &header, sizeof header);
  if (result == MMSYSERR_NOERROR) result = waveOutWrite(device, &header, sizeof header);
  if (result != MMSYSERR_NOERROR) {
    CloseDevice();
    return Reason(result);
  }
  return {};
}

void DeviceSilence() { CloseDevice(); }

}  // namespace quibbet
