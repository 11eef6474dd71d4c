// The fast render's vector passes for AVX-512: compiled with the AVX2 file's
// flags and -mavx512f, -mavx512vl, -mavx512dq, -mavx512bw.

// gcc 12 takes the deliberately undefined upper lanes inside the AVX-512
// conversion intrinsics for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include <bit>
#include <cstdint>

#include "engine/renderer.hpp"
#include "engine/simd/kernel.hpp"
#include "engine/sine_constants.hpp"
#include "engine/voice.hpp"

namespace quibbet::fast {
namespace {

#if !defined(__AVX512F__) || !defined(__AVX512VL__) || !defined(__AVX512DQ__) || \
    !defined(__AVX512BW__)
#error "compile this file with the AVX-512 flags"
#endif

using Vec = __m512d;
constexpr int kLanes = 8;

[[gnu::always_inline]] inline Vec LoadWidened(const float* x) {
  return _mm512_cvtps_pd(_mm256_loadu_ps(x));
}

[[gnu::always_inline]] inline void StoreRounded(float* out, Vec r) {
  _mm256_storeu_ps(out, _mm512_cvtpd_ps(r));
}

// The operations engine/sine_fast.inc is written in.
[[gnu::always_inline]] inline Vec Set(double v) { return _mm512_set1_pd(v); }
[[gnu::always_inline]] inline Vec Add(Vec a, Vec b) { return _mm512_add_pd(a, b); }
[[gnu::always_inline]] inline Vec Sub(Vec a, Vec b) { return _mm512_sub_pd(a, b); }
[[gnu::always_inline]] inline Vec Mul(Vec a, Vec b) { return _mm512_mul_pd(a, b); }
[[gnu::always_inline]] inline Vec And(Vec a, Vec b) { return _mm512_and_pd(a, b); }
[[gnu::always_inline]] inline Vec Xor(Vec a, Vec b) { return _mm512_xor_pd(a, b); }
[[gnu::always_inline]] inline Vec LowBitToSign(Vec v) {
  return _mm512_castsi512_pd(_mm512_slli_epi64(_mm512_castpd_si512(v), 63));
}

// Lanes whose magnitude exceeds limit, or NaN.
[[gnu::always_inline]] inline unsigned Beyond(Vec x, double limit) {
  return _mm512_cmp_pd_mask(_mm512_abs_pd(x), _mm512_set1_pd(limit), _CMP_NLE_UQ);
}

[[gnu::always_inline]] inline unsigned GuardLanes(Vec x, Vec r) {
  const Vec d = _mm512_mul_pd(_mm512_abs_pd(r), _mm512_set1_pd(sine::kGuardWindow));
  const __m256 lo = _mm512_cvtpd_ps(_mm512_sub_pd(r, d));
  const __m256 hi = _mm512_cvtpd_ps(_mm512_add_pd(r, d));
  const auto near = static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(lo, hi, _CMP_NEQ_UQ)));
  return near | Beyond(x, sine::kFastLimit);
}

#include "engine/simd/vector_sines.inc"

// The passes over a block, which call VectorSines above.
#include "engine/simd/kernel_body.inc"

}  // namespace

extern const KernelSet kAvx512Set = {"avx512", Kernel, VectorSines};

}  // namespace quibbet::fast
