// Sine on a sample of what `make verify-sine` checks over all 2^32 floats:
// the special values, the hardest cases that run found, whole binades around
// the arguments the renders use, and random bit patterns. The vector sines
// of every instruction set must give the same bits.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "engine/fast_renderer.hpp"
#include "engine/voice.hpp"

namespace quibbet {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

std::uint32_t Bits(float f) { return std::bit_cast<std::uint32_t>(f); }
float FromBits(std::uint32_t b) { return std::bit_cast<float>(b); }

TEST(Sine, SpecialValues) {
  EXPECT_TRUE(std::isnan(Sine(std::numeric_limits<float>::quiet_NaN())));
  EXPECT_TRUE(std::isnan(Sine(-std::numeric_limits<float>::quiet_NaN())));
  EXPECT_TRUE(std::isnan(Sine(kInf)));
  EXPECT_TRUE(std::isnan(Sine(-kInf)));
  // Zeros keep their sign; tiny arguments are their own sines, the largest
  // below the 2^-12 cut and the first float the evaluation sees alike.
  const float own[] = {
      0.0f,   std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::min(),
      1e-20f, std::nextafter(0x1p-12f, 0.0f),           0x1p-12f};
  for (const float x : own) {
    EXPECT_EQ(Bits(Sine(x)), Bits(x)) << std::hexfloat << x;
    EXPECT_EQ(Bits(Sine(-x)), Bits(-x)) << std::hexfloat << -x;
  }
}

// x, then the float nearest the double nearest sin x, as bit patterns:
// MPFR's correctly rounded sine, as printed by `make verify-sine`.
struct Expected {
  std::uint32_t x, sine;
};

// A few plain values: near pi/2 and pi, the limiter's 1.2, beyond the fast
// evaluation's range (2^25) and at the top of the float range.
constexpr Expected kPlain[] = {
    {0x3F800000u, 0x3F576AA4u},  // sin 1 = 0x1.aed548p-1
    {0x3FC90FDBu, 0x3F800000u},  // float(pi/2) -> 1
    {0x40490FDBu, 0xB3BBBD2Eu},  // float(pi) -> -0x1.777a5cp-24
    {0xC0490FDBu, 0x33BBBD2Eu},  // -float(pi) -> 0x1.777a5cp-24
    {0x3F99999Au, 0x3F6E9A1Du},  // 1.2 -> 0x1.dd343ap-1
    {0x4C000000u, 0xBF79FD0Au},  // 2^25 -> -0x1.f3fa14p-1
    {0x4C000001u, 0x3F4D248Fu},  // 0x1.000002p+25 -> 0x1.9a491ep-1
    {0x6C5B0E04u, 0x3F7B1E12u},  // 0x1.b61c08p+89 -> 0x1.f63c24p-1
    {0x7F7FFFFFu, 0xBF0599B3u},  // the largest float -> -0x1.0b3366p-1
};

// The hardest cases `make verify-sine` found: the 32 floats whose sines lie
// closest to a float rounding boundary, with that distance in float ULP and
// the distance to the nearest double rounding boundary in double ULP. The
// first eight lie within one double ULP (2^-29 float ULP) of the float
// boundary: the nearest double is the boundary itself, and the float is
// decided by rounding that tie to even.
constexpr Expected kHard[] = {
    {0xF3243F06u, 0xBE943A84u},  // -0x1.487e0cp+103: 4.69e-10, 0.248
    {0x73243F06u, 0x3E943A84u},  // 0x1.487e0cp+103: 4.69e-10, 0.248
    {0xC6199998u, 0x3EB1FA5Eu},  // -0x1.33333p+13: 6.56e-10, 0.148
    {0x46199998u, 0xBEB1FA5Eu},  // 0x1.33333p+13: 6.56e-10, 0.148
    {0xD5CAFB2Au, 0x3F7E7A17u},  // -0x1.95f654p+44: 1.27e-09, 0.18
    {0x55CAFB2Au, 0xBF7E7A17u},  // 0x1.95f654p+44: 1.27e-09, 0.18
    {0xE7A9242Bu, 0x3F7FAB81u},  // -0x1.524856p+80: 1.4e-09, 0.251
    {0x67A9242Bu, 0xBF7FAB81u},  // 0x1.524856p+80: 1.4e-09, 0.251
    {0xC371ADE3u, 0xBE62DA56u},  // -0x1.e35bc6p+7: 2.07e-09, 0.387
    {0x4371ADE3u, 0x3E62DA56u},  // 0x1.e35bc6p+7: 2.07e-09, 0.387
    {0x5F208D82u, 0x3F2C7688u},  // 0x1.411b04p+63: 2.32e-09, 0.252
    {0xDF208D82u, 0xBF2C7688u},  // -0x1.411b04p+63: 2.32e-09, 0.252
    {0x7A5AACDBu, 0x3EDA83BBu},  // 0x1.b559b6p+117: 2.93e-09, 0.0729
    {0xFA5AACDBu, 0xBEDA83BBu},  // -0x1.b559b6p+117: 2.93e-09, 0.0729
    {0xE446CEC0u, 0x3F6995BDu},  // -0x1.8d9d8p+73: 3.01e-09, 0.116
    {0x6446CEC0u, 0xBF6995BDu},  // 0x1.8d9d8p+73: 3.01e-09, 0.116
    {0xF9D1F6D3u, 0x3F7A88EEu},  // -0x1.a3eda6p+116: 3.12e-09, 0.173
    {0x79D1F6D3u, 0xBF7A88EEu},  // 0x1.a3eda6p+116: 3.12e-09, 0.173
    {0xE1DFC847u, 0x3F0094DFu},  // -0x1.bf908ep+68: 3.57e-09, 0.418
    {0x61DFC847u, 0xBF0094DFu},  // 0x1.bf908ep+68: 3.57e-09, 0.418
    {0xDDADD689u, 0x3F74FC9Eu},  // -0x1.5bad12p+60: 3.72e-09, 0.497
    {0x5DADD689u, 0xBF74FC9Eu},  // 0x1.5bad12p+60: 3.72e-09, 0.497
    {0x4FB56937u, 0xBF7FFCB7u},  // 0x1.6ad26ep+32: 3.81e-09, 0.456
    {0xCFB56937u, 0x3F7FFCB7u},  // -0x1.6ad26ep+32: 3.81e-09, 0.456
    {0x653CEE8Fu, 0x3F30DF39u},  // 0x1.79dd1ep+75: 4.06e-09, 0.319
    {0xE53CEE8Fu, 0xBF30DF39u},  // -0x1.79dd1ep+75: 4.06e-09, 0.319
    {0x7A817B08u, 0x3E1B493Eu},  // 0x1.02f61p+118: 4.14e-09, 0.278
    {0xFA817B08u, 0xBE1B493Eu},  // -0x1.02f61p+118: 4.14e-09, 0.278
    {0xED734599u, 0x3F5B5135u},  // -0x1.e68b32p+91: 4.38e-09, 0.151
    {0x6D734599u, 0xBF5B5135u},  // 0x1.e68b32p+91: 4.38e-09, 0.151
    {0x3EF3830Fu, 0x3EEA6F45u},  // 0x1.e7061ep-2: 4.49e-09, 0.0897
    {0xBEF3830Fu, 0xBEEA6F45u},  // -0x1.e7061ep-2: 4.49e-09, 0.0897
};

TEST(Sine, PlainAndHardestCasesAreCorrectlyRounded) {
  for (const Expected& e : kPlain)
    EXPECT_EQ(Bits(Sine(FromBits(e.x))), e.sine) << std::hexfloat << FromBits(e.x);
  for (const Expected& e : kHard)
    EXPECT_EQ(Bits(Sine(FromBits(e.x))), e.sine) << std::hexfloat << FromBits(e.x);
}

// Whole binades around the arguments the renders use: the limiter's (0.3
// times a mix mostly below 4), the shaper's (fm times pi times up to 2) and
// the waveform's (2 pi times a growing phase); then random bit patterns.
std::vector<float> Sample() {
  std::vector<float> x;
  for (const float first : {0.25f, 1.0f, -4.0f, 8192.0f}) {
    const std::uint32_t start = Bits(first);
    for (std::uint32_t b = start; b < start + (1u << 23); ++b) x.push_back(FromBits(b));
  }
  std::mt19937 gen(20261207);
  for (int i = 0; i < 2000000; ++i) x.push_back(FromBits(static_cast<std::uint32_t>(gen())));
  return x;
}

// FNV-1a over the result bits, NaNs as one pattern.
std::uint64_t Hash(const std::vector<float>& values) {
  std::uint64_t h = 0xcbf29ce484222325u;
  for (const float v : values) {
    const std::uint32_t b = std::isnan(v) ? 0x7FC00000u : Bits(v);
    for (int i = 0; i < 4; ++i) h = (h ^ ((b >> (8 * i)) & 0xFF)) * 0x100000001b3u;
  }
  return h;
}

TEST(Sine, BinadesAndRandomFloatsMatchTheVerifiedResults) {
  const std::vector<float> x = Sample();
  std::vector<float> sines(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) sines[i] = Sine(x[i]);
#ifdef __GLIBC__
  // glibc's sine rounds every float's sine to the right float (verified
  // with MPFR over all 2^32), so it names the first wrong value.
  for (std::size_t i = 0; i < x.size(); ++i) {
    const float want = static_cast<float>(std::sin(static_cast<double>(x[i])));
    if (std::isnan(want) && std::isnan(sines[i])) continue;
    ASSERT_EQ(Bits(sines[i]), Bits(want)) << "x = " << std::hexfloat << x[i];
  }
#endif
  // Recorded from the results that `make verify-sine` proved correct: the
  // same bits on every platform.
  EXPECT_EQ(Hash(sines), 0xc576292003f52eaau);

  for (int l = 0; l <= static_cast<int>(BestSimdLevel()); ++l) {
    const SimdLevel level{l};
    std::vector<float> vector_sines(x.size());
    SineGuardCount counts;
    SinesRoundedToFloat(level, x.data(), vector_sines.data(), static_cast<int>(x.size()), counts);
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (std::isnan(sines[i]) && std::isnan(vector_sines[i])) continue;
      ASSERT_EQ(Bits(vector_sines[i]), Bits(sines[i]))
          << SimdLevelName(level) << " x = " << std::hexfloat << x[i];
    }
  }
}

}  // namespace
}  // namespace quibbet
