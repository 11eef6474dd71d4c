/* quibbet_player.c: quibbet's synthesis, the one the program itself renders
 * with. The contract is in quibbet_player.h.
 *
 * Arithmetic is IEEE double; every rounding to single precision is an
 * explicit (float) cast at the point where the sound is defined to round.
 * Reordering, fusing or widening any of these operations changes the bytes.
 */
#include "quibbet_player.h"

/* ---- The constants the program's vector kernels share, each with its
 * source. The program reads them from this file (its
 * engine/sine_constants.hpp defines QUIBBET_PLAYER_SHARED_CONSTANTS_ONLY and
 * includes it, which stops after this block), so that the kernels and the
 * player can never disagree: plain data only, up to the #ifndef below. */

/* pi rounded to single precision, used as a double. */
static const double kPi = 0x1.921fb6p+1;

/* The sine's constants, printed and checked with MPFR by quibbet's tests. */

/* The fast evaluation takes |x| <= kFastLimit: there k = rint(|x| / pi) <
 * 2^31, so k times each 22-bit part of pi is exact. */
static const double kFastLimit = 0x1p32;
/* 1/pi rounded to double. */
static const double kInvPi = 0x1.45f306dc9c883p-2;
/* pi = kPiPart1 + kPiPart2 + kPiPart3 + kPiPart4 + O(2^-121): the first three
 * truncated to 22 bits, the last rounded to 53. */
static const double kPiPart1 = 0x1.921fbp+1;
static const double kPiPart2 = 0x1.5110bp-21;
static const double kPiPart3 = 0x1.184698p-43;
static const double kPiPart4 = 0x1.3198a2e037073p-68;
/* Adding 1.5 * 2^52 rounds a double below 2^51 to an integer, half to even. */
static const double kRintShift = 0x1.8p52;
/* The fast result r is used only when every double within |r| * kGuardWindow
 * of it rounds to the same float: its error is a few ULP of r, at most
 * |r| * 2^-52 each, so the window covers it more than ten times over. */
static const double kGuardWindow = 0x1p-45;
/* Taylor coefficients (-1)^n / (2n+1)! for n = 1, 2, ...: the double nearest
 * each, and the double nearest the rest. */
#define QUIBBET_TAYLOR_TERMS 20 /* up to r^41 */
static const double kTaylorHi[QUIBBET_TAYLOR_TERMS] = {
    -0x1.5555555555555p-3,   0x1.1111111111111p-7,    -0x1.a01a01a01a01ap-13,
    0x1.71de3a556c734p-19,   -0x1.ae64567f544e4p-26,  0x1.6124613a86d09p-33,
    -0x1.ae7f3e733b81fp-41,  0x1.952c77030ad4ap-49,   -0x1.2f49b46814157p-57,
    0x1.71b8ef6dcf572p-66,   -0x1.761b41316381ap-75,  0x1.3f3ccdd165fa9p-84,
    -0x1.d1ab1c2dccea3p-94,  0x1.259f98b4358adp-103,  -0x1.434d2e783f5bcp-113,
    0x1.3981254dd0d52p-123,  -0x1.0dc59c716d91fp-133, 0x1.9ec8d1c94e85bp-144,
    -0x1.1e99449a4bacep-154, 0x1.65e61c39d0241p-165,
};
static const double kTaylorLo[QUIBBET_TAYLOR_TERMS] = {
    -0x1.5555555555555p-57,  0x1.1111111111111p-63,   -0x1.a01a01a01a01ap-73,
    -0x1.c154f8ddc6cp-73,    0x1.c062e06d1f209p-80,   0x1.f28e0cc748ebep-87,
    -0x1.1d8656b0ee8cbp-97,  0x1.ac981465ddc6cp-103,  -0x1.2650f61dbdcb4p-112,
    -0x1.d043ae40c4647p-120, 0x1.3423c7d91404fp-130,  -0x1.58ddadf344487p-139,
    -0x1.054d0c78aea14p-149, 0x1.eaf8c39dd9bc5p-157,  -0x1.0b87b91be9affp-167,
    -0x1.2b1f4c8015a2fp-177, -0x1.419e3fad3f031p-188, -0x1.670e9d4784ec6p-201,
    0x1.fefbb89514b3cp-210,  -0x1.c0ed181727269p-220,
};
/* The fast sin r = r + r * z * p(z), z = r^2, |r| <= pi/2 + tiny: p is the
 * Taylor series of (sin(r)/r - 1) / z economised to degree 6 on
 * 0 <= z <= 1.5708^2; sin r is off by less than 2^-50 of it. */
