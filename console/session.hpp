// The interactive session, where the build has one: the sound played at
// once, the status screen, and the loop of passes over the keys until
// Escape (console/session.cpp). A build without a terminal or sound
// (QUIBBET_INTERACTIVE=OFF, for machines that only render) has
// console/session_none.cpp instead, which says so.
#pragma once

#include <cstddef>

namespace quibbet {

// Runs the session; the program's exit status.
int RunSession();

// The render of the patch into sample_buffer with RenderFast, in pieces, as
// the session plays it: a sound is heard before it is all rendered.
// BeginSound prints "Tone = %d" for the patch and renders the first few
// milliseconds; RenderMore renders the next piece, or returns false when the
// sound is complete; SoundBytesReady is how many bytes of the PCM are
// rendered from its start. Only a build with a session has them.
void BeginSound();
bool RenderMore();
std::size_t SoundBytesReady();

}  // namespace quibbet
