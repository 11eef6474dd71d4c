#include "files/wav_writer.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "test_util.hpp"

namespace quibbet {
namespace {

using test::ReadFile;
using test::TempDir;

TEST(WavHeader, IsTheCanonical44Bytes) {
  const unsigned char expected[44] = {
      'R',  'I',  'F',  'F',  0x94, 0xD7, 0x12, 0x00,               // 1,234,836 = file length - 8
      'W',  'A',  'V',  'E',  'f',  'm',  't',  ' ',  16, 0, 0, 0,  // format chunk size
      1,    0,    2,    0,                                          // PCM, 2 channels
      0x44, 0xAC, 0x00, 0x00,                                       // 44,100 frames/s
      0x10, 0xB1, 0x02, 0x00,                                       // 176,400 bytes/s
      4,    0,    16,   0,                                          // block align, bits
      'd',  'a',  't',  'a',  0x70, 0xD7, 0x12, 0x00,               // 1,234,800 data bytes
  };
  const auto header = EncodeWavHeader();
  EXPECT_EQ(std::memcmp(header.data(), expected, sizeof expected), 0);
}

// The reference render of the default patch, made once: 5 MB, off the stack.
const SampleBuffer& DefaultRender() {
  static const std::unique_ptr<SampleBuffer> buffer = [] {
    auto b = std::make_unique<SampleBuffer>();
    NoiseGenerator noise;
    RenderReference(Patch{}, noise, *b);
    return b;
  }();
  return *buffer;
}

// The golden hash is pinned from the reference render of the default patch
// (the same render whose samples are checked one by one in the renderer
// tests) behind the canonical header; Python's wave module, a strict reader,
// rejects malformed chunks and sizes.
TEST(WaveFile, DefaultRenderIsHeaderThenPcmMatchesGoldenHashAndReadsStrictly) {
  TempDir dir;
  const std::string path = dir / "out.wav";
  ASSERT_TRUE(WriteWave(path, DefaultRender()).ok());
  const std::string file = ReadFile(path);
  ASSERT_EQ(file.size(), 1234844u);
  EXPECT_EQ(std::memcmp(file.data(), EncodeWavHeader().data(), 44), 0);
  EXPECT_EQ(std::memcmp(file.data() + 44, DefaultRender().Pcm().data(), kPcmBytes), 0);
  EXPECT_EQ(test::Sha256OfFile(path),
            "8f19617ff1387bfe18041f3983c34b5ca98952187543667ebe97fc1e13d61192");
  EXPECT_EQ(test::RunCommand("python3 -c \"import sys, wave; w = wave.open(sys.argv[1], 'rb'); "
                             "print(w.getframerate(), w.getnchannels(), w.getsampwidth(), "
                             "w.getnframes(), len(w.readframes(w.getnframes())))\" '" +
                             path + "' 2>&1"),
            "44100 2 2 308700 1234800\n");
}

}  // namespace
}  // namespace quibbet
