// The fast render's vector passes for Advanced SIMD (NEON), which every
// aarch64 CPU has: no extra flags and no run-time check. The counterpart of
// x86-64's SSE2 kernel: two doubles a register for the sines, four floats
// for the single-precision passes, which the compiler vectorises.
#include <arm_neon.h>

#include <bit>
#include <cstdint>

#include "engine/renderer.hpp"
#include "engine/simd/kernel.hpp"
#include "engine/sine_constants.hpp"
#include "engine/voice.hpp"

namespace quibbet::fast {
namespace {

using Vec = float64x2_t;
constexpr int kLanes = 2;

[[gnu::always_inline]] inline Vec LoadWidened(const float* x) { return vcvt_f64_f32(vld1_f32(x)); }

[[gnu::always_inline]] inline void StoreRounded(float* out, Vec r) {
  vst1_f32(out, vcvt_f32_f64(r));  // rounds to nearest, as the default FPCR says
}

[[gnu::always_inline]] inline uint64x2_t Bits(Vec v) { return vreinterpretq_u64_f64(v); }
[[gnu::always_inline]] inline Vec FromBits(uint64x2_t b) { return vreinterpretq_f64_u64(b); }

// The operations engine/sine_fast.inc is written in.
[[gnu::always_inline]] inline Vec Set(double v) { return vdupq_n_f64(v); }
[[gnu::always_inline]] inline Vec Add(Vec a, Vec b) { return vaddq_f64(a, b); }
[[gnu::always_inline]] inline Vec Sub(Vec a, Vec b) { return vsubq_f64(a, b); }
[[gnu::always_inline]] inline Vec Mul(Vec a, Vec b) { return vmulq_f64(a, b); }
[[gnu::always_inline]] inline Vec And(Vec a, Vec b) {
  return FromBits(vandq_u64(Bits(a), Bits(b)));
}
[[gnu::always_inline]] inline Vec Xor(Vec a, Vec b) {
  return FromBits(veorq_u64(Bits(a), Bits(b)));
}
[[gnu::always_inline]] inline Vec LowBitToSign(Vec v) { return FromBits(vshlq_n_u64(Bits(v), 63)); }

// One bit per lane of an all-ones-or-zero mask, lane 0 lowest.
[[gnu::always_inline]] inline unsigned LaneBits(uint64x2_t mask) {
  return static_cast<unsigned>((vgetq_lane_u64(mask, 0) & 1) | (vgetq_lane_u64(mask, 1) & 2));
}

// Lanes whose magnitude exceeds limit, or NaN: not (|x| <= limit).
[[gnu::always_inline]] inline unsigned Beyond(Vec x, double limit) {
  const uint64x2_t within = vcleq_f64(vabsq_f64(x), vdupq_n_f64(limit));
  return LaneBits(veorq_u64(within, vdupq_n_u64(~std::uint64_t{0})));
}

[[gnu::always_inline]] inline unsigned GuardLanes(Vec x, Vec r) {
  const Vec d = vmulq_f64(vabsq_f64(r), vdupq_n_f64(sine::kGuardWindow));
  const float32x2_t lo = vcvt_f32_f64(vsubq_f64(r, d));
  const float32x2_t hi = vcvt_f32_f64(vaddq_f64(r, d));
  // Not equal, NaN included, as SSE2's unordered comparison.
  const uint64x2_t same = vmovl_u32(vceq_f32(lo, hi));
  const unsigned near = LaneBits(veorq_u64(same, vdupq_n_u64(0xFFFFFFFFu)));
  return near | Beyond(x, sine::kFastLimit);
}

#include "engine/simd/vector_sines.inc"

// The passes over a block, which call VectorSines above.
#include "engine/simd/kernel_body.inc"

}  // namespace

extern const KernelSet kOnlyKernelSet = {"neon", Kernel, VectorSines};

}  // namespace quibbet::fast
