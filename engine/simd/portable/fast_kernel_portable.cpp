// The fast render's passes on any CPU, in plain C++: one double per "vector".
// The passes and the guard are the vector kernels' own, so this path gives
// their bytes (and the reference's) wherever it is compiled.
#include <bit>
#include <cstdint>

#include "engine/renderer.hpp"
#include "engine/simd/kernel.hpp"
#include "engine/sine_constants.hpp"
#include "engine/voice.hpp"

namespace quibbet::fast {
namespace {

using Vec = double;
constexpr int kLanes = 1;

[[gnu::always_inline]] inline Vec LoadWidened(const float* x) { return *x; }
[[gnu::always_inline]] inline void StoreRounded(float* out, Vec r) {
  *out = static_cast<float>(r);  // the one rounding of the sine's result
}

[[gnu::always_inline]] inline std::uint64_t Bits(Vec v) {
  return __builtin_bit_cast(std::uint64_t, v);
}
[[gnu::always_inline]] inline Vec FromBits(std::uint64_t b) { return __builtin_bit_cast(Vec, b); }

// The operations engine/sine_fast.inc is written in.
[[gnu::always_inline]] inline Vec Set(double v) { return v; }
[[gnu::always_inline]] inline Vec Add(Vec a, Vec b) { return a + b; }
[[gnu::always_inline]] inline Vec Sub(Vec a, Vec b) { return a - b; }
[[gnu::always_inline]] inline Vec Mul(Vec a, Vec b) { return a * b; }
[[gnu::always_inline]] inline Vec And(Vec a, Vec b) { return FromBits(Bits(a) & Bits(b)); }
[[gnu::always_inline]] inline Vec Xor(Vec a, Vec b) { return FromBits(Bits(a) ^ Bits(b)); }
[[gnu::always_inline]] inline Vec LowBitToSign(Vec v) { return FromBits(Bits(v) << 63); }

// 1 when x's magnitude exceeds limit, or x is NaN.
[[gnu::always_inline]] inline unsigned Beyond(Vec x, double limit) {
  return !(__builtin_fabs(x) <= limit);
}

[[gnu::always_inline]] inline unsigned GuardLanes(Vec x, Vec r) {
  const double d = __builtin_fabs(r) * sine::kGuardWindow;
  // != is true for NaN, as the vector kernels' unordered comparisons are.
  const bool near = static_cast<float>(r - d) != static_cast<float>(r + d);
  return static_cast<unsigned>(near) | Beyond(x, sine::kFastLimit);
}

#include "engine/simd/vector_sines.inc"

// The passes over a block, which call VectorSines above.
#include "engine/simd/kernel_body.inc"

}  // namespace

extern const KernelSet kOnlyKernelSet = {"portable", Kernel, VectorSines};

}  // namespace quibbet::fast