#define QUIBBET_FAST_TERMS 7
static const double kFastCoefficients[QUIBBET_FAST_TERMS] = {
    -0x1.555555555554fp-3,  0x1.111111111006cp-7,  -0x1.a01a019e69feap-13, 0x1.71de394e8577fp-19,
    -0x1.ae63be0c05cc5p-26, 0x1.60f6f3faea16fp-33, -0x1.a109bedae18dfp-41,
};
/* pi as a double-double. */
static const double kPiHi = 0x1.921fb54442d18p+1;
static const double kPiLo = 0x1.1a62633145c07p-53;
/* The bits of 1/pi after the binary point, 32 to a word, most significant
 * first: enough for the reduction of every float. */
#define QUIBBET_INV_PI_WORDS 12
static const uint32_t kInvPiWords[QUIBBET_INV_PI_WORDS] = {
    0x517CC1B7u, 0x27220A94u, 0xFE13ABE8u, 0xFA9A6EE0u, 0x6DB14ACCu, 0x9E21C820u,
    0xFF28B1D5u, 0xEF5DE2B0u, 0xDB92371Du, 0x2126E970u, 0x03249775u, 0x04E8C90Eu,
};

#ifndef QUIBBET_PLAYER_SHARED_CONSTANTS_ONLY

/* ---- Constants, each with its source. */

/* 6 Hz at 44,100 frames per second, as a float: bit pattern 0x390EA9D5. */
static const float kFloorIncrement = 0x1.1d53aap-13f;
/* 2^(1/12) as a float: bit pattern 0x3F879C7D. */
static const float kSemitoneRatio = 0x1.0f38fap+0f;
/* 0.99997f and 0.3f, used as doubles. */
static const double kEnvelopeFactor = 0x1.fffc12p-1;
static const double kOutputGain = 0x1.333334p-2;

/* The noise step is linear modulo 2^32: (s0, s1, s2) becomes
 * (s0 + s1 + s2, s1 + s2, s0 + s2). This is that matrix to the power
 * 2 * QUIBBET_FRAMES, the steps of one sound. */
static const uint32_t kSoundNoiseSteps[3][3] = {
    {3654711825u, 3609533920u, 134997776u},
    {820431152u, 2834280673u, 3609533920u},
    {3609533920u, 820431152u, 3654711825u},
};

/* ---- The sine: float(the double nearest sin x) for every float x.
 *
 * The fast evaluation is a few ULP of double from the true sine; its result
 * is used when no float rounding boundary lies near it, which is almost
 * always. Otherwise the slow one reduces the argument exactly with the bits
 * of 1/pi and evaluates the Taylor series in double-double, some 100 bits,
 * and rounds that to the nearest double and then to float. quibbet's
 * `make verify-sine` checks the result for all 2^32 floats. */

/* sin r for |r| <= pi/2 and a little beyond, by Estrin's scheme; quibbet's
 * vector sines evaluate the same operations in the same order. */
static double SinePolynomial(double r) {
  const double* c = kFastCoefficients;
  const double z = r * r;
  const double rz = r * z;
  const double z2 = z * z;
  const double z4 = z2 * z2;
  const double a0 = c[0] + c[1] * z;
  const double a1 = c[2] + c[3] * z;
  const double a2 = c[4] + c[5] * z;
  const double low = a0 + a1 * z2;
  const double high = a2 + c[6] * z2;
  return r + rz * (low + high * z4);
}

