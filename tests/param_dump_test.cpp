#include "files/param_dump.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "test_util.hpp"

namespace quibbet {
namespace {

constexpr char kDefaultRows[] =
    "{1, 1.010000, 2.500000, 0.000000 },\r\n"
    "{1, 0.997000, 2.799999, 0.000000 },\r\n";

TEST(EncodeParams, DefaultPatchRowsWithCrLf) { EXPECT_EQ(EncodeParams(Patch{}), kDefaultRows); }

// Edits arrive as double-precision steps rounded back to single.
float Step(float value, double by) { return static_cast<float>(value + by); }

TEST(EncodeParams, SignsTypesAndNearZeroValues) {
  Patch p;
  p.tone = 99;  // neither tone nor the selected oscillator is written
  p.osc[0].type = SAW;
  p.osc[1].type = SQR;
  // Three noise-down steps: minus 0.03.
  for (int i = 0; i < 3; ++i) p.osc[1].noise = Step(p.osc[1].noise, -0.01);
  // Up then down does not return to zero; it prints as a signed zero.
  p.osc[0].noise = Step(Step(0.0f, 0.01), -0.01);
  EXPECT_LT(p.osc[0].noise, 0.0f);
  p.osc[0].fm = -0.1f;
  EXPECT_EQ(EncodeParams(p),
            "{0, 1.010000, -0.100000, -0.000000 },\r\n"
            "{2, 0.997000, 2.799999, -0.030000 },\r\n");
}

TEST(EncodeParams, LargeValuesPrintInFull) {
  Patch p;
  p.osc[0].detune = 1e10f;
  p.osc[1].noise = -std::numeric_limits<float>::max();
  const std::string text = EncodeParams(p);
  EXPECT_NE(text.find("{1, 10000000000.000000, "), std::string::npos);
  EXPECT_NE(text.find(", -340282346638528859811704183484516925440.000000 },\r\n"),
            std::string::npos);
}

TEST(EncodeParams, IgnoresALocaleWithADecimalComma) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  // Machines rarely have a decimal-comma locale installed; build one in a
  // scratch directory from the system's locale sources and point glibc at it.
  // The files are in the program's byte order, which under an emulator may
  // not be that of the localedef that builds them.
  test::TempDir dir;
  const char* order = std::endian::native == std::endian::big ? "--big-endian" : "--little-endian";
  ASSERT_EQ(std::system(("localedef " + std::string(order) + " -i de_DE -f UTF-8 '" +
                         (dir / "de_DE.UTF-8") + "' >/dev/null 2>&1")
                            .c_str()),
            0);
  ::setenv("LOCPATH", dir.path().c_str(), 1);
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
  char printed[16];
  std::snprintf(printed, sizeof printed, "%f", 2.5);
  const std::string text = EncodeParams(Patch{});
  std::setlocale(LC_ALL, saved.c_str());
  ::unsetenv("LOCPATH");
  EXPECT_STREQ(printed, "2,500000") << "the locale really uses a decimal comma";
  EXPECT_EQ(text, kDefaultRows);
}

TEST(SaveParam, WritesTheRowsOfThePatchItIsGiven) {
  test::TempDir dir;
  const std::string path = dir / "import.txt";
  test::WriteFile(path, std::string(1000, 'x'));
  Patch patch;
  patch.osc[1].detune = 2.0f;
  testing::internal::CaptureStdout();
  SaveParam(path, patch);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(test::ReadFile(path),
            "{1, 1.010000, 2.500000, 0.000000 },\r\n"
            "{1, 2.000000, 2.799999, 0.000000 },\r\n");
}

}  // namespace
}  // namespace quibbet
