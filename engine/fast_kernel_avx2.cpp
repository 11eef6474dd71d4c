// The fast render's vector passes for AVX2: compiled with -mavx2, -mfma,
// -mbmi and -mbmi2, the set Highway's AVX2 target asks for.
#include <immintrin.h>
#include <sleef.h>

#include <cstdint>

#include "engine/fast_kernel.hpp"
#include "engine/renderer.hpp"
#include "engine/voice.hpp"
#include "hwy/contrib/math/math-inl.h"
#include "hwy/highway.h"

namespace quibbet::fast {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
static_assert(HWY_TARGET == HWY_AVX2, "compile this file with the AVX2 flags");

using Vec = __m256d;
constexpr int kLanes = 4;

[[gnu::always_inline]] inline Vec LoadWidened(const float* x) {
  return _mm256_cvtps_pd(_mm_loadu_ps(x));
}

[[gnu::always_inline]] inline void StoreRounded(float* out, Vec r) {
  _mm_storeu_ps(out, _mm256_cvtpd_ps(r));
}

[[gnu::always_inline]] inline Vec Magnitude(Vec x) {
  return _mm256_and_pd(x, _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF)));
}

// Lanes whose magnitude exceeds limit, or NaN.
[[gnu::always_inline]] inline unsigned Beyond(Vec x, double limit) {
  const Vec beyond = _mm256_cmp_pd(Magnitude(x), _mm256_set1_pd(limit), _CMP_NLE_UQ);
  return static_cast<unsigned>(_mm256_movemask_pd(beyond));
}

[[gnu::always_inline]] inline bool InFastRange(Vec x) { return Beyond(x, kHighwaySineLimit) == 0; }

[[gnu::always_inline]] inline Vec VectorSine(Vec x, bool fast) {
  const Vec r = fast ? hn::Sin(hn::Full256<double>(), hn::Vec256<double>{x}).raw
                     : Sleef_sind4_u35avx2(x);
  // sin(+-0) is +-0; Highway's sine gives +0 for both.
  return _mm256_blendv_pd(r, x, _mm256_cmp_pd(x, _mm256_setzero_pd(), _CMP_EQ_OQ));
}

[[gnu::always_inline]] inline unsigned GuardLanes(Vec x, Vec r) {
  const Vec d = _mm256_mul_pd(Magnitude(r), _mm256_set1_pd(kSineGuardWindow));
  const __m128 lo = _mm256_cvtpd_ps(_mm256_sub_pd(r, d));
  const __m128 hi = _mm256_cvtpd_ps(_mm256_add_pd(r, d));
  const auto near = static_cast<unsigned>(_mm_movemask_ps(_mm_cmp_ps(lo, hi, _CMP_NEQ_UQ)));
  return near | Beyond(x, kVectorSineLimit);
}

#include "engine/fast_sines.inc"
#include "engine/fast_kernel_body.inc"

}  // namespace

void KernelAvx2(const KernelPlan& plan, const KernelBlock& block, SineCounts& counts) {
  Kernel(plan, block, counts);
}

void SinesAvx2(const float* x, float* out, int n, SineCounts& counts) {
  VectorSines(x, out, n, counts);
}

}  // namespace quibbet::fast
