// The fast render's vector passes for AVX-512 (compiled with -mavx512f,
// -mavx512vl, -mavx512dq, -mavx512bw and the AVX2 file's flags).
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
#include "hwy/contrib/math/math-inl.h"
#include "hwy/highway.h"
#include "engine/renderer.hpp"
#include "engine/voice.hpp"

namespace quibbet::fast {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
static_assert(HWY_TARGET == HWY_AVX3, "compile this file with the AVX-512 flags");

constexpr int kLanes = 8;
constexpr int kUnroll = 4;  // independent vectors in flight

// The vector sine of every lane, before the guard.
inline __attribute__((always_inline)) __m512d VectorSine(__m512d xd, bool in_highway_range) {
  const __m512d any = in_highway_range ? hn::Sin(hn::Full512<double>(), hn::Vec512<double>{xd}).raw : Sleef_sind8_u35avx512f(xd);
  // sin(-0) is -0; Highway's sine gives +0.
  return _mm512_mask_blend_pd(_mm512_cmp_pd_mask(xd, _mm512_setzero_pd(), _CMP_EQ_OQ), any, xd);
}

// Lanes that must go to the scalar sine; see kSineGuardWindow.
inline __attribute__((always_inline)) unsigned GuardLanes(__m512d xd, __m512d r) {
  const __m512d d = _mm512_mul_pd(_mm512_abs_pd(r), _mm512_set1_pd(kSineGuardWindow));
  const __m256 lo = _mm512_cvtpd_ps(_mm512_sub_pd(r, d));
  const __m256 hi = _mm512_cvtpd_ps(_mm512_add_pd(r, d));
  const unsigned near = static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(lo, hi, _CMP_NEQ_UQ)));
  return near | _mm512_cmp_pd_mask(_mm512_abs_pd(xd), _mm512_set1_pd(kVectorSineLimit), _CMP_NLE_UQ);
}

// Sines of kUnroll * kLanes values, or of kLanes values when `vectors` is 1.
inline __attribute__((always_inline)) void SineVectors(const float* x, float* out, int vectors,
                                                       SineCounts& counts) {
  __m512d xd[kUnroll], r[kUnroll];
  bool in_range = true;
  for (int v = 0; v < vectors; ++v) {
    xd[v] = _mm512_cvtps_pd(_mm256_loadu_ps(x + v * kLanes));
    in_range = in_range && _mm512_cmp_pd_mask(_mm512_abs_pd(xd[v]), _mm512_set1_pd(kHighwaySineLimit), _CMP_NLE_UQ) == 0;
  }
  // All lanes in Highway's range is the common case: straight-line code then.
  for (int v = 0; v < vectors; ++v) r[v] = VectorSine(xd[v], in_range);
  if (!in_range) {
    for (int v = 0; v < vectors; ++v) r[v] = VectorSine(xd[v], _mm512_cmp_pd_mask(_mm512_abs_pd(xd[v]), _mm512_set1_pd(kHighwaySineLimit), _CMP_NLE_UQ) == 0);
  }
  unsigned long long scalar = 0;
  for (int v = 0; v < vectors; ++v)
    scalar |= static_cast<unsigned long long>(GuardLanes(xd[v], r[v])) << (v * kLanes);
  float args[kUnroll * kLanes];
  if (scalar != 0) {
    for (int j = 0; j < vectors * kLanes; ++j) args[j] = x[j];  // out may be x
  }
  for (int v = 0; v < vectors; ++v) _mm256_storeu_ps(out + v * kLanes, _mm512_cvtpd_ps(r[v]));
  for (; scalar != 0; scalar &= scalar - 1) {
    const int lane = __builtin_ctzll(scalar);
    out[lane] = SineRoundedToFloat(args[lane]);
    ++counts.scalar;
  }
}

void VectorSines(const float* x, float* out, int n, SineCounts& counts) {
  counts.total += static_cast<std::uint64_t>(n);
  int i = 0;
  for (; i + kUnroll * kLanes <= n; i += kUnroll * kLanes) SineVectors(x + i, out + i, kUnroll, counts);
  for (; i + kLanes <= n; i += kLanes) SineVectors(x + i, out + i, 1, counts);
  if (i < n) {
    // Zeros pad the last vector: their sine is exactly zero and never checked.
    float args[kLanes] = {};
    float results[kLanes];
    for (int j = 0; i + j < n; ++j) args[j] = x[i + j];
    SineVectors(args, results, 1, counts);
    for (int j = 0; i + j < n; ++j) out[i + j] = results[j];
  }
}

#include "engine/fast_kernel_body.inc"

}  // namespace

void KernelAvx512(const KernelPlan& plan, const KernelBlock& block, SineCounts& counts) {
  Kernel(plan, block, counts);
}

void SinesAvx512(const float* x, float* out, int n, SineCounts& counts) {
  VectorSines(x, out, n, counts);
}

}  // namespace quibbet::fast
