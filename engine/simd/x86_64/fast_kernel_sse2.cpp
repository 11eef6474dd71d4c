// The fast render's vector passes for SSE2, the x86-64 baseline: no extra
// flags.
#include <emmintrin.h>

#include <bit>
#include <cstdint>

#include "engine/renderer.hpp"
#include "engine/simd/kernel.hpp"
#include "engine/sine_constants.hpp"
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

// The operations engine/sine_fast.inc is written in.
[[gnu::always_inline]] inline Vec Set(double v) { return _mm_set1_pd(v); }
[[gnu::always_inline]] inline Vec Add(Vec a, Vec b) { return _mm_add_pd(a, b); }
[[gnu::always_inline]] inline Vec Sub(Vec a, Vec b) { return _mm_sub_pd(a, b); }
[[gnu::always_inline]] inline Vec Mul(Vec a, Vec b) { return _mm_mul_pd(a, b); }
[[gnu::always_inline]] inline Vec And(Vec a, Vec b) { return _mm_and_pd(a, b); }
[[gnu::always_inline]] inline Vec Xor(Vec a, Vec b) { return _mm_xor_pd(a, b); }
[[gnu::always_inline]] inline Vec LowBitToSign(Vec v) {
  return _mm_castsi128_pd(_mm_slli_epi64(_mm_castpd_si128(v), 63));
}

[[gnu::always_inline]] inline Vec Magnitude(Vec x) {
  return _mm_and_pd(x, _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF)));
}

// Lanes whose magnitude exceeds limit, or NaN.
[[gnu::always_inline]] inline unsigned Beyond(Vec x, double limit) {
  return static_cast<unsigned>(_mm_movemask_pd(_mm_cmpnle_pd(Magnitude(x), _mm_set1_pd(limit))));
}

[[gnu::always_inline]] inline unsigned GuardLanes(Vec x, Vec r) {
  const Vec d = _mm_mul_pd(Magnitude(r), _mm_set1_pd(sine::kGuardWindow));
  const __m128 lo = _mm_cvtpd_ps(_mm_sub_pd(r, d));
  const __m128 hi = _mm_cvtpd_ps(_mm_add_pd(r, d));
  // The upper two lanes of lo and hi are zero, so they never differ.
  const auto near = static_cast<unsigned>(_mm_movemask_ps(_mm_cmpneq_ps(lo, hi)));
  return near | Beyond(x, sine::kFastLimit);
}

#include "engine/simd/vector_sines.inc"

// The passes over a block, which call VectorSines above.
#include "engine/simd/kernel_body.inc"

}  // namespace

extern const KernelSet kSse2Set = {"sse2", Kernel, VectorSines};

}  // namespace quibbet::fast
