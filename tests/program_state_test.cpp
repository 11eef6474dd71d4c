// The program's side of a render: the global patch, noise state and buffer.
#include "console/program_state.hpp"
#include "console/session.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace quibbet {
namespace {

// The whole sound, as the program renders it while it plays.
void RenderSound() {
  BeginSound();
  while (RenderMore()) {
  }
}

TEST(RenderSound, RendersTheGlobalPatchInPiecesAndPrintsTheToneLine) {
  patch = Patch{};
  noise_generator = NoiseGenerator{};
  testing::internal::CaptureStdout();
  RenderSound();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Tone = 10\n");
  const auto expected = std::make_unique<SampleBuffer>();
  NoiseGenerator noise;
  RenderReference(Patch{}, noise, *expected);
  EXPECT_EQ(std::memcmp(sample_buffer.Pcm().data(), expected->Pcm().data(), kPcmBytes), 0);
  EXPECT_EQ(noise_generator, noise);

  patch.tone = -12;
  testing::internal::CaptureStdout();
  RenderSound();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Tone = -12\n");
  patch = Patch{};
}

}  // namespace
}  // namespace quibbet