/* sin x for 1.5 <= |x| <= kFastLimit, to a few ULP. */
static double FastSine(double x) {
  const int negative = x < 0;
  const double ax = negative ? -x : x;
  /* k = rint(|x| / pi) < 2^31. */
  const double k = (ax * kInvPi + kRintShift) - kRintShift;
  /* r = |x| - k * pi in [-pi/2, pi/2] and a little beyond. Each k * part of
   * pi but the last is exact, and so are the first two differences; the last
   * product adds an error below 2^-88. */
  double r = ax - k * kPiPart1;
  double s;
  r = r - k * kPiPart2;
  r = r - k * kPiPart3;
  r = r - k * kPiPart4;
  /* sin |x| = (-1)^k sin r, and sin is odd. */
  s = SinePolynomial(r);
  return negative != (int)((uint32_t)k & 1u) ? -s : s;
}

/* True when every double within the guard window of s rounds to the float
 * that s rounds to, and so does the double nearest the true sine. */
static int SafeToRound(double s) {
  const double d = (s < 0 ? -s : s) * kGuardWindow;
  return (float)(s - d) == (float)(s + d);
}

/* Double-double arithmetic: a value is hi + lo with |lo| <= ulp(hi) / 2. */
typedef struct {
  double hi, lo;
} DD;

static DD MakeDD(double hi, double lo) {
  DD r;
  r.hi = hi;
  r.lo = lo;
  return r;
}

/* |a| >= |b| or a == 0. */
static DD FastTwoSum(double a, double b) {
  const double s = a + b;
  return MakeDD(s, b - (s - a));
}

static DD TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return MakeDD(s, (a - (s - bb)) + (b - bb));
}

/* Dekker's product: exact, without a fused multiply-add. */
static DD TwoProduct(double a, double b) {
  const double kSplitter = 0x1p27 + 1;
  const double ca = kSplitter * a, cb = kSplitter * b;
  const double ah = ca - (ca - a), al = a - ah;
  const double bh = cb - (cb - b), bl = b - bh;
  const double p = a * b;
  return MakeDD(p, ((ah * bh - p) + ah * bl + al * bh) + al * bl);
}

static DD MulDD(DD a, DD b) {
  DD p = TwoProduct(a.hi, b.hi);
  p.lo = p.lo + (a.hi * b.lo + a.lo * b.hi);
  return FastTwoSum(p.hi, p.lo);
}

static DD AddDD(DD a, DD b) {
  DD s = TwoSum(a.hi, b.hi);
  const DD t = TwoSum(a.lo, b.lo);
  s = FastTwoSum(s.hi, s.lo + t.hi);
  return FastTwoSum(s.hi, s.lo + t.lo);
}

/* 2^e for a normal double exponent, made from its bits. */
static double Power2(int e) {
  union {
    uint64_t u;
    double d;
  } v;
  v.u = (uint64_t)(e + 1023) << 52;
  return v.d;
}

/* A fixed-point number of 256 bits, least significant word first. */
#define QUIBBET_WIDE_WORDS 8
typedef struct {
  uint32_t w[QUIBBET_WIDE_WORDS];
} Wide;

static int WideBit(const Wide* v, int b) { return (int)((v->w[b >> 5] >> (b & 31)) & 1u); }

static void WideAddBit(Wide* v, int b) {
  uint64_t carry = (uint64_t)1 << (b & 31);
  int i;
  for (i = b >> 5; i < QUIBBET_WIDE_WORDS && carry != 0; ++i) {
    const uint64_t t = v->w[i] + carry;
    v->w[i] = (uint32_t)t;
    carry = t >> 32;
  }
}

/* Keeps bits 0 .. b-1. */
static void WideKeepBelow(Wide* v, int b) {
  int i;
  for (i = 0; i < QUIBBET_WIDE_WORDS; ++i) {
    if (i * 32 >= b) {
      v->w[i] = 0;
    } else if (i * 32 + 32 > b) {
      v->w[i] &= (1u << (b - i * 32)) - 1u;
    }
  }
}

