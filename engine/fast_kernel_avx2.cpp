// The fast render's vector passes for AVX2 (compiled with -mavx2).
#include <immintrin.h>
#include <sleef.h>

#include <cstdint>

#include "engine/fast_kernel.hpp"
#include "engine/renderer.hpp"
#include "engine/voice.hpp"

namespace quibbet::fast {
namespace {

constexpr int kLanes = 4;

// Sines of kLanes values; see kSineGuardWindow for the guard.
void SineLanes(const float* x, float* out, SineCounts& counts) {
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
  const __m128 xf = _mm_loadu_ps(x);
  const __m256d xd = _mm256_cvtps_pd(xf);
  const __m256d r = Sleef_sind4_u35avx2(xd);
  const __m256d d = _mm256_mul_pd(_mm256_and_pd(r, magnitude), _mm256_set1_pd(kSineGuardWindow));
  const __m128 lo = _mm256_cvtpd_ps(_mm256_sub_pd(r, d));
  const __m128 hi = _mm256_cvtpd_ps(_mm256_add_pd(r, d));
  unsigned scalar = static_cast<unsigned>(_mm_movemask_ps(_mm_cmp_ps(lo, hi, _CMP_NEQ_UQ)));
  scalar |= static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(
      _mm256_and_pd(xd, magnitude), _mm256_set1_pd(kVectorSineLimit), _CMP_NLE_UQ)));
  alignas(16) float args[kLanes];
  if (scalar != 0) _mm_store_ps(args, xf);  // out may be x
  _mm_storeu_ps(out, _mm256_cvtpd_ps(r));
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

void KernelAvx2(const KernelPlan& plan, const KernelBlock& block, SineCounts& counts) {
  Kernel(plan, block, counts);
}

void SinesAvx2(const float* x, float* out, int n, SineCounts& counts) {
  VectorSines(x, out, n, counts);
}

}  // namespace quibbet::fast
