// The status screen as text: every line of it, for the cases users see.
#include "console/screen.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quibbet {
namespace {

// Written out by hand from the screen's line table for the default patch:
// marker on oscillator 0, both sine, FM 2.5 and 2.799999 (the float just
// below 2.8), PITCH 10, STICK 00.
constexpr char kDefaultScreen[] =
    "************************************************************\n"
    "   Quibbet v0.1\n"
    "************************************************************\n"
    "\n"
    "-->osc[00]   = SIN, detune = 1.010000, FM = 2.500000,   Noize=0.000000\n"
    "   osc[01]   = SIN, detune = 0.997000, FM = 2.799999,   Noize=0.000000\n"
    "\n"
    "\n"
    "PITCH     = 10\n"
    "STICK     = 00\n"
    "\n"
    "OSC       = A=saw S=sin D=sqr\n"
    "Detune    = Q -,    W +\n"
    "FM        = E -,    R +\n"
    "NOISE     = T -,    Y +\n"
    "Pitch     = O -,    P +\n"
    "Stick     = 1,      2\n"
    "\n"
    "SaveWave  : F7\n"
    "SaveParam : F8\n"
    "SpaceKey  : Prev Sound\n";

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

TEST(Screen, DefaultPatchGivesTheExactNineteenLines) {
  EXPECT_EQ(FormatScreen(Patch{}, 0), kDefaultScreen);
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
