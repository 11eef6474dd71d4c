// The fast render's vector passes for SSE2, the x86-64 baseline: no extra
// flags. Highway has no SSE2 target, so every sine here is SLEEF's.
#include <emmintrin.h>
#include <sleef.h>

#include <cstdint>

#include "engine/fast_kernel.hpp"
#include "engine/renderer.hpp"
#include "engine/voice.hpp"

namespace quibbet::fast {
namespace {

using Vec = __m128d;
constexpr int kLanes = 2;

// Two floats are 64 bits: moved as one integer lane, unaligned and without
// type punning.
[[gnu::always_inline]] inline Vec LoadWidened(const float* x) {
  const __m128i pair = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(x));
  return _mm_cvtps_pd(_mm_castsi128_ps(pair));
}

[[gnu::always_inline]] inline void StoreRounded(float* out, Vec r) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_castps_si128(_mm_cvtpd_ps(r)));
}

[[gnu::always_inline]] inline Vec Magnitude(Vec x) {
  return _mm_and_pd(x, _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF)));
}

// Lanes whose magnitude exceeds limit, or NaN.
[[gnu::always_inline]] inline unsigned Beyond(Vec x, double limit) {
  return static_cast<unsigned>(_mm_movemask_pd(_mm_cmpnle_pd(Magnitude(x), _mm_set1_pd(limit))));
}

[[gnu::always_inline]] inline bool InFastRange(Vec x) { return Beyond(x, kVectorSineLimit) == 0; }

[[gnu::always_inline]] inline Vec VectorSine(Vec x, bool) { return Sleef_sind2_u35sse2(x); }

[[gnu::always_inline]] inline unsigned GuardLanes(Vec x, Vec r) {
  const Vec d = _mm_mul_pd(Magnitude(r), _mm_set1_pd(kSineGuardWindow));
  const __m128 lo = _mm_cvtpd_ps(_mm_sub_pd(r, d));
  const __m128 hi = _mm_cvtpd_ps(_mm_add_pd(r, d));
  // The upper two lanes of lo and hi are zero, so they never differ.
  const auto near = static_cast<unsigned>(_mm_movemask_ps(_mm_cmpneq_ps(lo, hi)));
  return near | Beyond(x, kVectorSineLimit);
}

#include "engine/fast_sines.inc"
#include "engine/fast_kernel_body.inc"

}  // namespace

void KernelSse2(const KernelPlan& plan, const KernelBlock& block, SineCounts& counts) {
  Kernel(plan, block, counts);
}

void SinesSse2(const float* x, float* out, int n, SineCounts& counts) {
  VectorSines(x, out, n, counts);
}

}  // namespace quibbet::fast
