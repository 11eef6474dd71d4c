// Constants of the sine (quibbet_sine in player/quibbet_player.c, which holds
// the same values) and of its vector form in the fast render
// (engine/sine_fast.inc). Plain data only, so that the per-instruction
// set kernels may include it (see engine/simd/kernel.hpp).
//
// Every value below was printed by tests/sine_constants.cpp with MPFR, which
// also checks them; rebuild and run it (target sine_constants) after an edit.
// (kFastCoefficients comes from scripts/sine-coefficients.) They are const,
// not inline: each file gets its own copy, so that no kernel object defines
// a symbol that other objects define too.
#pragma once

#include <cstdint>

namespace quibbet::sine {

// The fast evaluation (engine/sine_fast.inc) takes |x| <= kFastLimit: there
// k = rint(|x| / pi) < 2^31, so k times each 22-bit part of pi is exact.
constexpr double kFastLimit = 0x1p32;

// 1/pi rounded to double; which k it picks matters only for |r| <= pi/2 + tiny.
constexpr double kInvPi = 0x1.45f306dc9c883p-2;
// pi = kPiPart1 + kPiPart2 + kPiPart3 + kPiPart4 + O(2^-121): the first three
// truncated to 22 bits, the last rounded to 53.
constexpr double kPiPart1 = 0x1.921fbp+1;
constexpr double kPiPart2 = 0x1.5110bp-21;
constexpr double kPiPart3 = 0x1.184698p-43;
constexpr double kPiPart4 = 0x1.3198a2e037073p-68;
// Adding 1.5 * 2^52 rounds a double below 2^51 to an integer, half to even,
// and leaves the integer in the low bits of the significand.
constexpr double kRintShift = 0x1.8p52;

// The fast evaluation's result r is accepted only when every double within
// |r| * kGuardWindow of it rounds to the same float; its error is a few ULP
// of r, and an ULP of r is at most |r| * 2^-52, so the window covers it more
// than ten times over. Anything closer to a float rounding boundary goes to
// the slow, double-double evaluation. A random result lands there about
// once in a million.
constexpr double kGuardWindow = 0x1p-45;

// Taylor coefficients (-1)^n / (2n+1)! for n = 1, 2, ...: the double nearest
// each (kTaylorHi), and the double nearest the rest (kTaylorLo).
constexpr int kTaylorTerms = 20;  // up to r^41
constexpr double kTaylorHi[kTaylorTerms] = {
    -0x1.5555555555555p-3,   0x1.1111111111111p-7,    -0x1.a01a01a01a01ap-13,
    0x1.71de3a556c734p-19,   -0x1.ae64567f544e4p-26,  0x1.6124613a86d09p-33,
    -0x1.ae7f3e733b81fp-41,  0x1.952c77030ad4ap-49,   -0x1.2f49b46814157p-57,
    0x1.71b8ef6dcf572p-66,   -0x1.761b41316381ap-75,  0x1.3f3ccdd165fa9p-84,
    -0x1.d1ab1c2dccea3p-94,  0x1.259f98b4358adp-103,  -0x1.434d2e783f5bcp-113,
    0x1.3981254dd0d52p-123,  -0x1.0dc59c716d91fp-133, 0x1.9ec8d1c94e85bp-144,
    -0x1.1e99449a4bacep-154, 0x1.65e61c39d0241p-165,
};
constexpr double kTaylorLo[kTaylorTerms] = {
    -0x1.5555555555555p-57,  0x1.1111111111111p-63,   -0x1.a01a01a01a01ap-73,
    -0x1.c154f8ddc6cp-73,    0x1.c062e06d1f209p-80,   0x1.f28e0cc748ebep-87,
    -0x1.1d8656b0ee8cbp-97,  0x1.ac981465ddc6cp-103,  -0x1.2650f61dbdcb4p-112,
    -0x1.d043ae40c4647p-120, 0x1.3423c7d91404fp-130,  -0x1.58ddadf344487p-139,
    -0x1.054d0c78aea14p-149, 0x1.eaf8c39dd9bc5p-157,  -0x1.0b87b91be9affp-167,
    -0x1.2b1f4c8015a2fp-177, -0x1.419e3fad3f031p-188, -0x1.670e9d4784ec6p-201,
    0x1.fefbb89514b3cp-210,  -0x1.c0ed181727269p-220,
};

// The fast evaluation's sin r = r + r * z * p(z), z = r^2, |r| <= pi/2 + tiny:
// p is the Taylor series of (sin(r)/r - 1) / z economised to degree 6 on
// 0 <= z <= 1.5708^2 (printed by scripts/sine-coefficients). |p - that| <
// 2^-52.3, so sin r is off by less than 2^-50 of it, before rounding.
constexpr int kFastTerms = 7;
constexpr double kFastCoefficients[kFastTerms] = {
    -0x1.555555555554fp-3,  0x1.111111111006cp-7,  -0x1.a01a019e69feap-13, 0x1.71de394e8577fp-19,
    -0x1.ae63be0c05cc5p-26, 0x1.60f6f3faea16fp-33, -0x1.a109bedae18dfp-41,
};

// pi as a double-double.
constexpr double kPiHi = 0x1.921fb54442d18p+1;
constexpr double kPiLo = 0x1.1a62633145c07p-53;

// The bits of 1/pi after the binary point, 32 to a word, most significant
// first: enough for the reduction of every float (quibbet_sine).
constexpr int kInvPiWordCount = 12;
constexpr std::uint32_t kInvPiWords[kInvPiWordCount] = {
    0x517CC1B7u, 0x27220A94u, 0xFE13ABE8u, 0xFA9A6EE0u, 0x6DB14ACCu, 0x9E21C820u,
    0xFF28B1D5u, 0xEF5DE2B0u, 0xDB92371Du, 0x2126E970u, 0x03249775u, 0x04E8C90Eu,
};

}  // namespace quibbet::sine
