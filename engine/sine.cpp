// The sound's sine: float(the double nearest sin x) for every float x, from
// IEEE double arithmetic and integer operations alone, so that it gives the
// same bits with every compiler, flag set and C library.
//
// Two evaluations. The fast one (engine/sine_fast.inc) is a few ULP of
// double from the true sine; its result is used when no float rounding
// boundary lies near it, which is almost always. Otherwise the slow one
// reduces the argument exactly with the bits of 1/pi and evaluates the
// Taylor series in double-double, some 100 bits, and rounds that to the
// nearest double and then to float. `make verify-sine` checks the result for
// all 2^32 floats.
#include <bit>
#include <cstdint>

#include "engine/sine_constants.hpp"
#include "engine/voice.hpp"

namespace quibbet {
namespace {

// The scalar operations engine/sine_fast.inc is written in.
using Vec = double;
inline double Set(double v) { return v; }
inline double Add(double a, double b) { return a + b; }
inline double Sub(double a, double b) { return a - b; }
inline double Mul(double a, double b) { return a * b; }
inline double And(double a, double b) {
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(a) & std::bit_cast<std::uint64_t>(b));
}
inline double Xor(double a, double b) {
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(a) ^ std::bit_cast<std::uint64_t>(b));
}
inline double LowBitToSign(double v) {
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(v) << 63);
}

#include "engine/sine_fast.inc"

// 2^e for a normal double exponent, made from its bits.
double Power2(int e) { return std::bit_cast<double>(static_cast<std::uint64_t>(e + 1023) << 52); }

// True when every double within the guard window of s rounds to the float
// that s rounds to, and so does the double nearest the true sine.
bool SafeToRound(double s) {
  const double d = (s < 0 ? -s : s) * sine::kGuardWindow;
  return static_cast<float>(s - d) == static_cast<float>(s + d);
}

// ---- Double-double arithmetic: a value is hi + lo with |lo| <= ulp(hi) / 2.

struct DD {
  double hi, lo;
};

// |a| >= |b| or a == 0.
DD FastTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

