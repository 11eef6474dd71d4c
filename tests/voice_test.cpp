#include "engine/voice.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

#include "support/time_limits.hpp"

namespace quibbet {
namespace {

std::uint32_t Bits(float f) { return std::bit_cast<std::uint32_t>(f); }

TEST(Constants, AreTheGivenBitPatterns) {
  EXPECT_EQ(Bits(kFloorIncrement), 0x390EA9D5u);
  EXPECT_EQ(Bits(kSemitoneRatio), 0x3F879C7Du);
  EXPECT_EQ(Bits(Patch{}.osc[1].fm), 0x4033332Fu);
  EXPECT_EQ(kPi, 3.1415927410125732);
}

TEST(SawWave, EdgeValuesRoundTiesToEven) {
  EXPECT_EQ(SawWave(0.0f, 1.0f), 0.0f);
  EXPECT_EQ(SawWave(0.25f, 1.0f), 0.5f);
  EXPECT_EQ(SawWave(0.75f, 1.0f), -0.5f);
  EXPECT_EQ(SawWave(0.5f, 1.0f), 1.0f);
  EXPECT_EQ(SawWave(1.5f, 1.0f), -1.0f);
  EXPECT_EQ(SawWave(2.5f, 1.0f), 1.0f);
  // The product is rounded to single before the wrap.
  EXPECT_EQ(SawWave(0.125f, 2.0f), 0.5f);
  EXPECT_TRUE(std::isnan(SawWave(std::numeric_limits<float>::infinity(), 1.0f)));
  EXPECT_TRUE(std::isnan(SawWave(std::numeric_limits<float>::max(), 2.0f)));  // overflows
}

TEST(SquareWave, IsHighOnlyStrictlyAboveAQuarter) {
  // SawWave(0.125, 1) is exactly 0.25: not high.
  EXPECT_EQ(SawWave(0.125f, 1.0f), 0.25f);
  EXPECT_EQ(SquareWave(0.125f, 1.0f), -1.0f);
  EXPECT_EQ(SquareWave(std::nextafter(0.125f, 1.0f), 1.0f), 1.0f);
  EXPECT_EQ(SquareWave(0.0f, 1.0f), -1.0f);
  EXPECT_EQ(SquareWave(0.5f, 1.0f), 1.0f);
  EXPECT_EQ(SquareWave(0.51f, 1.0f), -1.0f);
  // 37.5 % of a cycle is high.
  int high = 0;
  for (int i = 0; i < 1024; ++i) high += SquareWave(i / 1024.0f, 1.0f) > 0;
  EXPECT_EQ(high, 384);
  // A NaN sawtooth compares false.
  EXPECT_EQ(SquareWave(std::numeric_limits<float>::infinity(), 1.0f), -1.0f);
}

TEST(SineWave, QuarterCycleIsOneAndRoundingsAreSingle) {
  EXPECT_EQ(SineWave(0.25f, 1.0f), 1.0f);
  EXPECT_EQ(SineWave(0.0f, 1.0f), 0.0f);
  EXPECT_EQ(SineWave(0.75f, 1.0f), -1.0f);
  // Pi rounded to single misses pi: at a half cycle the sine is a tiny
  // -8.74e-8, sin of the difference, not 0.
  EXPECT_EQ(SineWave(0.5f, 1.0f), -0x1.777a5cp-24f);
  EXPECT_TRUE(std::isnan(SineWave(std::numeric_limits<float>::infinity(), 1.0f)));
}

TEST(PitchToIncrement, FloorAndSemitoneSteps) {
  EXPECT_EQ(static_cast<double>(PitchToIncrement(0)), 0.0001360544265480712);
  EXPECT_EQ(static_cast<double>(PitchToIncrement(-4)), 0.0001360544265480712);
  EXPECT_EQ(PitchToIncrement(std::numeric_limits<std::int64_t>::min()), kFloorIncrement);
  // Twelve rounded steps come close to, but not exactly at, one octave.
  EXPECT_NEAR(PitchToIncrement(12) / kFloorIncrement, 2.0, 1e-5);
  // Default tone 10 plays at note 46, about 85.53 Hz; tone 0 at about 48 Hz.
  EXPECT_NEAR(PitchToIncrement(46) * 44100.0, 85.53, 0.01);
  EXPECT_NEAR(PitchToIncrement(36) * 44100.0, 48.0, 0.01);
  // Rounded after each step, which is not the same as a rounded closed form
  // for every n.
  int differs = 0;
  for (int n = 1; n < 200; ++n) {
    const float closed = static_cast<float>(kFloorIncrement * std::pow(2.0, n / 12.0));
    differs += PitchToIncrement(n) != closed;
  }
  EXPECT_GT(differs, 0);
}

TEST(PitchToIncrement, BecomesInfiniteAtNote1691AndStaysFast) {
  EXPECT_TRUE(std::isfinite(PitchToIncrement(1690)));
  EXPECT_TRUE(std::isinf(PitchToIncrement(1691)));
  // A tone near the 32-bit maximum must not loop billions of times.
  const auto start = std::chrono::steady_clock::now();
  const float huge = PitchToIncrement(std::int64_t{std::numeric_limits<std::int32_t>::max()} + 36);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(std::isinf(huge));
  EXPECT_LT(elapsed, std::chrono::milliseconds(test::ScaledMs(1000)));
}

TEST(NoiseGenerator, FirstEightOutputs) {
  NoiseGenerator g;
  const int expected[] = {3, 20, 55, 127, 292, 677, 1576, 3664};
  for (const int e : expected) EXPECT_EQ(g.Step(), static_cast<float>(e) / 32768.0f);
}

TEST(NoiseGenerator, WrapsIntoFullRangeOfMultiplesOf2ToMinus15) {
  NoiseGenerator g;
  float lo = 0, hi = 0;
  for (int i = 0; i < 100000; ++i) {
    const float v = g.Step();
    ASSERT_EQ(v * 32768.0f, std::trunc(v * 32768.0f));
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  EXPECT_GE(lo, -1.0f);
  EXPECT_LT(hi, 1.0f);
  EXPECT_LT(lo, -0.9f);
  EXPECT_GT(hi, 0.9f);
}

}  // namespace
}  // namespace quibbet
