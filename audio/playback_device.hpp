// The platform's audio output as playback.cpp drives it. One implementation
// per platform; the build picks the file. No platform types cross here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quibbet {

// Plays pcm (44.1 kHz, 16-bit little-endian, stereo) once from its first
// byte, opening the output first if it is not open yet; where the platform
// allows, the output then stays open to the end of the process, so later
// plays start without opening anything. pcm must stay unchanged until the
// next DeviceSilence. Returns at once; empty when the sound is on its way,
// otherwise why nothing plays, as one line. A platform that opens in the
// background may return empty while the output opens: the sound then
// starts from its first byte once it is open, or DeviceGaveUp says why not.
//
// Only the first `ready` bytes of pcm may be read at first; DeviceReady
// allows more. Should the output catch up with the render, it waits for it,
// and a sound server that ran dry starts again once it has enough.
std::string DevicePlay(std::span<const std::uint8_t> pcm, std::size_t ready);

// The first `ready` bytes of the last DevicePlay's pcm may be read now
// (ready only grows, up to the whole pcm). Called on the thread that
// called DevicePlay; the bytes were written before the call, and are not
// written again until the next DeviceSilence. Returns at once; does
// nothing when nothing plays.
void DeviceReady(std::size_t ready);

// Defined by the program's side, called by a platform that opens in the
// background, on its own thread: the output for the last DevicePlay did not
// open, for `reason` (one line). Not called when a DeviceSilence came first.
void DeviceGaveUp(const std::string& reason);

// Silences at once. Once it returns, nothing reads the pcm of the last
// DevicePlay. Does nothing when nothing plays.
void DeviceSilence();

}  // namespace quibbet