DD TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// Dekker's product: exact, without a fused multiply-add.
DD TwoProduct(double a, double b) {
  constexpr double kSplitter = 0x1p27 + 1;
  const double ca = kSplitter * a, cb = kSplitter * b;
  const double ah = ca - (ca - a), al = a - ah;
  const double bh = cb - (cb - b), bl = b - bh;
  const double p = a * b;
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

DD operator*(DD a, DD b) {
  DD p = TwoProduct(a.hi, b.hi);
  p.lo = p.lo + (a.hi * b.lo + a.lo * b.hi);
  return FastTwoSum(p.hi, p.lo);
}

DD operator+(DD a, DD b) {
  DD s = TwoSum(a.hi, b.hi);
  const DD t = TwoSum(a.lo, b.lo);
  s = FastTwoSum(s.hi, s.lo + t.hi);
  return FastTwoSum(s.hi, s.lo + t.lo);
}

// ---- Exact argument reduction.

// A fixed-point number of 256 bits, least significant word first.
constexpr int kWords = 8;
struct Wide {
  std::uint32_t w[kWords] = {};

  bool Bit(int b) const { return (w[b >> 5] >> (b & 31)) & 1u; }

  void AddBit(int b) {
    std::uint64_t carry = std::uint64_t{1} << (b & 31);
    for (int i = b >> 5; i < kWords && carry != 0; ++i) {
      const std::uint64_t t = w[i] + carry;
      w[i] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
  }

  // Keeps bits 0 .. b-1.
  void KeepBelow(int b) {
    for (int i = 0; i < kWords; ++i) {
      if (i * 32 >= b) {
        w[i] = 0;
      } else if (i * 32 + 32 > b) {
        w[i] &= (1u << (b - i * 32)) - 1u;
      }
    }
  }

  // 53 bits from bit `low` up; bits below 0 read as zero.
  std::uint64_t Bits53(int low) const {
    const int i = low >> 5;  // arithmetic shift: floor division
    const int s = low & 31;
    auto word = [&](int j) -> std::uint64_t { return j >= 0 && j < kWords ? w[j] : 0; };
    const std::uint64_t lo64 = word(i) | word(i + 1) << 32;
    const std::uint64_t window = (lo64 >> s) | (s != 0 ? word(i + 2) << (64 - s) : 0);
    return window & ((std::uint64_t{1} << 53) - 1);
  }

  // Position of the highest set bit, or -1.
  int Top() const {
    for (int i = kWords - 1; i >= 0; --i)
      if (w[i] != 0) return i * 32 + 31 - std::countl_zero(w[i]);
    return -1;
  }
};

struct Reduced {
  bool odd;  // k is odd: sin |x| = -sin r
  DD r;      // |x| - k * pi, in [-pi/2, pi/2]
};

// |x| = m * 2^e, with the integer k nearest |x| / pi, for 2^-12 <= |x| < inf.
Reduced Reduce(float x) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(x) & 0x7FFFFFFFu;
  const std::uint32_t m = (bits & 0x7FFFFFu) | 0x800000u;  // normal: |x| >= 2^-12
  const int e = static_cast<int>(bits >> 23) - 150;

  // |x| / pi = m * 2^e * sum(words[i] * 2^(-32 (i + 1))). Words whose
  // products are multiples of 2 are skipped: they change neither sin nor k's
  // parity. Six words follow, so the part of 1/pi left out weighs less than
  // m * 2^(e - 32 (first + 6)) <= 2^-160.
  const int first = e > 0 ? (e + 31) / 32 - 1 : 0;
  Wide product;
  std::uint64_t carry = 0;
  for (int j = 0; j < 6; ++j) {
    const std::uint64_t t = std::uint64_t{m} * sine::kInvPiWords[first + 5 - j] + carry;
    product.w[j] = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
  product.w[6] = static_cast<std::uint32_t>(carry);
  // product * 2^scale = |x| / pi modulo 2; bit `one` has the weight 1.
  const int scale = e - 32 * (first + 6);
  const int one = -scale;

  // v + 1/2 modulo 2: its bit of weight 1 is k's parity, and its fraction g
  // gives |x| / pi - k = g - 1/2.
  product.AddBit(one - 1);
  const bool odd = product.Bit(one);
  product.KeepBelow(one);
  bool negative;
  if (product.Bit(one - 1)) {
    product.w[(one - 1) >> 5] &= ~(1u << ((one - 1) & 31));
    negative = false;
  } else {  // 1/2 - g = (2^(one-1) - g) * 2^scale, negated in two's complement
    for (std::uint32_t& word : product.w) word = ~word;
    product.KeepBelow(one - 1);
    product.AddBit(0);
    negative = true;
  }

  // The fraction as a double-double: three pieces of 53 bits from its top.
  const int top = product.Top();
  DD f{0.0, 0.0};
  if (top >= 0) {
    const double a = static_cast<double>(product.Bits53(top - 52)) * Power2(scale + top - 52);
    const double b = static_cast<double>(product.Bits53(top - 105)) * Power2(scale + top - 105);
    const double c = static_cast<double>(product.Bits53(top - 158)) * Power2(scale + top - 158);
    f = FastTwoSum(a, b + c);
    if (negative) f = {-f.hi, -f.lo};
  }
  return {odd, f * DD{sine::kPiHi, sine::kPiLo}};
}

// sin r in double-double, |r| <= pi/2: the Taylor series to r^41.
DD SlowSinePolynomial(DD r) {
  using namespace sine;
  const DD z = r * r;
  DD p{kTaylorHi[kTaylorTerms - 1], kTaylorLo[kTaylorTerms - 1]};
  for (int i = kTaylorTerms - 2; i >= 0; --i) p = p * z + DD{kTaylorHi[i], kTaylorLo[i]};
  return r + r * (z * p);
}

// The result's sign is x's, flipped when k is odd.
double WithSign(double s, float x, bool odd) {
  return (x < 0) != odd ? -s : s;
}

// Everything but the common case: NaN and inf, large arguments, and results
// near a float rounding boundary.
[[gnu::noinline]] float SlowSine(float x) {
  const double dx = x;
  const double ax = dx < 0 ? -dx : dx;
  // inf and NaN give NaN.
  if (!(ax <= 0x1.fffffep127)) return x - x;
  const Reduced reduced = Reduce(x);
  if (ax > sine::kFastLimit) {
    const double s = WithSign(SinePolynomial(reduced.r.hi), x, reduced.odd);
    if (SafeToRound(s)) return static_cast<float>(s);
  }
  // hi is the double nearest hi + lo, and that is the double nearest the
  // sine: the two differ by less than 2^-100 of it.
  const DD s = SlowSinePolynomial(reduced.r);
  return static_cast<float>(WithSign(s.hi, x, reduced.odd));
}

}  // namespace

float Sine(float x) {
  const double dx = x;
  const double ax = dx < 0 ? -dx : dx;
  if (ax <= sine::kFastLimit) {
    // Below 2^-12, sin x = x (1 - x^2/6 + ...) lies within 2^-26.5 of x
    // relative to x, nearer x than any other float or float rounding
    // boundary; the signed zeros and the subnormals are their own sines.
    if (ax < 0x1p-12) return x;
    // Below 1.5, k = rint(|x| / pi) is 0 and FastSine's reduction leaves |x|
    // as it is (|x| - 0 * pi is |x|), so skipping it gives the same bits.
    // Most of the limiter's arguments are here.
    double s;
    if (ax < 1.5) {
      s = dx < 0 ? -SinePolynomial(ax) : SinePolynomial(ax);
    } else {
      s = FastSine(dx);
    }
    // Rounding to float is then the only rounding: s is close enough to the
    // nearest double of the sine that both give the same float.
    if (SafeToRound(s)) return static_cast<float>(s);
  }
  return SlowSine(x);
}

}  // namespace quibbet
