// Time limits of the tests that guard against a hang. Each is set for a
// plain native build on a busy machine and grows with what the build knows
// makes it slower: an emulated CPU, the sanitizers. QUIBBET_TEST_TIME_SCALE
// in the environment multiplies it further, for a machine loaded beyond
// that. A limit that only a hang or a real wait can pass is the aim, never a
// measure of speed: that is the benchmarks' business.
#pragma once

#include <cstdlib>

#ifndef QUIBBET_TEST_TIME_SCALE
#error "tests/CMakeLists.txt passes how much slower than native this build runs"
#endif

namespace quibbet::test {

inline int TimeScale() {
  static const int scale = [] {
    const char* extra = std::getenv("QUIBBET_TEST_TIME_SCALE");
    const int by = extra != nullptr ? std::atoi(extra) : 1;
    return QUIBBET_TEST_TIME_SCALE * (by > 1 ? by : 1);
  }();
  return scale;
}

inline int ScaledMs(int ms) { return ms * TimeScale(); }

}  // namespace quibbet::test
