// The fast render's vector passes for SSE2, the x86-64 baseline (no extra flags).
#include <emmintrin.h>
#include <sleef.h>

#include <cstdint>

#include "engine/fast_kernel.hpp"
#include "engine/renderer.hpp"
#include "engine/voice.hpp"

namespace quibbet::fast {
namespace {

constexpr int kLanes = 2;

void VectorSines(const float* x, float* out, int n, SineCounts& counts) {
  const __m128d window = _mm_set1_pd(kSineGuardWindow);
  const __m128d limit = _mm_set1_pd(kVectorSineLimit);
  const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF));
  counts.total += static_cast<std::uint64_t>(n);
  for (int i = 0; i < n; i += kLanes) {
    const int lanes = n - i < kLanes ? n - i : kLanes;
    alignas(16) float args[4] = {};
    __builtin_memcpy(args, x + i, sizeof args[0] * static_cast<unsigned>(lanes));
    const __m128d xd = _mm_cvtps_pd(_mm_load_ps(args));
    const __m128d r = Sleef_sind2_u35sse2(xd);
    const __m128d d = _mm_mul_pd(_mm_and_pd(r, magnitude), window);
    const __m128 lo = _mm_cvtpd_ps(_mm_sub_pd(r, d));
    const __m128 hi = _mm_cvtpd_ps(_mm_add_pd(r, d));
    // The upper two lanes of lo and hi are zero, so they never differ.
    unsigned scalar = static_cast<unsigned>(_mm_movemask_ps(_mm_cmpneq_ps(lo, hi)));
    scalar |= static_cast<unsigned>(_mm_movemask_pd(_mm_cmpnle_pd(_mm_and_pd(xd, magnitude), limit)));
    alignas(16) float result[4];
    _mm_store_ps(result, _mm_cvtpd_ps(r));
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

void KernelSse2(const KernelPlan& plan, const KernelBlock& block, SineCounts& counts) {
  Kernel(plan, block, counts);
}

void SinesSse2(const float* x, float* out, int n, SineCounts& counts) {
  VectorSines(x, out, n, counts);
}

}  // namespace quibbet::fast
