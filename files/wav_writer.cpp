#include "files/wav_writer.hpp"

namespace quibbet {

namespace {

void PutLe(std::uint8_t* at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutText(std::uint8_t* at, const char* text) {
  for (int i = 0; text[i] != '\0'; ++i) at[i] = static_cast<std::uint8_t>(text[i]);
}

}  // namespace

std::array<std::uint8_t, kWavHeaderBytes> EncodeWavHeader() {
  std::array<std::uint8_t, kWavHeaderBytes> h{};
  PutText(&h[0], "RIFF");
  PutLe(&h[4], static_cast<std::uint32_t>(kWavFileBytes - 8), 4);
  PutText(&h[8], "WAVEfmt ");
  PutLe(&h[16], 16, 4);  // format chunk size
  PutLe(&h[20], 1, 2);   // PCM
  PutLe(&h[22], kChannels, 2);
  PutLe(&h[24], kFramesPerSecond, 4);
  PutLe(&h[28], kFramesPerSecond * kBytesPerFrame, 4);
  PutLe(&h[32], kBytesPerFrame, 2);
  PutLe(&h[34], 8 * kBytesPerSample, 2);
  PutText(&h[36], "data");
  PutLe(&h[40], static_cast<std::uint32_t>(kPcmBytes), 4);
  return h;
}

FileResult WriteWave(const std::string& file_name, const SampleBuffer& buffer) {
  const auto header = EncodeWavHeader();
  return SaveFile(file_name, {header, buffer.Pcm()});
}

void SaveWave(const std::string& file_name, const SampleBuffer& buffer) {
  ReportSaveFailure(file_name, WriteWave(file_name, buffer));
}

}  // namespace quibbet
