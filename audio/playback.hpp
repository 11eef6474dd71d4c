// Plays the last render once on the default audio output.
#pragma once

#include <cstddef>
#include <string>

#include "engine/renderer.hpp"

namespace quibbet {

// Hands the buffer's PCM to the default output and returns at once; the
// device plays it to the end on its own and reads the buffer until
// StopPlayback. When no device can be opened, prints one line
// "no audio output: <reason>" and the program carries on.
// Only the first `ready` bytes need be rendered yet: the device reads no
// further until PlaybackReady says more are, and the rest of the buffer may
// be written meanwhile.
void StartPlayback(const SampleBuffer& buffer, std::size_t ready = kPcmBytes);

// The first `ready` bytes of the playing buffer's PCM are rendered now.
// Does nothing when nothing plays.
void PlaybackReady(std::size_t ready);

// Silences the sound at once; afterwards nothing reads the buffer.
// Does nothing when no playback is open.
void StopPlayback();

// The reason the last StartPlayback could not play, as in its printed line;
// empty when it could.
const std::string& PlaybackFailure();

// The output may still be opening when StartPlayback returns, and its
// failure comes later, on another thread. That thread calls `wake`, which
// must only make the program's loop call ShowPlaybackNews soon; that prints
// the "no audio output" line then, as StartPlayback would have.
void OnPlaybackNews(void (*wake)());
void ShowPlaybackNews();

}  // namespace quibbet
