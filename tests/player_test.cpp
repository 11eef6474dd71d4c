// The embeddable player: its waveforms and limiter at their edges, and
// against the program the PCM the program writes to out.wav (RenderFast) and
// the noise state it leaves, byte for byte; the player's pieces in any block
// sizes; and what an abandoned voice leaves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "engine/fast_renderer.hpp"
#include "engine/renderer.hpp"
#include "player/quibbet_player.h"
#include "player_compare.hpp"
#include "player_hash.h"

namespace quibbet {
namespace {

using test::PlayerPcm;
using test::ProgramPcm;

constexpr std::int32_t kMaxTone = std::numeric_limits<std::int32_t>::max();

TEST(PlayerSawWave, EdgeValuesRoundTiesToEven) {
  EXPECT_EQ(quibbet_wave(SAW, 0.0f, 1.0f), 0.0f);
  EXPECT_EQ(quibbet_wave(SAW, 0.25f, 1.0f), 0.5f);
  EXPECT_EQ(quibbet_wave(SAW, 0.75f, 1.0f), -0.5f);
  EXPECT_EQ(quibbet_wave(SAW, 0.5f, 1.0f), 1.0f);
  EXPECT_EQ(quibbet_wave(SAW, 1.5f, 1.0f), -1.0f);
  EXPECT_EQ(quibbet_wave(SAW, 2.5f, 1.0f), 1.0f);
  // The product is rounded to single before the wrap.
  EXPECT_EQ(quibbet_wave(SAW, 0.125f, 2.0f), 0.5f);
  EXPECT_TRUE(std::isnan(quibbet_wave(SAW, std::numeric_limits<float>::infinity(), 1.0f)));
  EXPECT_TRUE(std::isnan(quibbet_wave(SAW, std::numeric_limits<float>::max(), 2.0f)));  // overflows
}

TEST(PlayerSquareWave, IsHighOnlyStrictlyAboveAQuarter) {
  // quibbet_wave(SAW, 0.125, 1) is exactly 0.25: not high.
  EXPECT_EQ(quibbet_wave(SAW, 0.125f, 1.0f), 0.25f);
  EXPECT_EQ(quibbet_wave(SQR, 0.125f, 1.0f), -1.0f);
  EXPECT_EQ(quibbet_wave(SQR, std::nextafter(0.125f, 1.0f), 1.0f), 1.0f);
  EXPECT_EQ(quibbet_wave(SQR, 0.0f, 1.0f), -1.0f);
  EXPECT_EQ(quibbet_wave(SQR, 0.5f, 1.0f), 1.0f);
  EXPECT_EQ(quibbet_wave(SQR, 0.51f, 1.0f), -1.0f);
  // 37.5 % of a cycle is high.
  int high = 0;
  for (int i = 0; i < 1024; ++i) high += quibbet_wave(SQR, i / 1024.0f, 1.0f) > 0;
  EXPECT_EQ(high, 384);
  // A NaN sawtooth compares false.
  EXPECT_EQ(quibbet_wave(SQR, std::numeric_limits<float>::infinity(), 1.0f), -1.0f);
}

TEST(PlayerSineWave, QuarterCycleIsOneAndRoundingsAreSingle) {
  EXPECT_EQ(quibbet_wave(SIN, 0.25f, 1.0f), 1.0f);
  EXPECT_EQ(quibbet_wave(SIN, 0.0f, 1.0f), 0.0f);
  EXPECT_EQ(quibbet_wave(SIN, 0.75f, 1.0f), -1.0f);
  // Pi rounded to single misses pi: at a half cycle the sine is a tiny
  // -8.74e-8, sin of the difference, not 0.
  EXPECT_EQ(quibbet_wave(SIN, 0.5f, 1.0f), -0x1.777a5cp-24f);
  EXPECT_TRUE(std::isnan(quibbet_wave(SIN, std::numeric_limits<float>::infinity(), 1.0f)));
}

TEST(PlayerLimit, SoftLimitsTruncatesAndSilencesNaN) {
  EXPECT_EQ(quibbet_limit(0.0f), 0);
  EXPECT_EQ(quibbet_limit(-0.0f), 0);
  EXPECT_EQ(quibbet_limit(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(quibbet_limit(std::numeric_limits<float>::infinity()), 0);  // sin(inf) is NaN
  // sin(0.3 * x) peaks at x = pi / 0.6; the sample never exceeds 32767.
  EXPECT_EQ(quibbet_limit(5.235988f), 32767);
  EXPECT_EQ(quibbet_limit(-5.235988f), -32767);
  // Truncation toward zero, not rounding: sin(0.3 * 4) * 32767 = 30540.4...
  EXPECT_EQ(quibbet_limit(4.0f), 30540);
  EXPECT_EQ(quibbet_limit(-4.0f), -30540);
  // Larger inputs fold back.
  EXPECT_LT(quibbet_limit(8.0f), quibbet_limit(5.0f));
}

TEST(Player, NoiseOfOneSoundIsTheMatrixPowerOfItsSteps) {
  quibbet_noise stepped = QUIBBET_NOISE_START, skipped = QUIBBET_NOISE_START;
  for (int i = 0; i < 2 * QUIBBET_FRAMES; ++i) quibbet_noise_step(&stepped);
  quibbet_voice voice;
  const quibbet_osc osc[2] = {{1, 1.0f, 0.0f, 0.0f}, {1, 1.0f, 0.0f, 0.0f}};
  quibbet_start(&voice, osc, 10, &skipped);
  EXPECT_EQ(skipped.s0, stepped.s0);
  EXPECT_EQ(skipped.s1, stepped.s1);
  EXPECT_EQ(skipped.s2, stepped.s2);
  // The state quibbet is in after its first render.
  EXPECT_EQ(skipped.s0, 223844107u);
  EXPECT_EQ(skipped.s1, 3348369169u);
  EXPECT_EQ(skipped.s2, 1703092359u);
}

// The renders of render_pcm.cpp and the fast render's corners: every
// waveform, the shaper on and off, noise, and pitches up to overflow.
const Patch kGolden[] = {
    Patch{},
    test::MakePatch(-40, {SAW, 1.0f, 0.0f, 0.0f}, {SQR, 0.5f, 0.0f, 0.0f}),
    test::MakePatch(0, {SQR, 1.003f, 1.3f, 0.2f}, {SAW, 2.0f, 0.7f, -0.1f}),
    test::MakePatch(24, {SIN, 0.25f, 7.5f, 0.0f}, {SIN, 3.0f, -0.1f, 0.05f}),
    test::MakePatch(100, {SAW, 1.5f, 2.5f, 0.01f}, {SIN, 0.999f, 0.0f, 0.0f}),
    test::MakePatch(365, {SIN, 1.01f, 2.5f, 0.0f}, {SIN, 0.997f, 2.8f, 0.0f}),
    test::MakePatch(512, {SIN, 2.5f, 1.0f, 0.3f}, {SIN, 0.1f, 0.0f, 0.0f}),
    test::MakePatch(1436, {SQR, 1.0f, 0.0f, 0.0f}, {SAW, 4.0f, 100.0f, 0.0f}),
    test::MakePatch(kMaxTone, {SIN, 1.0f, 0.0f, 0.0f}, {SQR, 1.0f, 0.0f, 0.0f}),
};

TEST(Player, GoldenPatchesAndFiveRendersSharingOneNoiseStateGiveTheProgramsBytes) {
  for (const Patch& p : kGolden) {
    NoiseGenerator program_noise;
    quibbet_noise player_noise = QUIBBET_NOISE_START;
    // Five in a row only where noise makes them differ.
    const bool noisy = p.osc[0].noise != 0.0f || p.osc[1].noise != 0.0f;
    for (int r = 0; r < (noisy ? 5 : 1); ++r) {
      const std::vector<std::uint8_t> want = ProgramPcm(p, program_noise);
      const std::vector<std::uint8_t> got = PlayerPcm(p, player_noise);
      ASSERT_EQ(test::FirstDifference(got, want), -1) << test::Describe(p) << ", render " << r;
      ASSERT_EQ(player_noise.s0, program_noise.s0);
      ASSERT_EQ(player_noise.s1, program_noise.s1);
      ASSERT_EQ(player_noise.s2, program_noise.s2);
    }
  }
}

// The hash every cross build of the player must print (tests/players) is
// the program's.
TEST(Player, TheCrossBuildsHashIsTheProgramsToo) {
  std::uint64_t hash = 14695981039346656037u;
  NoiseGenerator noise;
  for (const quibbet_hash_render& r : kQuibbetHashRenders) {
    Patch p;
    p.tone = r.tone;
    for (int o = 0; o < 2; ++o)
      p.osc[o] = {r.osc[o].type, r.osc[o].detune, r.osc[o].fm, r.osc[o].noise};
    for (const std::uint8_t byte : ProgramPcm(p, noise)) hash = (hash ^ byte) * 1099511628211u;
  }
  EXPECT_EQ(hash, quibbet_hash_renders());
  std::printf("the renders' hash: %016llx\n", static_cast<unsigned long long>(hash));
}

TEST(Player, PlayInAnyBlockSizesGivesTheRendersBytes) {
  const quibbet_osc osc[2] = {{2, 1.003f, 1.3f, 0.2f}, {0, 2.0f, 0.7f, -0.1f}};
  quibbet_noise noise = QUIBBET_NOISE_START;
  std::vector<std::int16_t> whole(2 * QUIBBET_FRAMES);
  quibbet_render(osc, 0, &noise, whole.data());

  std::mt19937 gen(17);
  for (const std::size_t block : {1, 7, 64, 4096, 0}) {  // 0: random sizes
    quibbet_noise again = QUIBBET_NOISE_START;
    quibbet_voice voice;
    quibbet_start(&voice, osc, 0, &again);
    // One frame of room more than asked for: a write past the block shows.
    std::vector<std::int16_t> pieces(2 * QUIBBET_FRAMES + 2, 0x5A5A);
    std::size_t at = 0;
    for (;;) {
      const std::size_t ask = block != 0 ? block : gen() % 10000;
      const std::size_t room = std::min(ask, std::size_t{QUIBBET_FRAMES} + 1 - at);
      const std::size_t got = quibbet_play(&voice, pieces.data() + 2 * at, room);
      ASSERT_LE(got, room);
      if (got == 0 && room != 0) break;
      at += got;
    }
    EXPECT_EQ(at, std::size_t{QUIBBET_FRAMES}) << "block " << block;
    EXPECT_EQ(quibbet_play(&voice, pieces.data(), 64), 0u) << "a finished voice stays finished";
    EXPECT_EQ(pieces[2 * QUIBBET_FRAMES], 0x5A5A);
    pieces.resize(2 * QUIBBET_FRAMES);
    EXPECT_TRUE(pieces == whole) << "block " << block;
    EXPECT_EQ(std::memcmp(&again, &noise, sizeof noise), 0);
  }
}

TEST(Player, AnAbandonedVoiceLeavesTheNextSoundAsAFullRenderWould) {
  const quibbet_osc noisy[2] = {{1, 1.01f, 2.5f, 0.3f}, {0, 0.5f, 0.0f, -1.0f}};
  std::vector<std::int16_t> full(2 * QUIBBET_FRAMES), next(2 * QUIBBET_FRAMES);
  quibbet_noise rendered = QUIBBET_NOISE_START;
  quibbet_render(noisy, 3, &rendered, full.data());
  quibbet_render(noisy, 3, &rendered, next.data());

  quibbet_noise played = QUIBBET_NOISE_START;
  quibbet_voice first, second;
  std::vector<std::int16_t> block(2 * 1000);
  quibbet_start(&first, noisy, 3, &played);
  ASSERT_EQ(quibbet_play(&first, block.data(), 1000), 1000u);
  EXPECT_EQ(std::memcmp(block.data(), full.data(), block.size() * 2), 0);
  // Abandoned here; the next voice plays the second render's sound.
  quibbet_start(&second, noisy, 3, &played);
  std::vector<std::int16_t> second_sound(2 * QUIBBET_FRAMES);
  ASSERT_EQ(quibbet_play(&second, second_sound.data(), QUIBBET_FRAMES),
            std::size_t{QUIBBET_FRAMES});
  EXPECT_TRUE(second_sound == next);
  EXPECT_EQ(std::memcmp(&played, &rendered, sizeof played), 0);
  // The abandoned voice, finished later, is still the first sound.
  std::vector<std::int16_t> rest(2 * QUIBBET_FRAMES);
  ASSERT_EQ(quibbet_play(&first, rest.data(), QUIBBET_FRAMES), std::size_t{QUIBBET_FRAMES - 1000});
  EXPECT_EQ(std::memcmp(rest.data(), full.data() + block.size(), (full.size() - block.size()) * 2),
            0);
}

TEST(Player, ATypeOutsideTheTableIsSilenceAndItsNoiseStillSounds) {
  for (const int type : {3, -1, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}) {
    EXPECT_EQ(quibbet_wave(type, 0.3f, 1.0f), 0.0f) << type;
    const quibbet_osc unknown[2] = {{type, 1.0f, 2.5f, 0.0f}, {type, 2.0f, 0.0f, 0.0f}};
    quibbet_noise noise = QUIBBET_NOISE_START;
    std::vector<std::int16_t> pcm(2 * QUIBBET_FRAMES, 1);
    quibbet_render(unknown, 10, &noise, pcm.data());
    EXPECT_TRUE(pcm == std::vector<std::int16_t>(pcm.size(), 0)) << type;

    // Its noise is still added: nearly every frame sounds.
    const quibbet_osc with_noise[2] = {{type, 1.0f, 2.5f, 0.5f}, {type, 1.0f, 0.0f, 0.0f}};
    noise = QUIBBET_NOISE_START;
    quibbet_render(with_noise, 10, &noise, pcm.data());
    int nonzero = 0;
    for (int k = 0; k < 1000; ++k) nonzero += pcm[2 * k] != 0;
    EXPECT_GT(nonzero, 900) << type;
  }
}

}  // namespace
}  // namespace quibbet
