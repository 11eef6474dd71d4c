// Plays the last render once on the default audio output.
#pragma once

#include <string>

#include "engine/renderer.hpp"

namespace quibbet {

// Hands the buffer's PCM to the default output and returns at once; the
// device plays it to the end on its own and reads the buffer until
// StopPlayback. When no device can be opened, prints one line
// "no audio output: <reason>" and the program carries on.
void StartPlayback(const SampleBuffer& buffer);

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
