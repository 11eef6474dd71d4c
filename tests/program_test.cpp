// The shipped binary, run as a user would.
#include <gtest/gtest.h>

#include "test_util.hpp"

namespace {

TEST(Program, WithNoKeysRendersOnceShowsTheScreenAndLeavesWritingNothing) {
  quibbet::test::TempDir dir;
  const std::string out = quibbet::test::RunCommand(
      "cd '" + dir.path().string() + "' && SDL_AUDIODRIVER=dummy '" QUIBBET_BINARY
      "' </dev/null 2>&1; echo \"exit=$?\"");
  // Start-up renders, then draws the screen; the end of input acts as Escape,
  // which draws it once more.
  EXPECT_TRUE(out.starts_with("Tone = 10\n")) << out;
  EXPECT_TRUE(out.ends_with("SpaceKey  : Prev Sound\nexit=0\n")) << out;
  std::size_t screens = 0;
  for (std::size_t at = out.find("PITCH     = 10\n"); at != std::string::npos;
       at = out.find("PITCH     = 10\n", at + 1))
    ++screens;
  EXPECT_EQ(screens, 2u);
  EXPECT_TRUE(dir.Entries().empty());
}

}  // namespace
