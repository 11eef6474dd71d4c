// The fast render's vector passes for AVX2 (compiled with -mavx2, -mfma and
// -mbmi2, which Highway's AVX2 target asks for).
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
static_assert(HWY_TARGET == HWY_AVX2, "compile this file with the AVX2 flags");

constexpr int kLanes = 4;
constexpr int kUnroll = 4;  // independent vectors in flight

// The vector sine of every lane, before the guard.
inline __attribute__((always_inline)) __m256d VectorSine(__m256d xd, bool in_highway_range) {
  const __m256d any = in_highway_range ? hn::Sin(hn::Full256<double>(), hn::Vec256<double>{xd}).raw : Sleef_sind4_u35avx2(xd);
  // sin(-0) is -0; Highway's sine gives +0.
  return _mm256_blendv_pd(any, xd, _mm256_cmp_pd(xd, _mm256_setzero_pd(), _CMP_EQ_OQ));
}

// Lanes that must go to the scalar sine; see kSineGuardWindow.
inline __attribute__((always_inline)) unsigned GuardLanes(__m256d xd, __m256d r) {
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
  const __m256d d = _mm256_mul_pd(_mm256_and_pd(r, magnitude), _mm256_set1_pd(kSineGuardWindow));
  const __m128 lo = _mm256_cvtpd_ps(_mm256_sub_pd(r, d));
  const __m128 hi = _mm256_cvtpd_ps(_mm256_add_pd(r, d));
  const unsigned near = static_cast<unsigned>(_mm_movemask_ps(_mm_cmp_ps(lo, hi, _CMP_NEQ_UQ)));
  return near | static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(
                    _mm256_and_pd(xd, magnitude), _mm256_set1_pd(kVectorSineLimit), _CMP_NLE_UQ)));
}

// Sines of kUnroll * kLanes values, or of kLanes values when `vectors` is 1.
inline __attribute__((always_inline)) void SineVectors(const float* x, float* out, int vectors,
                                                       SineCounts& counts) {
  __m256d xd[kUnroll], r[kUnroll];
  bool in_range = true;
  for (int v = 0; v < vectors; ++v) {
    xd[v] = _mm256_cvtps_pd(_mm_loadu_ps(x + v * kLanes));
    in_range = in_range && _mm256_movemask_pd(_mm256_cmp_pd(
                                   _mm256_and_pd(xd[v], _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF))),
                                   _mm256_set1_pd(kHighwaySineLimit), _CMP_NLE_UQ)) == 0;
  }
  // All lanes in Highway's range is the common case: straight-line code then.
  for (int v = 0; v < vectors; ++v) r[v] = VectorSine(xd[v], in_range);
  if (!in_range) {
    for (int v = 0; v < vectors; ++v) r[v] = VectorSine(xd[v], _mm256_movemask_pd(_mm256_cmp_pd(
                                   _mm256_and_pd(xd[v], _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF))),
                                   _mm256_set1_pd(kHighwaySineLimit), _CMP_NLE_UQ)) == 0);
  }
  unsigned long long scalar = 0;
  for (int v = 0; v < vectors; ++v)
    scalar |= static_cast<unsigned long long>(GuardLanes(xd[v], r[v])) << (v * kLanes);
  float args[kUnroll * kLanes];
  if (scalar != 0) {
    for (int j = 0; j < vectors * kLanes; ++j) args[j] = x[j];  // out may be x
  }
  for (int v = 0; v < vectors; ++v) _mm_storeu_ps(out + v * kLanes, _mm256_cvtpd_ps(r[v]));
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

void KernelAvx2(const KernelPlan& plan, const KernelBlock& block, SineCounts& counts) {
  Kernel(plan, block, counts);
}

void SinesAvx2(const float* x, float* out, int n, SineCounts& counts) {
  VectorSines(x, out, n, counts);
}

}  // namespace quibbet::fast
