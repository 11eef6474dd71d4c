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

TEST(PitchToIncrement, FloorAndSemitoneSteps) {
  EXPECT_EQ(static_cast<double>(PitchToIncrement(0)), 0.0001360544265480712);
  EXPECT_EQ(static_cast<double>(PitchToIncrement(-4)), 0.0001360544265480712);
  EXPECT_EQ(PitchToIncrement(std::numeric_limits<std::int64_t>::min()), PitchToIncrement(0));
  // Twelve rounded steps come close to, but not exactly at, one octave.
  EXPECT_NEAR(PitchToIncrement(12) / PitchToIncrement(0), 2.0, 1e-5);
  // Default tone 10 plays at note 46, about 85.53 Hz; tone 0 at about 48 Hz.
  EXPECT_NEAR(PitchToIncrement(46) * 44100.0, 85.53, 0.01);
  EXPECT_NEAR(PitchToIncrement(36) * 44100.0, 48.0, 0.01);
  // Rounded after each step, which is not the same as a rounded closed form
  // for every n.
  int differs = 0;
  for (int n = 1; n < 200; ++n) {
    const float closed = static_cast<float>(PitchToIncrement(0) * std::pow(2.0, n / 12.0));
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
