// The shipped binary, run as a user would.
#include <gtest/gtest.h>

#include "test_util.hpp"

namespace {

TEST(Program, RendersTheDefaultSoundPrintsItsToneAndWritesNothing) {
  quibbet::test::TempDir dir;
  const std::string out = quibbet::test::RunCommand(
      "cd '" + dir.path().string() + "' && '" QUIBBET_BINARY "' </dev/null 2>&1; echo \"exit=$?\"");
  EXPECT_EQ(out, "Tone = 10\nexit=0\n");
  EXPECT_TRUE(dir.Entries().empty());
}

}  // namespace
