// Stores a render as a canonical 44-byte-header RIFF/WAVE file.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/renderer.hpp"
#include "files/atomic_file.hpp"

namespace quibbet {

inline constexpr std::size_t kWavHeaderBytes = 44;
inline constexpr std::size_t kWavFileBytes = kWavHeaderBytes + kPcmBytes;

// Every field is a constant of the render format; nothing depends on the sound.
std::array<std::uint8_t, kWavHeaderBytes> EncodeWavHeader();

// Writes the header and the buffer's PCM to `file_name`, or to standard
// output for kStandardOutput, as SaveFile writes. F7 and --render both come here.
FileResult WriteWave(const std::string& file_name, const SampleBuffer& buffer);

// Saves a render; a failure is reported as one line and the program goes on.
void SaveWave(const std::string& file_name, const SampleBuffer& buffer);

}  // namespace quibbet