static uint64_t WideWord(const Wide* v, int j) {
  return j >= 0 && j < QUIBBET_WIDE_WORDS ? v->w[j] : 0;
}

/* 53 bits from bit `low` up; bits below 0 read as zero. */
static uint64_t WideBits53(const Wide* v, int low) {
  const int i = low >= 0 ? low / 32 : -((31 - low) / 32); /* floor division */
  const int s = low - 32 * i;
  const uint64_t lo64 = WideWord(v, i) | WideWord(v, i + 1) << 32;
  const uint64_t window = (lo64 >> s) | (s != 0 ? WideWord(v, i + 2) << (64 - s) : 0);
  return window & (((uint64_t)1 << 53) - 1);
}

/* Position of the highest set bit, or -1. */
static int WideTop(const Wide* v) {
  int i, b;
  for (i = QUIBBET_WIDE_WORDS - 1; i >= 0; --i) {
    if (v->w[i] == 0) continue;
    for (b = 31; (v->w[i] >> b) == 0; --b) {
    }
    return i * 32 + b;
  }
  return -1;
}

/* |x| - k * pi in [-pi/2, pi/2], and whether the integer k nearest |x| / pi
 * is odd (then sin |x| = -sin r), for 2^-12 <= |x| < inf. */
static DD Reduce(float x, int* odd) {
  union {
    float f;
    uint32_t u;
  } in;
  uint32_t m;
  int e, first, scale, one, j, top, negative;
  Wide product = {{0}};
  uint64_t carry = 0;
  DD f = MakeDD(0.0, 0.0);

  in.f = x;
  in.u &= 0x7FFFFFFFu;
  m = (in.u & 0x7FFFFFu) | 0x800000u; /* normal: |x| >= 2^-12 */
  e = (int)(in.u >> 23) - 150;
  /* |x| = m * 2^e, and |x| / pi = m * 2^e * sum(words[i] * 2^(-32 (i + 1))).
   * Words whose products are multiples of 2 are skipped: they change neither
   * sin nor k's parity. Six words follow, so the part of 1/pi left out weighs
   * less than m * 2^(e - 32 (first + 6)) <= 2^-160. */
  first = e > 0 ? (e + 31) / 32 - 1 : 0;
  for (j = 0; j < 6; ++j) {
    const uint64_t t = (uint64_t)m * kInvPiWords[first + 5 - j] + carry;
    product.w[j] = (uint32_t)t;
    carry = t >> 32;
  }
  product.w[6] = (uint32_t)carry;
  /* product * 2^scale = |x| / pi modulo 2; bit `one` has the weight 1. */
  scale = e - 32 * (first + 6);
  one = -scale;

  /* v + 1/2 modulo 2: its bit of weight 1 is k's parity, and its fraction g
   * gives |x| / pi - k = g - 1/2. */
  WideAddBit(&product, one - 1);
  *odd = WideBit(&product, one);
  WideKeepBelow(&product, one);
  if (WideBit(&product, one - 1)) {
    product.w[(one - 1) >> 5] &= ~(1u << ((one - 1) & 31));
    negative = 0;
  } else { /* 1/2 - g = (2^(one-1) - g) * 2^scale, negated in two's complement */
    for (j = 0; j < QUIBBET_WIDE_WORDS; ++j) product.w[j] = ~product.w[j];
    WideKeepBelow(&product, one - 1);
    WideAddBit(&product, 0);
    negative = 1;
  }

  /* The fraction as a double-double: three pieces of 53 bits from its top. */
  top = WideTop(&product);
  if (top >= 0) {
    const double a = (double)WideBits53(&product, top - 52) * Power2(scale + top - 52);
    const double b = (double)WideBits53(&product, top - 105) * Power2(scale + top - 105);
    const double c = (double)WideBits53(&product, top - 158) * Power2(scale + top - 158);
    f = FastTwoSum(a, b + c);
    if (negative) f = MakeDD(-f.hi, -f.lo);
  }
  return MulDD(f, MakeDD(kPiHi, kPiLo));
}

