// The fast render's vector passes for AVX-512 (compiled with -mavx512f).
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

namespace quibbet::fast {
namespace {

constexpr int kLanes = 8;

// Sines of kLanes values; see kSineGuardWindow for the guard.
void SineLanes(const float* x, float* out, SineCounts& counts) {
  const __m256 xf = _mm256_loadu_ps(x);
  const __m512d xd = _mm512_cvtps_pd(xf);
  const __m512d r = Sleef_sind8_u35avx512f(xd);
  const __m512d d = _mm512_mul_pd(_mm512_abs_pd(r), _mm512_set1_pd(kSineGuardWindow));
  const __m256 lo = _mm512_cvtpd_ps(_mm512_sub_pd(r, d));
  const __m256 hi = _mm512_cvtpd_ps(_mm512_add_pd(r, d));
  unsigned scalar = static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(lo, hi, _CMP_NEQ_UQ)));
  scalar |= _mm512_cmp_pd_mask(_mm512_abs_pd(xd), _mm512_set1_pd(kVectorSineLimit), _CMP_NLE_UQ);
  alignas(32) float args[kLanes];
  if (scalar != 0) _mm256_store_ps(args, xf);  // out may be x
  _mm256_storeu_ps(out, _mm512_cvtpd_ps(r));
  for (; scalar != 0; scalar &= scalar - 1) {
    const int lane = __builtin_ctz(scalar);
    out[lane] = SineRoundedToFloat(args[lane]);
    ++counts.scalar;
  }
}

void VectorSines(const float* x, float* out, int n, SineCounts& counts) {
  counts.total += static_cast<std::uint64_t>(n);
  int i = 0;
  for (; i + kLanes <= n; i += kLanes) SineLanes(x + i, out + i, counts);
  if (i < n) {
    // Zeros pad the last vector: their sine is exactly zero and never checked.
    float args[kLanes] = {};
    float results[kLanes];
    for (int j = 0; i + j < n; ++j) args[j] = x[i + j];
    SineLanes(args, results, counts);
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
