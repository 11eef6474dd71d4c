// The fast render's vector passes for AVX-512: compiled with the AVX2 file's
// flags and -mavx512f, -mavx512vl, -mavx512dq, -mavx512bw, the set Highway's
// AVX-512 target asks for.

// gcc 12 takes the deliberately undefined upper lanes inside the AVX-512
// conversion intrinsics for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

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
static_assert(HWY_TARGET == HWY_AVX3, "compile this file with the AVX-512 flags");

using Vec = __m512d;
constexpr int kLanes = 8;

[[gnu::always_inline]] inline Vec LoadWidened(const float* x) {
  return _mm512_cvtps_pd(_mm256_loadu_ps(x));
}

[[gnu::always_inline]] inline void StoreRounded(float* out, Vec r) {
  _mm256_storeu_ps(out, _mm512_cvtpd_ps(r));
}

// Lanes whose magnitude exceeds limit, or NaN.
[[gnu::always_inline]] inline unsigned Beyond(Vec x, double limit) {
  return _mm512_cmp_pd_mask(_mm512_abs_pd(x), _mm512_set1_pd(limit), _CMP_NLE_UQ);
}

[[gnu::always_inline]] inline bool InFastRange(Vec x) { return Beyond(x, kHighwaySineLimit) == 0; }

[[gnu::always_inline]] inline Vec VectorSine(Vec x, bool fast) {
  const Vec r = fast ? hn::Sin(hn::Full512<double>(), hn::Vec512<double>{x}).raw
                     : Sleef_sind8_u35avx512f(x);
  // sin(+-0) is +-0; Highway's sine gives +0 for both.
  return _mm512_mask_blend_pd(_mm512_cmp_pd_mask(x, _mm512_setzero_pd(), _CMP_EQ_OQ), r, x);
}

[[gnu::always_inline]] inline unsigned GuardLanes(Vec x, Vec r) {
  const Vec d = _mm512_mul_pd(_mm512_abs_pd(r), _mm512_set1_pd(kSineGuardWindow));
  const __m256 lo = _mm512_cvtpd_ps(_mm512_sub_pd(r, d));
  const __m256 hi = _mm512_cvtpd_ps(_mm512_add_pd(r, d));
  const auto near = static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(lo, hi, _CMP_NEQ_UQ)));
  return near | Beyond(x, kVectorSineLimit);
}

#include "engine/fast_sines.inc"
#include "engine/fast_kernel_body.inc"

}  // namespace

void KernelAvx512(const KernelPlan& plan, const KernelBlock& block, SineCounts& counts) {
  Kernel(plan, block, counts);
}

void SinesAvx512(const float* x, float* out, int n, SineCounts& counts) {
  VectorSines(x, out, n, counts);
}

}  // namespace quibbet::fast
