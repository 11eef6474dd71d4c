// RenderFast against RenderReference, byte for byte, on every instruction set
// this CPU has; and the pieces RenderFast's exactness rests on.
//
// Built twice: into engine_tests with a corpus small enough for every CI
// build (including -O0 and the sanitizers), and as fast_render_corpus with
// QUIBBET_FULL_CORPUS defined, which runs the whole corpus (`make corpus`).
#include "engine/fast_renderer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/renderer.hpp"

namespace quibbet {
namespace {

constexpr std::int32_t kMaxTone = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMinTone = std::numeric_limits<std::int32_t>::min();
constexpr float kTiny = std::numeric_limits<float>::denorm_min();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::uint32_t Bits(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

// Every level this CPU can run, narrowest first.
std::vector<SimdLevel> RunnableLevels() {
  std::vector<SimdLevel> levels;
  for (int l = 0; l <= static_cast<int>(BestSimdLevel()); ++l) levels.push_back(SimdLevel{l});
  return levels;
}

TEST(SimdLevel, TheBestIsBuiltAndEveryLevelHasItsOwnName) {
  ASSERT_GE(static_cast<int>(BestSimdLevel()), 0);
  ASSERT_LT(static_cast<int>(BestSimdLevel()), SimdLevelCount());
  std::vector<std::string> names;
  for (int l = 0; l < SimdLevelCount(); ++l) names.push_back(SimdLevelName(SimdLevel{l}));
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_FALSE(names[i].empty());
    for (std::size_t j = 0; j < i; ++j) EXPECT_NE(names[i], names[j]);
  }
}

TEST(SkipNoise, MatchesSteppingOneAtATime) {
  NoiseGenerator stepped, skipped;
  for (const std::uint64_t steps : {0, 1, 2, 3, 1000, 65537}) {
    for (std::uint64_t i = 0; i < steps; ++i) stepped.Step();
    SkipNoise(skipped, steps);
    EXPECT_EQ(skipped, stepped) << steps << " steps";
  }
  // One render's worth from the start values: the state a render leaves.
  NoiseGenerator fresh;
  SkipNoise(fresh, 2 * std::uint64_t{kRenderFrames});
  EXPECT_EQ(fresh.s0, 223844107u);
  EXPECT_EQ(fresh.s1, 3348369169u);
  EXPECT_EQ(fresh.s2, 1703092359u);
}

// Float arguments whose double sine lies within |sin x| * 2^-47 of the
// midpoint between two adjacent floats, where a vector sine a few ULP off
// could round the other way. Found by drawing x uniformly (mt19937, seed
// 20261207) in +-1.5, +-40, +-4000 and +-1e6 and keeping the hits; the test
// below re-checks the property, so the table cannot silently go stale.
constexpr float kNearMidpoint[] = {
    -0x1.0d67a4p+0f, -0x1.0fd748p+11f, -0x1.6de11ep+16f, -0x1.d036dp+9f,  -0x1.e7061ep-2f,
    0x1.0d67a4p+0f,  0x1.3e42p+1f,     0x1.41f49cp+0f,   0x1.5d274ap+16f, 0x1.92ef96p+19f,
    0x1.a88a5p+6f,   0x1.ce1026p+2f,   0x1.cf9736p+19f,  0x1.ed68fp+7f,
};

double DistanceToMidpoint(double r) {
  const float f = static_cast<float>(r);
  const float g = std::nextafter(f, r > f ? kInf : -kInf);
  const double midpoint = (static_cast<double>(f) + g) / 2;  // exact in double
  return std::fabs(r - midpoint);
}

// Runs the level's vector sine and returns how often its guard fired.
std::uint64_t GuardedSines(SimdLevel level, const std::vector<float>& x, std::vector<float>& out) {
  out.assign(x.size(), 0.0f);
  SineGuardCount counts;
  SinesRoundedToFloat(level, x.data(), out.data(), static_cast<int>(x.size()), counts);
  EXPECT_EQ(counts.total, x.size()) << SimdLevelName(level);
  return counts.scalar;
}

void ExpectSameAsScalar(const std::vector<float>& x, const std::vector<float>& out,
                        SimdLevel level) {
  for (std::size_t i = 0; i < x.size(); ++i) {
    const float want = static_cast<float>(Sine(x[i]));
    if (std::isnan(want)) {
      ASSERT_TRUE(std::isnan(out[i])) << SimdLevelName(level) << " x=" << x[i];
    } else {
      ASSERT_EQ(Bits(out[i]), Bits(want)) << SimdLevelName(level) << " x=" << std::hexfloat << x[i]
                                          << " got " << out[i] << " want " << want;
    }
  }
}

TEST(SineGuard, FiresNearEveryFloatMidpointAndThenAgreesWithTheScalarSine) {
  std::vector<float> x(std::begin(kNearMidpoint), std::end(kNearMidpoint));
  for (float v : x) {
    const double r = std::sin(static_cast<double>(v));
    ASSERT_LE(DistanceToMidpoint(r), std::fabs(r) * 0x1p-47) << std::hexfloat << v;
  }
  // Odd lengths reach the padded tail of each level's vectors too.
  x.resize(13);
  for (SimdLevel level : RunnableLevels()) {
    std::vector<float> out;
    EXPECT_EQ(GuardedSines(level, x, out), x.size()) << SimdLevelName(level);
    ExpectSameAsScalar(x, out, level);
  }
}

TEST(SineGuard, SendsNonFiniteAndHugeArgumentsToTheScalarSine) {
  const std::vector<float> scalar_only = {kInf, -kInf, kNaN, -kNaN, 5e9f, -1e10f, 3e38f, -3e38f};
  const std::vector<float> in_range = {
      0.0f, -0.0f, kTiny, -kTiny, std::numeric_limits<float>::min(), 1e-30f, 4.2e9f, -4.2e9f};
  for (SimdLevel level : RunnableLevels()) {
    std::vector<float> out;
    EXPECT_EQ(GuardedSines(level, scalar_only, out), scalar_only.size()) << SimdLevelName(level);
    ExpectSameAsScalar(scalar_only, out, level);
    GuardedSines(level, in_range, out);
    ExpectSameAsScalar(in_range, out, level);  // bit for bit: the signs of zero too
  }
}

TEST(SineGuard, AgreesOnRandomArgumentsAndRarelyFires) {
  std::mt19937 gen(5);
  std::vector<float> x;
  for (const double range : {1.5, 40.0, 4000.0, 1e6}) {
    for (int i = 0; i < 25000; ++i) x.push_back(static_cast<float>((gen() * 0x1p-31 - 1) * range));
  }
  for (SimdLevel level : RunnableLevels()) {
    std::vector<float> out;
    // About one argument in a million is expected near a midpoint; a guard
    // that fired everywhere would hide a broken vector sine.
    EXPECT_LT(GuardedSines(level, x, out), 10u) << SimdLevelName(level);
    ExpectSameAsScalar(x, out, level);
  }
}

// ---- The differential corpus ----

struct Case {
  Patch patch;
  int renders = 1;  // in a row, so the noise state moves on
  std::string name;
};

Patch Pair(std::int32_t type0, std::int32_t type1) {
  Patch p;
  p.osc[0].type = type0;
  p.osc[1].type = type1;
  return p;
}

std::string Describe(const Patch& p) {
  std::ostringstream s;
  s << std::hexfloat << "tone " << p.tone;
  for (const Osc& o : p.osc)
    s << " {" << o.type << ", " << o.detune << ", " << o.fm << ", " << o.noise << "}";
  return s.str();
}

std::vector<Case> Corpus(bool full) {
  std::vector<Case> corpus;
  auto add = [&](const Patch& p, int renders = 1) { corpus.push_back({p, renders, Describe(p)}); };

  for (std::int32_t a = 0; a < kWaveformCount; ++a)
    for (std::int32_t b = 0; b < kWaveformCount; ++b) add(Pair(a, b));

  // Tones from the 6 Hz floor to where the phase products (from about n =
  // 1,440 and 1,472) and then the increment itself (n = 1,691) overflow.
  const std::vector<std::int32_t> tones =
      full ? std::vector<std::int32_t>{-100, -37,  -36,  -35,  -1,       0,       1,    24,   50,
                                       100,  200,  400,  700,  1000,     1200,    1400, 1403, 1404,
                                       1405, 1435, 1436, 1437, 1450,     1500,    1600, 1650, 1654,
                                       1655, 1656, 1700, 2000, kMaxTone, kMinTone}
           : std::vector<std::int32_t>{-100, 300, 1404, 1436, 1655, 2000, kMaxTone, kMinTone};
  for (const std::int32_t tone : tones) {
    Patch sin = Pair(SIN, SIN), mixed = Pair(SAW, SQR), square = Pair(SQR, SQR);
    square.osc[1].fm = 0.0f;  // a square with the shaper off keeps its level past overflow
    for (Patch* p : {&sin, &mixed, &square}) {
      if (!full && p == &mixed) continue;
      p->tone = tone;
      add(*p);
    }
  }

  const std::vector<float> fms =
      full ? std::vector<float>{-1.0f, -0.0f, 0.0f, kTiny, 1e-30f, 1e-7f, 1e-3f, 0.1f,
                                0.5f,  1.0f,  2.5f, 7.3f,  10.0f,  33.3f, 99.9f, 100.0f}
           : std::vector<float>{-1.0f, kTiny, 1e-7f, 100.0f};
  for (const float fm : fms) {
    for (const std::int32_t type : {SIN, SAW}) {
      Patch p = Pair(type, SQR);
      p.osc[0].fm = fm;
      p.osc[1].fm = fm;
      add(p);
    }
  }

  const std::vector<float> noises =
      full ? std::vector<float>{-10.0f, -1.0f, -0.01f, -0.0f, 0.01f, 0.3f, 1.0f, 10.0f}
           : std::vector<float>{-0.01f, 10.0f};
  for (const float noise : noises) {
    Patch p0, p1 = Pair(SAW, SIN);
    p0.osc[0].noise = noise;
    p1.osc[1].noise = noise;
    p1.osc[0].noise = -noise / 2;
    add(p0, 3);
    if (full) add(p1, 2);
  }

  const std::vector<float> detunes =
      full ? std::vector<float>{0.0f, 1e-6f, 0.5f, 0.997f, 1.0f, 1.01f, 2.0f, 3.999f, 4.0f}
           : std::vector<float>{0.0f, 4.0f};
  for (const float detune : detunes) {
    for (const std::int32_t type : {SIN, SAW}) {
      Patch p = Pair(type, type);
      p.osc[0].detune = detune;
      add(p);
    }
  }

  // Random patches over the editable ranges, from a fixed seed.
  std::mt19937 gen(20261207);
  auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * (gen() * 0x1p-32); };
  const int randoms = full ? 100 : 6;
  for (int i = 0; i < randoms; ++i) {
    Patch p;
    p.tone = static_cast<std::int32_t>(uniform(-100, 2001));
    for (Osc& o : p.osc) {
      o.type = static_cast<std::int32_t>(gen() % kWaveformCount);
      o.detune = static_cast<float>(uniform(0, 4));
      o.fm = gen() % 8 == 0 ? static_cast<float>(uniform(0, 1e-6))
                            : static_cast<float>(uniform(-1, 100));
      o.noise = gen() % 2 == 0 ? 0.0f : static_cast<float>(uniform(-10, 10));
    }
    add(p, 1 + static_cast<int>(gen() % 2));
  }
  return corpus;
}

#ifdef QUIBBET_FULL_CORPUS
constexpr bool kFullCorpus = true;
#else
constexpr bool kFullCorpus = false;
#endif

// The first differing PCM byte, or -1.
long FirstDifference(const SampleBuffer& a, const SampleBuffer& b) {
  const auto x = a.Pcm(), y = b.Pcm();
  for (std::size_t i = 0; i < kPcmBytes; ++i)
    if (x[i] != y[i]) return static_cast<long>(i);
  return -1;
}

// A render's PCM and the noise state after it, in one line: what another
// build must reproduce. The hash reads the bytes as little-endian words
// whatever the CPU, so every build hashes the same bytes alike.
std::string Fingerprint(const SampleBuffer& pcm, const NoiseGenerator& noise) {
  const auto bytes = pcm.Pcm();
  std::uint64_t h = 0x243f6a8885a308d3u;
  for (std::size_t i = 0; i + 8 <= kPcmBytes; i += 8) {
    std::uint64_t word = 0;
    for (int b = 7; b >= 0; --b) word = word << 8 | bytes[i + b];
    h = (h ^ word) * 0x9e3779b97f4a7c15u;
    h ^= h >> 29;
  }
  static_assert(kPcmBytes % 8 == 0);
  std::ostringstream line;
  line << std::hex << h << ' ' << noise.s0 << ' ' << noise.s1 << ' ' << noise.s2;
  return line.str();
}

// Under an emulator the reference render is the slow half of the corpus.
// There the x86-64 build's own renders stand in for it: its run writes each
// reference render's fingerprint to QUIBBET_CORPUS_WRITE, and the emulated
// run, given that file as QUIBBET_CORPUS_EXPECT, checks every level's render
// against it instead of rendering the reference.
TEST(RenderFast, EveryPcmByteMatchesTheReferenceOnEveryLevel) {
  const char* write_to = std::getenv("QUIBBET_CORPUS_WRITE");
  const char* expect_from = std::getenv("QUIBBET_CORPUS_EXPECT");
  std::ofstream written;
  if (write_to != nullptr) {
    written.open(write_to, std::ios::trunc);
    ASSERT_TRUE(written) << "cannot write " << write_to;
  }
  std::ifstream expected;
  if (expect_from != nullptr) {
    expected.open(expect_from);
    ASSERT_TRUE(expected) << "cannot read " << expect_from;
  }
  auto reference = std::make_unique<SampleBuffer>();
  auto fast = std::make_unique<SampleBuffer>();
  const std::vector<SimdLevel> levels = RunnableLevels();
  SineGuardCount counts;
  int renders = 0;
  const std::vector<Case> corpus = Corpus(kFullCorpus);
  for (const Case& c : corpus) {
    NoiseGenerator noise;  // every case starts from the start values
    for (int r = 0; r < c.renders; ++r) {
      const NoiseGenerator start = noise;
      std::string want;
      if (expect_from != nullptr) {
        ASSERT_TRUE(std::getline(expected, want)) << expect_from << " ends before " << c.name;
      } else {
        RenderReference(c.patch, noise, *reference);
        if (write_to != nullptr) written << Fingerprint(*reference, noise) << '\n';
      }
      for (SimdLevel level : levels) {
        NoiseGenerator fast_noise = start;
        RenderFast(c.patch, fast_noise, *fast, level, counts);
        if (expect_from != nullptr) {
          ASSERT_EQ(Fingerprint(*fast, fast_noise), want)
              << SimdLevelName(level) << ", render " << r << " of " << c.name;
          noise = fast_noise;  // checked: the state the reference leaves
          continue;
        }
        const long at = FirstDifference(*reference, *fast);
        ASSERT_EQ(at, -1) << SimdLevelName(level) << ", render " << r << " of " << c.name
                          << ": byte " << at << " is " << int{fast->Pcm()[at]} << ", want "
                          << int{reference->Pcm()[at]};
        ASSERT_EQ(fast_noise, noise) << SimdLevelName(level) << " " << c.name;
      }
      ++renders;
    }
  }
  if (expect_from != nullptr) {
    std::string extra;
    EXPECT_FALSE(std::getline(expected, extra))
        << expect_from << " has more renders than the corpus";
  }
  if (write_to != nullptr) {
    written.close();
    ASSERT_TRUE(written) << "cannot write " << write_to;
  }
  std::printf(
      "%d renders of %zu patches on %zu levels%s; the guard sent %llu of %llu sines to the "
      "scalar sine\n",
      renders, corpus.size(), levels.size(),
      expect_from != nullptr ? ", against the fingerprints of another build" : "",
      static_cast<unsigned long long>(counts.scalar),
      static_cast<unsigned long long>(counts.total));
}

// The caller's tally grows by the sines of each render and nothing else:
// six a frame for the default patch (three voices, two shapers, the limiter).
TEST(RenderFast, AddsItsSinesToTheCallersCount) {
  auto buffer = std::make_unique<SampleBuffer>();
  for (SimdLevel level : RunnableLevels()) {
    SineGuardCount counts{7, 0};
    NoiseGenerator noise;
    for (std::uint64_t renders = 1; renders <= 2; ++renders) {
      RenderFast(Patch{}, noise, *buffer, level, counts);
      EXPECT_EQ(counts.total, 7 + renders * 6 * kRenderFrames) << SimdLevelName(level);
    }
  }
}

TEST(RenderFast, WritesOnlyThePcm) {
  auto buffer = std::make_unique<SampleBuffer>();
  std::memset(buffer->values, 0x7F, sizeof buffer->values);
  NoiseGenerator noise;
  RenderFast(Patch{}, noise, *buffer);
  const auto* bytes = reinterpret_cast<const unsigned char*>(buffer->values);
  for (std::size_t i = kPcmBytes; i < sizeof buffer->values; ++i)
    ASSERT_EQ(bytes[i], 0x7F) << "byte " << i;

  // The stale bytes above are no part of the sound: the PCM is the reference's.
  auto reference = std::make_unique<SampleBuffer>();
  NoiseGenerator reference_noise;
  RenderReference(Patch{}, reference_noise, *reference);
  EXPECT_EQ(FirstDifference(*buffer, *reference), -1);
}

// A sound rendered a piece at a time, in pieces of every kind of size (off
// the envelope's checkpoints, across blocks, a whole block, one frame), is
// the whole render's, byte for byte, with its noise state; so is the next
// render, which starts from that state.
TEST(RenderFastFrames, AnySplitGivesTheWholeRendersBytesAndNoiseState) {
  struct Split {
    std::vector<int> sizes;  // repeated until the sound is done
  };
  const Split splits[] = {
      {{kRenderFrames}}, {{1, 127, 1024, 129, 4096, 3}}, {{2048, 20000}}, {{1023, 1025, 1}}};
  Patch noisy;
  noisy.osc[0].noise = 0.3f;
  noisy.osc[1].type = SQR;
  auto whole = std::make_unique<SampleBuffer>();
  auto pieces = std::make_unique<SampleBuffer>();
  for (const Patch& p : {Patch{}, noisy}) {
    for (SimdLevel level : RunnableLevels()) {
      for (const Split& split : splits) {
        NoiseGenerator whole_noise, pieces_noise;
        for (int r = 0; r < 2; ++r) {
          SineGuardCount whole_counts, pieces_counts;
          RenderFast(p, whole_noise, *whole, level, whole_counts);
          FastRender render = BeginRenderFast(p, level);
          int done = 0;
          for (std::size_t i = 0; !render.Done(); ++i) {
            const int size = split.sizes[i % split.sizes.size()];
            const int rendered =
                RenderFastFrames(render, pieces_noise, *pieces, size, pieces_counts);
            ASSERT_EQ(rendered, std::min(size, kRenderFrames - done));
            done += rendered;
            ASSERT_EQ(render.frames_done, done);
          }
          EXPECT_EQ(RenderFastFrames(render, pieces_noise, *pieces, 1, pieces_counts), 0);
          const long at = FirstDifference(*whole, *pieces);
          ASSERT_EQ(at, -1) << SimdLevelName(level) << ", " << Describe(p) << ", render " << r
                            << ", pieces of " << split.sizes[0] << "...: byte " << at;
          ASSERT_EQ(pieces_noise, whole_noise) << SimdLevelName(level) << " " << Describe(p);
          EXPECT_EQ(pieces_counts.total, whole_counts.total) << SimdLevelName(level);
        }
      }
    }
  }
}

}  // namespace
}  // namespace quibbet