/* sin r in double-double, |r| <= pi/2: the Taylor series to r^41. */
static DD SlowSinePolynomial(DD r) {
  const DD z = MulDD(r, r);
  DD p = MakeDD(kTaylorHi[QUIBBET_TAYLOR_TERMS - 1], kTaylorLo[QUIBBET_TAYLOR_TERMS - 1]);
  int i;
  for (i = QUIBBET_TAYLOR_TERMS - 2; i >= 0; --i) {
    p = AddDD(MulDD(p, z), MakeDD(kTaylorHi[i], kTaylorLo[i]));
  }
  return AddDD(r, MulDD(r, MulDD(z, p)));
}

/* The result's sign is x's, flipped when k is odd. */
static double WithSign(double s, float x, int odd) { return (x < 0) != odd ? -s : s; }

/* Everything but the common case: NaN and inf, large arguments, and results
 * near a float rounding boundary. */
static float SlowSine(float x) {
  const double dx = x;
  const double ax = dx < 0 ? -dx : dx;
  int odd;
  DD r, s;
  /* inf and NaN give NaN. */
  if (!(ax <= 0x1.fffffep127)) return x - x;
  r = Reduce(x, &odd);
  if (ax > kFastLimit) {
    const double fast = WithSign(SinePolynomial(r.hi), x, odd);
    if (SafeToRound(fast)) return (float)fast;
  }
  /* hi is the double nearest hi + lo, and that is the double nearest the
   * sine: the two differ by less than 2^-100 of it. */
  s = SlowSinePolynomial(r);
  return (float)WithSign(s.hi, x, odd);
}

float quibbet_sine(float x) {
  const double dx = x;
  const double ax = dx < 0 ? -dx : dx;
  if (ax <= kFastLimit) {
    double s;
    /* Below 2^-12, sin x = x (1 - x^2/6 + ...) lies within 2^-26.5 of x
     * relative to x, nearer x than any other float or float rounding
     * boundary; the signed zeros and the subnormals are their own sines. */
    if (ax < 0x1p-12) return x;
    /* Below 1.5, k is 0 and the reduction would leave |x| as it is. */
    if (ax < 1.5) {
      s = dx < 0 ? -SinePolynomial(ax) : SinePolynomial(ax);
    } else {
      s = FastSine(dx);
    }
    /* Rounding to float is then the only rounding: s is close enough to the
     * double nearest the sine that both give the same float. */
    if (SafeToRound(s)) return (float)s;
  }
  return SlowSine(x);
}

/* ---- Waveforms, pitch and the limiter. phase counts cycles of the base
 * pitch; ratio multiplies it. */

/* c rounded to an integer, half to even, as rint does in the default
 * rounding mode; c is a float's value, so 2^23 and beyond it is an integer. */
static double RoundHalfEven(double c) {
  if (!(c < 0x1p23 && c > -0x1p23)) return c; /* NaN and inf too */
  if (c > 0) return (c + 0x1p52) - 0x1p52;
  if (c < 0) return -((-c + 0x1p52) - 0x1p52);
  return c; /* a zero keeps its sign */
}

static float Saw(float phase, float ratio) {
  /* Rounded to single before the wrap, so the jump falls where a float
   * product puts it. Ties go to even: Saw(0.5, 1) is +1, Saw(1.5, 1) is -1. */
  const double c = (float)((double)phase * ratio);
  return (float)(2.0 * (c - RoundHalfEven(c)));
}

float quibbet_wave(int type, float phase, float ratio) {
  switch (type) {
    case 0:
      return Saw(phase, ratio);
    case 1:
      /* Multiplied in this order in double, then rounded once to single. */
      return quibbet_sine((float)((((double)phase * ratio) * kPi) * 2.0));
    case 2:
      /* High for 37.5% of a cycle; a NaN sawtooth compares false and gives -1. */
      return Saw(phase, ratio) > 0.25f ? 1.0f : -1.0f;
    default:
      return 0.0f;
  }
}

