#include "output/wav_writer.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "test_util.hpp"

namespace quibbet {
namespace {

using test::ReadFile;
using test::TempDir;

TEST(WavHeader, IsTheCanonical44Bytes) {
  const unsigned char expected[44] = {
      'R', 'I', 'F', 'F', 0x94, 0xD7, 0x12, 0x00,  // 1,234,836 = file length - 8
      'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
      16, 0, 0, 0,                                  // format chunk size
      1, 0, 2, 0,                                   // PCM, 2 channels
      0x44, 0xAC, 0x00, 0x00,                       // 44,100 frames/s
      0x10, 0xB1, 0x02, 0x00,                       // 176,400 bytes/s
      4, 0, 16, 0,                                  // block align, bits
      'd', 'a', 't', 'a', 0x70, 0xD7, 0x12, 0x00,  // 1,234,800 data bytes
  };
  const auto header = EncodeWavHeader();
  EXPECT_EQ(std::memcmp(header.data(), expected, sizeof expected), 0);
}

class WaveFile : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    buffer_ = std::make_unique<SampleBuffer>();
    NoiseGenerator noise;
    RenderReference(Patch{}, noise, *buffer_);
  }
  static void TearDownTestSuite() { buffer_.reset(); }
  static std::unique_ptr<SampleBuffer> buffer_;
  TempDir dir_;
};
std::unique_ptr<SampleBuffer> WaveFile::buffer_;

TEST_F(WaveFile, IsHeaderThenPcmAndRepeatsIdentically) {
  const std::string path = dir_ / "out.wav";
  ASSERT_TRUE(WriteWave(path, *buffer_).ok());
  const std::string first = ReadFile(path);
  ASSERT_EQ(first.size(), 1234844u);
  const auto header = EncodeWavHeader();
  EXPECT_EQ(std::memcmp(first.data(), header.data(), 44), 0);
  EXPECT_EQ(std::memcmp(first.data() + 44, buffer_->Pcm().data(), kPcmBytes), 0);

  ASSERT_TRUE(WriteWave(path, *buffer_).ok());
  EXPECT_EQ(ReadFile(path), first);
}

// Pinned from the reference render of the default patch (the same render
// whose samples are checked one by one in the renderer tests) behind the
// canonical header.
constexpr char kDefaultWavSha256[] =
    "8f19617ff1387bfe18041f3983c34b5ca98952187543667ebe97fc1e13d61192";

TEST_F(WaveFile, DefaultRenderMatchesGoldenHash) {
  const std::string path = dir_ / "out.wav";
  ASSERT_TRUE(WriteWave(path, *buffer_).ok());
  EXPECT_EQ(test::Sha256OfFile(path), kDefaultWavSha256);
}

TEST_F(WaveFile, StrictReaderSees7SecondsOf44k1StereoPcm) {
  const std::string path = dir_ / "out.wav";
  ASSERT_TRUE(WriteWave(path, *buffer_).ok());
  // Python's wave module rejects malformed chunks and sizes.
  const std::string out = test::RunCommand(
      "python3 -c \"import sys, wave; w = wave.open(sys.argv[1], 'rb'); "
      "print(w.getframerate(), w.getnchannels(), w.getsampwidth(), w.getnframes(), "
      "len(w.readframes(w.getnframes())))\" '" + path + "' 2>&1");
  EXPECT_EQ(out, "44100 2 2 308700 1234800\n");
}

TEST_F(WaveFile, SaveWaveReplacesTheFileOrReportsWhyNot) {
  std::memcpy(sample_buffer.values, buffer_->values, sizeof buffer_->values);
  const std::string path = dir_ / "out.wav";
  test::WriteFile(path, "an older, different file");
  testing::internal::CaptureStdout();
  SaveWave(path);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(ReadFile(path).size(), kWavFileBytes);

  std::filesystem::create_directory(dir_ / "taken");
  testing::internal::CaptureStdout();
  SaveWave(dir_ / "taken");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), dir_ / "taken" + ": Is a directory\n");
}

}  // namespace
}  // namespace quibbet
