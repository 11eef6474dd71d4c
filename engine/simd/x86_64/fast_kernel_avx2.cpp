// The fast render's vector passes for AVX2: compiled with -mavx2, -mfma,
// -mbmi and -mbmi2 (no fused multiply-adds come of it: contraction is off).
#include <immintrin.h>

#include <bit>
#include <cstdint>

#include "engine/renderer.hpp"
#include "engine/simd/kernel.hpp"
#include "engine/sine_constants.hpp"
#include "engine/voice.hpp"

namespace quibbet::fast {
namespace {

#ifndef __AVX2__
#error "compile this file with the AVX2 flags"
#endif

using Vec = __m256d;
constexpr int kLanes = 4;

[[gnu::always_inline]] inline Vec LoadWidened(const float* x) {
  return _mm256_cvtps_pd(_mm_loadu_ps(x));
}

[[gnu::always_inline]] inline void StoreRounded(float* out, Vec r) {
  _mm_storeu_ps(out, _mm256_cvtpd_ps(r));
}

// The operations engine/sine_fast.inc is written in.
[[gnu::always_inline]] inline Vec Set(double v) { return _mm256_set1_pd(v); }
[[gnu::always_inline]] inline Vec Add(Vec a, Vec b) { return _mm256_add_pd(a, b); }
[[gnu::always_inline]] inline Vec Sub(Vec a, Vec b) { return _mm256_sub_pd(a, b); }
[[gnu::always_inline]] inline Vec Mul(Vec a, Vec b) { return _mm256_mul_pd(a, b); }
[[gnu::always_inline]] inline Vec And(Vec a, Vec b) { return _mm256_and_pd(a, b); }
[[gnu::always_inline]] inline Vec Xor(Vec a, Vec b) { return _mm256_xor_pd(a, b); }
[[gnu::always_inline]] inline Vec LowBitToSign(Vec v) {
  return _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_castpd_si256(v), 63));
}

[[gnu::always_inline]] inline Vec Magnitude(Vec x) {
  return _mm256_and_pd(x, _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF)));
}

// Lanes whose magnitude exceeds limit, or NaN.
[[gnu::always_inline]] inline unsigned Beyond(Vec x, double limit) {
  const Vec beyond = _mm256_cmp_pd(Magnitude(x), _mm256_set1_pd(limit), _CMP_NLE_UQ);
  return static_cast<unsigned>(_mm256_movemask_pd(beyond));
}

[[gnu::always_inline]] inline unsigned GuardLanes(Vec x, Vec r) {
  const Vec d = _mm256_mul_pd(Magnitude(r), _mm256_set1_pd(sine::kGuardWindow));
  const __m128 lo = _mm256_cvtpd_ps(_mm256_sub_pd(r, d));
  const __m128 hi = _mm256_cvtpd_ps(_mm256_add_pd(r, d));
  const auto near = static_cast<unsigned>(_mm_movemask_ps(_mm_cmp_ps(lo, hi, _CMP_NEQ_UQ)));
  return near | Beyond(x, sine::kFastLimit);
}

#include "engine/simd/vector_sines.inc"

// The passes over a block, which call VectorSines above.
#include "engine/simd/kernel_body.inc"

}  // namespace

extern const KernelSet kAvx2Set = {"avx2", Kernel, VectorSines};

}  // namespace quibbet::fast
