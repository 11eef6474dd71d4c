// The status screen as text: the values it shows, for the cases users see.
#include "console/screen.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quibbet {
namespace {

// The line of `screen` that starts with `prefix`, or "" if none does.
std::string LineStarting(const std::string& screen, const std::string& prefix) {
  std::size_t at = 0;
  while (at < screen.size()) {
    const std::size_t end = screen.find('\n', at);
    const std::string line = screen.substr(at, end - at);
    if (line.rfind(prefix, 0) == 0) return line;
    at = end + 1;
  }
  return "";
}

// What a user sees first: with the default patch the marker stands before
// oscillator 0 and three spaces before oscillator 1; both name SIN; they show
// detune 1.010000 and 0.997000, FM 2.500000 and 2.799999 (the float just
// below 2.8), and noise 0.000000; PITCH shows 10 and STICK 00.
TEST(Screen, DefaultPatchShowsItsValuesWithOscillatorZeroMarked) {
  const std::string screen = FormatScreen(Patch{}, 0);
  const struct {
    const char* line;
    std::vector<std::string> shows;
  } lines[] = {
      {"-->osc[00]", {"SIN", "detune = 1.010000", "FM = 2.500000", "Noize=0.000000"}},
      {"   osc[01]", {"SIN", "detune = 0.997000", "FM = 2.799999", "Noize=0.000000"}},
      {"PITCH", {"= 10"}},
      {"STICK", {"= 00"}},
  };
  for (const auto& l : lines) {
    const std::string line = LineStarting(screen, l.line);
    for (const std::string& value : l.shows) EXPECT_NE(line.find(value), std::string::npos) << line;
  }
}

TEST(Screen, PitchIsZeroPaddedToTwoAndNegativeValuesKeepTheirSign) {
  const struct {
    int tone;
    const char* shown;
  } cases[] = {
      {10, "PITCH     = 10"}, {5, "PITCH     = 05"},    {0, "PITCH     = 00"},
      {-1, "PITCH     = -1"}, {-12, "PITCH     = -12"}, {123, "PITCH     = 123"},
  };
  for (const auto& c : cases) {
    Patch p;
    p.tone = c.tone;
    EXPECT_EQ(LineStarting(FormatScreen(p, 0), "PITCH"), c.shown) << "tone " << c.tone;
  }
}

TEST(Screen, MarkerAndStickFollowTheSelectedOscillator) {
  const std::string screen = FormatScreen(Patch{}, 1);
  EXPECT_EQ(LineStarting(screen, "   osc[00]"),
            "   osc[00]   = SIN, detune = 1.010000, FM = 2.500000,   Noize=0.000000");
  EXPECT_EQ(LineStarting(screen, "-->osc[01]"),
            "-->osc[01]   = SIN, detune = 0.997000, FM = 2.799999,   Noize=0.000000");
  EXPECT_EQ(LineStarting(screen, "STICK"), "STICK     = 01");
}

TEST(Screen, OscillatorValuesPrintAsWidenedFloatsWithSixDecimals) {
  Patch p;
  p.osc[0] = {SAW, 0.5f, -0.1f, -0.25f};
  p.osc[1] = {SQR, 1.0e-7f, 1.356e-7f, 100.0f};
  const std::string screen = FormatScreen(p, 0);
  // -0.1f widens to -0.100000001490116..., which %f rounds to six decimals.
  EXPECT_EQ(LineStarting(screen, "-->osc[00]"),
            "-->osc[00]   = SAW, detune = 0.500000, FM = -0.100000,   Noize=-0.250000");
  // A tiny positive FM shows as zero although it is not.
  EXPECT_EQ(LineStarting(screen, "   osc[01]"),
            "   osc[01]   = SQR, detune = 0.000000, FM = 0.000000,   Noize=100.000000");
}

}  // namespace
}  // namespace quibbet
