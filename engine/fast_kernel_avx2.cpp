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

void VectorSines(const float* x, float* out, int n, SineCounts& counts) {
  const __m256d window = _mm256_set1_pd(kSineGuardWindow);
  const __m256d limit = _mm256_set1_pd(kVectorSineLimit);
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
  counts.total += static_cast<std::uint64_t>(n);
  for (int i = 0; i < n; i += kLanes) {
    const int lanes = n - i < kLanes ? n - i : kLanes;
    alignas(16) float args[kLanes] = {};
    __builtin_memcpy(args, x + i, sizeof args[0] * static_cast<unsigned>(lanes));
    const __m256d xd = _mm256_cvtps_pd(_mm_load_ps(args));
    const __m256d r = Sleef_sind4_u35avx2(xd);
    const __m256d d = _mm256_mul_pd(_mm256_and_pd(r, magnitude), window);
    const __m128 lo = _mm256_cvtpd_ps(_mm256_sub_pd(r, d));
    const __m128 hi = _mm256_cvtpd_ps(_mm256_add_pd(r, d));
    unsigned scalar = static_cast<unsigned>(_mm_movemask_ps(_mm_cmp_ps(lo, hi, _CMP_NEQ_UQ)));
    scalar |= static_cast<unsigned>(
        _mm256_movemask_pd(_mm256_cmp_pd(_mm256_and_pd(xd, magnitude), limit, _CMP_NLE_UQ)));
    alignas(16) float result[kLanes];
    _mm_store_ps(result, _mm256_cvtpd_ps(r));
    scalar &= (1u << lanes) - 1;
    for (; scalar != 0; scalar &= scalar - 1) {
      const int lane = __builtin_ctz(scalar);
      result[lane] = SineRoundedToFloat(args[lane]);
      ++counts.scalar;
    }
    __builtin_memcpy(out + i, result, sizeof result[0] * static_cast<unsigned>(lanes));
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
