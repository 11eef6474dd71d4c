// Plays the last render once on the default audio output. What the program
// calls; audio/output.hpp is the seam the backends implement.
#pragma once

#include <cstddef>

#include "engine/renderer.hpp"

namespace quibbet {

// Hands the buffer's PCM to the output and returns at once; the output
// opens if it is not open yet (in the background), plays the sound to the
// end on its own and reads the buffer until StopPlayback. Only the first
// `ready` bytes need be rendered yet: the output reads no further until
// PlaybackReady says more are, and the rest of the buffer may be written
// meanwhile.
void StartPlayback(const SampleBuffer& buffer, std::size_t ready = kPcmBytes);

// The first `ready` bytes of the playing buffer's PCM are rendered now.
// Does nothing when nothing plays.
void PlaybackReady(std::size_t ready);

// Silences the sound at once; afterwards nothing reads the buffer. Waits
// for the output at most 1.5 s: one that has not stopped by then is given
// up, and the next start opens another. Does nothing when nothing plays.
void StopPlayback();

// When the output cannot play a start, it says why from one of its own
// threads: it calls `wake` (a call-back, set once), which must only make the
// program's loop call ShowPlaybackNews soon. That prints the one line
// "no audio output: <reason>", and the program carries on without sound.
void OnPlaybackNews(void (*wake)());
void ShowPlaybackNews();

}  // namespace quibbet
