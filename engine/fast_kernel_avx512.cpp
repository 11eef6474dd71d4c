// The fast render's vector passes for AVX-512 (compiled with -mavx512f).
// gcc 12 takes the deliberately undefined upper lanes inside the AVX-512
// conversion intrinsics for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
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

void VectorSines(const float* x, float* out, int n, SineCounts& counts) {
  const __m512d window = _mm512_set1_pd(kSineGuardWindow);
  const __m512d limit = _mm512_set1_pd(kVectorSineLimit);
  counts.total += static_cast<std::uint64_t>(n);
  for (int i = 0; i < n; i += kLanes) {
    const int lanes = n - i < kLanes ? n - i : kLanes;
    alignas(32) float args[kLanes] = {};
    __builtin_memcpy(args, x + i, sizeof args[0] * static_cast<unsigned>(lanes));
    const __m512d xd = _mm512_cvtps_pd(_mm256_load_ps(args));
    const __m512d r = Sleef_sind8_u35avx512f(xd);
    const __m512d d = _mm512_mul_pd(_mm512_abs_pd(r), window);
    const __m256 lo = _mm512_cvtpd_ps(_mm512_sub_pd(r, d));
    const __m256 hi = _mm512_cvtpd_ps(_mm512_add_pd(r, d));
    unsigned scalar = static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(lo, hi, _CMP_NEQ_UQ)));
    scalar |= _mm512_cmp_pd_mask(_mm512_abs_pd(xd), limit, _CMP_NLE_UQ);
    alignas(32) float result[kLanes];
    _mm256_store_ps(result, _mm512_cvtpd_ps(r));
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

void KernelAvx512(const KernelPlan& plan, const KernelBlock& block, SineCounts& counts) {
  Kernel(plan, block, counts);
}

void SinesAvx512(const float* x, float* out, int n, SineCounts& counts) {
  VectorSines(x, out, n, counts);
}

}  // namespace quibbet::fast