float quibbet_increment(int64_t note) {
  float v = kFloorIncrement;
  int64_t i;
  for (i = 0; i < note; ++i) {
    /* Rounded after every step: a closed-form power differs in the last bits. */
    v = (float)((double)v * kSemitoneRatio);
    /* Infinity times the ratio stays infinity, so a huge note need not loop on. */
    if (v > 0x1.fffffep127f) break;
  }
  return v;
}

int16_t quibbet_limit(float value) {
  /* The gain is applied in double and rounded to single before the sine. */
  const float s = quibbet_sine((float)((double)value * kOutputGain));
  /* Converting NaN to an integer is undefined, so it is mapped to silence. */
  if (s != s) return 0;
  /* |s| <= 1, so the truncated product always fits in -32767..32767. */
  return (int16_t)((double)s * 32767.0);
}

/* ---- The sound. */

void quibbet_start(quibbet_voice* voice, const quibbet_osc osc[2], int32_t tone,
                   quibbet_noise* noise) {
  const uint32_t s[3] = {noise->s0, noise->s1, noise->s2};
  uint32_t t[3];
  int i;
  voice->osc[0] = osc[0];
  voice->osc[1] = osc[1];
  voice->noise = *noise;
  for (i = 0; i < 3; ++i) {
    /* unsigned: wraps modulo 2^32 */
    t[i] = kSoundNoiseSteps[i][0] * s[0] + kSoundNoiseSteps[i][1] * s[1] +
           kSoundNoiseSteps[i][2] * s[2];
  }
  noise->s0 = t[0];
  noise->s1 = t[1];
  noise->s2 = t[2];
  /* 64-bit, so that tone + 36 cannot overflow for any 32-bit tone. */
  voice->increment = quibbet_increment((int64_t)tone + 36);
  voice->phase = 0.0;
  voice->envelope = 1.0f;
  voice->frames_left = QUIBBET_FRAMES;
}

size_t quibbet_play(quibbet_voice* voice, int16_t* stereo, size_t frames) {
  size_t k;
  for (k = 0; k < frames && voice->frames_left > 0; ++k) {
    /* Both oscillators see the phase rounded to single. */
    const float ph = (float)voice->phase;
    float sum = 0.0f;
    int16_t sample;
    int o;
    for (o = 0; o < 2; ++o) {
      const quibbet_osc* osc = &voice->osc[o];
      /* The two voices are summed in double, then rounded to single. */
      float h = (float)((double)quibbet_wave(osc->type, ph, osc->detune) +
                        quibbet_wave(osc->type, ph, 1.0f));
      float n, t;
      if (osc->fm > 0.0f) {
        /* Waveshaper: (h * fm) * pi in double, rounded to single before the sine. */
        h = quibbet_sine((float)(((double)h * osc->fm) * kPi));
      }
      n = quibbet_noise_step(&voice->noise); /* taken even when noise is 0 */
      t = (float)((double)h + sum);
      sum = (float)(t + (double)n * osc->noise);
    }
    /* The envelope's product is not rounded before the limiter's input. */
    sample = quibbet_limit((float)((double)sum * voice->envelope));
    stereo[2 * k] = sample;
    stereo[2 * k + 1] = sample;
    voice->envelope = (float)(voice->envelope * kEnvelopeFactor);
    /* Accumulated, as the sound is defined; the sum is in fact never rounded
     * (a float increment times k < 2^19 fits in a double). */
    voice->phase += voice->increment;
    --voice->frames_left;
  }
  return k;
}

void quibbet_render(const quibbet_osc osc[2], int32_t tone, quibbet_noise* noise, int16_t* stereo) {
  quibbet_voice voice;
  quibbet_start(&voice, osc, tone, noise);
  quibbet_play(&voice, stereo, QUIBBET_FRAMES);
}

#endif /* QUIBBET_PLAYER_SHARED_CONSTANTS_ONLY */
