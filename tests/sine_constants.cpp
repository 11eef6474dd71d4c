// Prints the constants of engine/sine_constants.hpp from MPFR and checks the
// header's values against them; exits 1 on any difference.
#include <mpfr.h>

#include <cstdint>
#include <cstdio>

#include "engine/sine_constants.hpp"

namespace {

int differences = 0;

void Expect(const char* name, double header, double computed) {
  std::printf("%s = %a\n", name, computed);
  if (header != computed) {
    std::printf("  DIFFERS: the header has %a\n", header);
    ++differences;
  }
}

// v truncated to `bits` significant bits.
double Truncated(const mpfr_t v, int bits) {
  mpfr_t t;
  mpfr_init2(t, bits);
  mpfr_set(t, v, MPFR_RNDZ);
  const double d = mpfr_get_d(t, MPFR_RNDN);
  mpfr_clear(t);
  return d;
}

}  // namespace

int main() {
  using namespace quibbet::sine;
  mpfr_t pi, t, u;
  mpfr_inits2(2000, pi, t, u, static_cast<mpfr_ptr>(nullptr));
  mpfr_const_pi(pi, MPFR_RNDN);

  mpfr_ui_div(t, 1, pi, MPFR_RNDN);
  Expect("kInvPi", kInvPi, mpfr_get_d(t, MPFR_RNDN));
  for (int i = 0; i < kInvPiWordCount; ++i) {
    mpfr_mul_2ui(t, t, 32, MPFR_RNDN);
    mpfr_floor(u, t);
    const auto word = static_cast<std::uint32_t>(mpfr_get_ui(u, MPFR_RNDN));
    mpfr_sub(t, t, u, MPFR_RNDN);
    std::printf("kInvPiWords[%d] = 0x%08X\n", i, word);
    if (word != kInvPiWords[i]) {
      std::printf("  DIFFERS: the header has 0x%08X\n", kInvPiWords[i]);
      ++differences;
    }
  }

  Expect("kPiHi", kPiHi, mpfr_get_d(pi, MPFR_RNDN));
  mpfr_sub_d(t, pi, kPiHi, MPFR_RNDN);
  Expect("kPiLo", kPiLo, mpfr_get_d(t, MPFR_RNDN));

  const double part1 = Truncated(pi, 22);
  Expect("kPiPart1", kPiPart1, part1);
  mpfr_sub_d(t, pi, part1, MPFR_RNDN);
  const double part2 = Truncated(t, 22);
  Expect("kPiPart2", kPiPart2, part2);
  mpfr_sub_d(t, t, part2, MPFR_RNDN);
  const double part3 = Truncated(t, 22);
  Expect("kPiPart3", kPiPart3, part3);
  mpfr_sub_d(t, t, part3, MPFR_RNDN);
  Expect("kPiPart4", kPiPart4, mpfr_get_d(t, MPFR_RNDN));

  mpfr_set_ui(t, 1, MPFR_RNDN);
  for (int n = 1; n <= kTaylorTerms; ++n) {
    mpfr_div_ui(t, t, static_cast<unsigned long>((2 * n) * (2 * n + 1)), MPFR_RNDN);
    mpfr_neg(t, t, MPFR_RNDN);
    const double hi = mpfr_get_d(t, MPFR_RNDN);
    mpfr_sub_d(u, t, hi, MPFR_RNDN);
    char name[32];
    std::snprintf(name, sizeof name, "kTaylorHi[%d]", n - 1);
    Expect(name, kTaylorHi[n - 1], hi);
    std::snprintf(name, sizeof name, "kTaylorLo[%d]", n - 1);
    Expect(name, kTaylorLo[n - 1], mpfr_get_d(u, MPFR_RNDN));
  }
  mpfr_clears(pi, t, u, static_cast<mpfr_ptr>(nullptr));
  std::printf("%d differences\n", differences);
  return differences == 0 ? 0 : 1;
}
