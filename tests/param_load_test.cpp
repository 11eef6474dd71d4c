#include "files/param_load.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include "engine/renderer.hpp"
#include "files/param_dump.hpp"
#include "test_util.hpp"

namespace quibbet {
namespace {

ParsedParams Parse(const std::string& text) {
  return ParseParamFile(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// "line:column: expected ...", or "ok".
std::string Outcome(const ParsedParams& parsed) {
  if (parsed.ok()) return "ok";
  return std::to_string(parsed.line) + ":" + std::to_string(parsed.column) + ": expected " +
         parsed.expected;
}

// The fields' exact bits, so that -0.0 and 0.0 differ and NaN would show.
std::string Bits(const Osc (&osc)[2]) {
  std::string out;
  for (const Osc& o : osc) {
    out += std::to_string(o.type);
    for (float f : {o.detune, o.fm, o.noise})
      out += " " + std::to_string(std::bit_cast<std::uint32_t>(f));
    out += ";";
  }
  return out;
}

// Edits arrive as double-precision steps rounded back to single.
float Step(float value, double by) { return static_cast<float>(value + by); }

TEST(ParseParamFile, ReadsWhatSaveParamWritesAndTheLooserSpellings) {
  const std::string want = Bits(Patch{}.osc);
  const char* const texts[] = {
      "{1, 1.010000, 2.500000, 0.000000 },\r\n{1, 0.997000, 2.799999, 0.000000 },\r\n",
      "{1, 1.010000, 2.500000, 0.000000 },\n{1, 0.997000, 2.799999, 0.000000 },\n",
      "{1, 1.010000, 2.500000, 0.000000 },\r\n{1, 0.997000, 2.799999, 0.000000 },",
      "\xEF\xBB\xBF{1, 1.010000, 2.500000, 0.000000 },\r\n{1, 0.997000, 2.799999, 0.000000 },\r\n",
      "\n\r\n \t\n{1,1.01,2.5,0},\n\n\n{1,0.997,2.799999,0},\n \t\r\n\n",
      "\t{\t1\t,\t1.01\t,\t2.5\t,\t0\t}\t,\t\r\n  {  1  ,  0.997  ,  2.799999  ,  0  }  ,  ",
      // Any decimal from_chars reads: exponents, leading zeros, no digits after the point.
      "{1, 101e-2, 2.5e0, 0. },\n{1, 0.0997E1, 002.799999, .0 },\n",
  };
  for (const char* text : texts) {
    const ParsedParams parsed = Parse(text);
    EXPECT_EQ(Outcome(parsed), "ok") << testing::PrintToString(text);
    EXPECT_EQ(Bits(parsed.osc), want) << testing::PrintToString(text);
  }
}

TEST(ParseParamFile, RefusesEveryBadInputAtItsPlaceSayingWhatWasExpected) {
  const std::string row0 = "{1, 1.010000, 2.500000, 0.000000 },\r\n";
  const std::string row1 = "{1, 0.997000, 2.799999, 0.000000 },\r\n";
  const struct {
    const char* name;
    std::string text;
    const char* outcome;
  } cases[] = {
      {"empty", "", "1:1: expected the row of oscillator 0: {type, detune, fm, noise },"},
      {"byte order mark only", "\xEF\xBB\xBF",
       "1:1: expected the row of oscillator 0: {type, detune, fm, noise },"},
      {"blank lines only", "\r\n \n\t",
       "3:2: expected the row of oscillator 0: {type, detune, fm, noise },"},
      {"one row", row0, "2:1: expected the row of oscillator 1: {type, detune, fm, noise },"},
      {"three rows", row0 + row1 + row1, "3:1: expected the end of the file after the two rows"},
      {"text after the rows", row0 + row1 + "\n// end\n",
       "4:1: expected the end of the file after the two rows"},
      {"type 3", row0 + "{3, 0.997000, 2.799999, 0.000000 },",
       "2:2: expected the waveform type of oscillator 1: 0, 1 or 2"},
      {"type -1", "{-1, 1, 1, 1 },", "1:2: expected the waveform type of oscillator 0: 0, 1 or 2"},
      {"type as a float", "{1.0, 1, 1, 1 },",
       "1:2: expected the waveform type of oscillator 0: 0, 1 or 2"},
      {"type beyond 32 bits", "{4294967297, 1, 1, 1 },",
       "1:2: expected the waveform type of oscillator 0: 0, 1 or 2"},
      {"no type", "{, 1, 1, 1 },", "1:2: expected the waveform type of oscillator 0: 0, 1 or 2"},
      {"NaN", row0 + "{1, nan, 2.799999, 0.000000 },",
       "2:5: expected detune of oscillator 1 as a finite decimal number, not NaN or infinity"},
      {"infinity", "{1, 1, -inf, 0 },",
       "1:8: expected fm of oscillator 0 as a finite decimal number, not NaN or infinity"},
      {"above float range", "{1, 1, 1, 3.5e38 },",
       "1:11: expected noise of oscillator 0 within the range of a float"},
      {"below the negative float range", "{1, -1e99999999999999999999, 1, 1 },",
       "1:5: expected detune of oscillator 0 within the range of a float"},
      {"hexadecimal", "{1, 0x1p3, 1, 1 },",
       "1:5: expected detune of oscillator 0 as a decimal number"},
      {"plus sign", "{1, +1, 1, 1 },", "1:5: expected detune of oscillator 0 as a decimal number"},
      {"decimal comma", "{1, 1,5, 1, 1 },", "1:11: expected '}' after noise of oscillator 0"},
      {"garbage", "hello", "1:1: expected '{' to begin the row of oscillator 0"},
      {"NUL inside a number", std::string("{1, 1.0\0, 1, 1 },", 17),
       "1:5: expected detune of oscillator 0 as a decimal number"},
      {"binary",
       "\x7f"
       "ELF\x02\x01\x01\0\0\0",
       "1:1: expected '{' to begin the row of oscillator 0"},
      {"byte order mark after the start", row0 + "\xEF\xBB\xBF" + row1,
       "2:1: expected '{' to begin the row of oscillator 1"},
      {"lone CR line end", "{1, 1, 1, 1 },\r{1, 1, 1, 1 },",
       "1:15: expected the end of the line after the row of oscillator 0"},
      {"missing comma", "{1 1, 1, 1 },",
       "1:4: expected ',' after the waveform type of oscillator 0"},
      {"missing number", "{1, 1, , 1 },", "1:8: expected fm of oscillator 0 as a decimal number"},
      {"five fields", "{1, 1, 1, 1, 1 },", "1:12: expected '}' after noise of oscillator 0"},
      {"no comma after the row", row0 + "{1, 1, 1, 1 }\r\n",
       "2:14: expected ',' after '}' of oscillator 1"},
      {"two rows on one line", "{1, 1, 1, 1 }, {1, 1, 1, 1 },",
       "1:16: expected the end of the line after the row of oscillator 0"},
      {"cut off inside a row", row0 + "{1, 0.997",
       "2:10: expected ',' after detune of oscillator 1"},
      {"cut off after the brace", "{",
       "1:2: expected the waveform type of oscillator 0: 0, 1 or 2"},
  };
  for (const auto& c : cases) EXPECT_EQ(Outcome(Parse(c.text)), c.outcome) << c.name;
}

// F8, open, F8: the second save is the first, byte for byte.
void ExpectRoundTrip(const Patch& p) {
  const std::string saved = EncodeParams(p);
  const ParsedParams parsed = Parse(saved);
  ASSERT_TRUE(parsed.ok()) << Outcome(parsed) << "\n" << saved;
  Patch reopened;
  std::copy(std::begin(parsed.osc), std::end(parsed.osc), reopened.osc);
  ASSERT_EQ(EncodeParams(reopened), saved);
}

TEST(ParseParamFile, ATooSmallValueBecomesTheFloatACompilerGives) {
  // Expected bits: what g++ makes of the same decimal as a float literal
  // (it says "truncated to zero" where the bits are a zero of the sign).
  const struct {
    const char* decimal;
    std::uint32_t bits;
  } rows[] = {
      {"1e-50", 0x00000000},
      {"-1e-50", 0x80000000},
      {"0.00000000000000000000000000000000000000000000000000001", 0x00000000},
      {"-7e-46", 0x80000000},   // below half the least subnormal
      {"7.1e-46", 0x00000001},  // above half: the least subnormal
      {"-1e-45", 0x80000001},
      {"1e-40", 0x000116c2},
      {"1e-99999999999999999999", 0x00000000},
      {"-0.0001e-9999", 0x80000000},
  };
  for (const auto& row : rows) {
    const ParsedParams parsed =
        Parse(std::string("{1, ") + row.decimal + ", 1, 1 },\n{1, 1, 1, 1 },\n");
    ASSERT_EQ(Outcome(parsed), "ok") << row.decimal;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(parsed.osc[0].detune), row.bits) << row.decimal;
  }
}

TEST(ParseParamFile, SavingAnOpenedFileGivesTheSameBytes) {
  ExpectRoundTrip(Patch{});
  std::mt19937 random(14);
  // Patches edited as the keys edit them: many steps up and down.
  for (int walk = 0; walk < 2000; ++walk) {
    Patch p;
    const int steps = std::uniform_int_distribution(1, 400)(random);
    for (int i = 0; i < steps; ++i) {
      Osc& o = p.osc[random() % 2];
      const double sign = random() % 2 ? 1.0 : -1.0;
      switch (random() % 4) {
        case 0:
          o.type = static_cast<std::int32_t>(random() % 3);
          break;
        case 1:
          o.detune = Step(o.detune, sign * 0.001);
          break;
        case 2:
          o.fm = Step(o.fm, sign * 0.1);
          break;
        case 3:
          o.noise = Step(o.noise, sign * 0.01);
          break;
      }
    }
    ASSERT_NO_FATAL_FAILURE(ExpectRoundTrip(p));
  }
  // Any finite float at all, the largest and the smallest among them.
  for (int i = 0; i < 100000; ++i) {
    Patch p;
    for (Osc& o : p.osc) {
      for (float* f : {&o.detune, &o.fm, &o.noise}) {
        do *f = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
        while (!std::isfinite(*f));
      }
    }
    if (i == 0)
      p.osc[0] = {SAW, std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
                  std::numeric_limits<float>::denorm_min()};
    ASSERT_NO_FATAL_FAILURE(ExpectRoundTrip(p));
  }
}

TEST(ParseParamFile, ALoadedPatchRendersAsThePatchACompilerBuildsFromTheSameDecimals) {
  const ParsedParams parsed = Parse(
      "{0, 1.234567, -0.300000, 0.050000 },\r\n"
      "{2, 0.997000, 3.141593, -0.020000 },\r\n");
  ASSERT_TRUE(parsed.ok()) << Outcome(parsed);
  Patch loaded, compiled;
  std::copy(std::begin(parsed.osc), std::end(parsed.osc), loaded.osc);
  compiled.osc[0] = {0, 1.234567f, -0.300000f, 0.050000f};
  compiled.osc[1] = {2, 0.997000f, 3.141593f, -0.020000f};
  ASSERT_EQ(Bits(loaded.osc), Bits(compiled.osc));

  auto loaded_sound = std::make_unique<SampleBuffer>();
  auto compiled_sound = std::make_unique<SampleBuffer>();
  NoiseGenerator noise_a, noise_b;
  RenderReference(loaded, noise_a, *loaded_sound);
  RenderReference(compiled, noise_b, *compiled_sound);
  EXPECT_EQ(std::memcmp(loaded_sound->Pcm().data(), compiled_sound->Pcm().data(), kPcmBytes), 0);
}

TEST(LoadParams, ReadsTheFileAndNamesItInEachRefusal) {
  test::TempDir dir;
  Patch edited;
  edited.osc[1] = {SQR, 0.5f, -0.1f, Step(Step(0.0f, 0.01), -0.01)};
  const std::string rows = EncodeParams(edited);
  test::WriteFile(dir / "saved.txt", rows);
  test::WriteFile(dir / "bad.txt", "{1, 1, 1, 1 },\n{7, 1, 1, 1 },\n");
  test::WriteFile(dir / "long.txt", rows + std::string(kMaxParamFileBytes, '\n'));
  test::WriteFile(dir / "long junk.txt", std::string(kMaxParamFileBytes + 1, '\0'));
  std::filesystem::create_directory(dir / "folder");

  const LoadedParams saved = LoadParams(dir / "saved.txt");
  ASSERT_TRUE(saved.ok()) << saved.error;
  Patch reopened;
  std::copy(std::begin(saved.osc), std::end(saved.osc), reopened.osc);
  EXPECT_EQ(EncodeParams(reopened), rows);

  const struct {
    std::string path;
    std::string error;
  } refused[] = {
      {dir / "bad.txt", ":2:2: expected the waveform type of oscillator 1: 0, 1 or 2"},
      {dir / "missing.txt", ":1:1: expected a readable file: No such file or directory"},
      {dir / "folder", ":1:1: expected a file, not a directory"},
      // Opens, but every read fails, even for root.
      {"/proc/self/mem", ":1:1: expected a readable file: Input/output error"},
      {dir / "long.txt", ":1:1: expected a file of at most 1 MiB"},
      {dir / "long junk.txt", ":1:1: expected '{' to begin the row of oscillator 0"},
  };
  for (const auto& r : refused) EXPECT_EQ(LoadParams(r.path).error, r.path + r.error);
}

}  // namespace
}  // namespace quibbet
