// The fast render's vector passes for SSE2, the x86-64 baseline (no extra flags).
#include <emmintrin.h>
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
  // Two SSE2 sines of two lanes each, so that loads and stores are whole.
  const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF));
  const __m128d window = _mm_set1_pd(kSineGuardWindow);
  const __m128d limit = _mm_set1_pd(kVectorSineLimit);
  const __m128 xf = _mm_loadu_ps(x);
  const __m128d xd[2] = {_mm_cvtps_pd(xf), _mm_cvtps_pd(_mm_movehl_ps(xf, xf))};
  __m128 f[2];
  unsigned scalar = 0;
  for (int half = 0; half < 2; ++half) {
    const __m128d r = Sleef_sind2_u35sse2(xd[half]);
    const __m128d d = _mm_mul_pd(_mm_and_pd(r, magnitude), window);
    const __m128 lo = _mm_cvtpd_ps(_mm_sub_pd(r, d));
    const __m128 hi = _mm_cvtpd_ps(_mm_add_pd(r, d));
    // The upper two lanes of lo and hi are zero, so they never differ.
    const unsigned near = static_cast<unsigned>(_mm_movemask_ps(_mm_cmpneq_ps(lo, hi)));
    const unsigned wide = static_cast<unsigned>(_mm_movemask_pd(_mm_cmpnle_pd(_mm_and_pd(xd[half], magnitude), limit)));
    scalar |= (near | wide) << (2 * half);
    f[half] = _mm_cvtpd_ps(r);
  }
  alignas(16) float args[kLanes];
  if (scalar != 0) _mm_store_ps(args, xf);  // out may be x
  _mm_storeu_ps(out, _mm_movelh_ps(f[0], f[1]));
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

void KernelSse2(const KernelPlan& plan, const KernelBlock& block, SineCounts& counts) {
  Kernel(plan, block, counts);
}

void SinesSse2(const float* x, float* out, int n, SineCounts& counts) {
  VectorSines(x, out, n, counts);
}

}  // namespace quibbet::fast
