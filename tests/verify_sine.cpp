// `make verify-sine`: Sine against the C library's float(sin(double(x))) for
// all 2^32 float bit patterns, on every core, and every vector sine of the
// fast render against Sine. Each float whose sine lies near a float rounding
// boundary, and each disagreement, is then settled with MPFR's correctly
// rounded sine, which defines the result where the C library's is not
// correctly rounded. Exits 0 only if Sine equals the correctly rounded value
// wherever they were compared and the vector sines equal Sine everywhere.
//
// Finally prints the hardest cases as rows for the hard-case table of
// tests/sine_test.cpp: the floats whose sine lies closest to a float
// rounding boundary, and those whose sine lies so close to one that the
// first rounding, to double, decides the float.
#include <mpfr.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/fast_renderer.hpp"
#include "engine/simd/kernel.hpp"
#include "engine/voice.hpp"

namespace {

using quibbet::Sine;

constexpr int kChunk = 1 << 16;
constexpr std::uint64_t kChunks = (std::uint64_t{1} << 32) / kChunk;
// A float whose C library sine lies within this much (relative) of a float
// rounding boundary is checked with MPFR. The C library's sine is within an
// ULP of double of the true sine, far inside this.
constexpr double kCandidateWindow = 0x1p-40;

std::uint32_t Bits(float f) { return std::bit_cast<std::uint32_t>(f); }

bool Same(float a, float b) { return Bits(a) == Bits(b) || (std::isnan(a) && std::isnan(b)); }

// Distance from r to the nearest float rounding boundary, relative to |r|.
double RelativeDistanceToFloatMidpoint(double r) {
  const float f = static_cast<float>(r);
  const float g = std::nextafter(f, r > f ? INFINITY : -INFINITY);
  const double midpoint = (static_cast<double>(f) + g) / 2;
  return std::fabs(r - midpoint) / std::fabs(r);
}

using VectorSines = void (*)(const float*, float*, int, quibbet::fast::SineCounts&);

struct Results {
  std::vector<std::uint32_t> glibc_mismatches;
  std::vector<std::uint32_t> candidates;
  std::vector<std::uint32_t> vector_mismatches;
  std::uint64_t nan_inputs = 0;
  std::uint64_t vector_scalar = 0;
};

void Check(std::uint64_t chunk, const std::vector<VectorSines>& levels, Results& out) {
  std::vector<float> x(kChunk), mine(kChunk), vec(kChunk);
  for (int i = 0; i < kChunk; ++i)
    x[i] = std::bit_cast<float>(static_cast<std::uint32_t>(chunk * kChunk + i));
  for (int i = 0; i < kChunk; ++i) {
    mine[i] = Sine(x[i]);
    if (std::isnan(x[i])) {
      ++out.nan_inputs;
      if (!std::isnan(mine[i])) out.glibc_mismatches.push_back(Bits(x[i]));
      continue;
    }
    const double r = std::sin(static_cast<double>(x[i]));
    if (!Same(mine[i], static_cast<float>(r))) out.glibc_mismatches.push_back(Bits(x[i]));
    if (std::isfinite(r) && r != 0 && RelativeDistanceToFloatMidpoint(r) <= kCandidateWindow)
      out.candidates.push_back(Bits(x[i]));
  }
  for (const VectorSines sines : levels) {
    quibbet::fast::SineCounts counts;
    sines(x.data(), vec.data(), kChunk, counts);
    out.vector_scalar += counts.scalar;
    for (int i = 0; i < kChunk; ++i)
      if (!Same(vec[i], mine[i])) out.vector_mismatches.push_back(Bits(x[i]));
  }
}

// What MPFR says about sin(x).
struct Truth {
  float correctly_rounded;  // float(the double nearest sin x)
  double float_distance;    // to the nearest float rounding boundary, in float ULP
  double double_distance;   // to the nearest double rounding boundary, in double ULP
};

// |y| / ulp - floor, measured from the midpoint; y has ulp 2^(exponent - bits).
double MidpointDistance(const mpfr_t y, int bits) {
  mpfr_t t, frac;
  mpfr_inits2(400, t, frac, static_cast<mpfr_ptr>(nullptr));
  mpfr_abs(t, y, MPFR_RNDN);
  mpfr_mul_2si(t, t, bits - mpfr_get_exp(y), MPFR_RNDN);  // exact
  mpfr_frac(frac, t, MPFR_RNDN);
  const double d = std::fabs(mpfr_get_d(frac, MPFR_RNDN) - 0.5);
  mpfr_clears(t, frac, static_cast<mpfr_ptr>(nullptr));
  return d;
}

Truth AskMpfr(float x) {
  mpfr_t mx, y53, y;
  mpfr_init2(mx, 24);
  mpfr_init2(y53, 53);
  mpfr_init2(y, 400);
  mpfr_set_flt(mx, x, MPFR_RNDN);
  mpfr_sin(y53, mx, MPFR_RNDN);  // correctly rounded to double
  mpfr_sin(y, mx, MPFR_RNDN);
  const Truth t{static_cast<float>(mpfr_get_d(y53, MPFR_RNDN)), MidpointDistance(y, 24),
                MidpointDistance(y, 53)};
  mpfr_clears(mx, y53, y, static_cast<mpfr_ptr>(nullptr));
  return t;
}

struct Hard {
  std::uint32_t x;
  Truth truth;
};

void PrintRow(const Hard& h, const char* why) {
  std::printf("    {0x%08Xu, 0x%08Xu},  // %a: %s %.3g float ULP, %.3g double ULP\n", h.x,
              Bits(h.truth.correctly_rounded), std::bit_cast<float>(h.x), why,
              h.truth.float_distance, h.truth.double_distance);
}

}  // namespace

int main() {
  std::vector<VectorSines> levels;
  for (int l = 0; l < quibbet::fast::RunnableKernelSets(); ++l)
    levels.push_back(quibbet::fast::KernelSetAt(l).sines);

  const auto start = std::chrono::steady_clock::now();
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  std::atomic<std::uint64_t> next{0};
  std::vector<Results> results(threads);
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      for (std::uint64_t c; (c = next++) < kChunks;) Check(c, levels, results[t]);
    });
  }
  for (std::thread& t : pool) t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  Results all;
  for (const Results& r : results) {
    all.glibc_mismatches.insert(all.glibc_mismatches.end(), r.glibc_mismatches.begin(),
                                r.glibc_mismatches.end());
    all.candidates.insert(all.candidates.end(), r.candidates.begin(), r.candidates.end());
    all.vector_mismatches.insert(all.vector_mismatches.end(), r.vector_mismatches.begin(),
                                 r.vector_mismatches.end());
    all.nan_inputs += r.nan_inputs;
    all.vector_scalar += r.vector_scalar;
  }
  std::sort(all.glibc_mismatches.begin(), all.glibc_mismatches.end());
  std::sort(all.candidates.begin(), all.candidates.end());

  // Every disagreement with the C library, and every float near a boundary,
  // against the correctly rounded sine.
  std::vector<std::uint32_t> to_settle = all.candidates;
  to_settle.insert(to_settle.end(), all.glibc_mismatches.begin(), all.glibc_mismatches.end());
  std::sort(to_settle.begin(), to_settle.end());
  to_settle.erase(std::unique(to_settle.begin(), to_settle.end()), to_settle.end());
  int wrong = 0, glibc_wrong = 0;
  std::vector<Hard> hard;
  for (const std::uint32_t b : to_settle) {
    const float x = std::bit_cast<float>(b);
    if (std::isnan(x) || std::isinf(x)) continue;
    const Truth truth = AskMpfr(x);
    const float glibc = static_cast<float>(std::sin(static_cast<double>(x)));
    if (!Same(glibc, truth.correctly_rounded)) {
      ++glibc_wrong;
      std::printf("C library not correctly rounded: x = %a (0x%08X): %a, correctly %a\n", x, b,
                  glibc, truth.correctly_rounded);
    }
    if (!Same(Sine(x), truth.correctly_rounded)) {
      ++wrong;
      std::printf("WRONG: Sine(%a) (0x%08X) = %a, correctly rounded %a\n", x, b, Sine(x),
                  truth.correctly_rounded);
    }
    hard.push_back({b, truth});
  }
  for (const std::uint32_t b : all.vector_mismatches)
    std::printf("WRONG: a vector sine differs from Sine at x = %a (0x%08X)\n",
                std::bit_cast<float>(b), b);

  std::printf("floats checked: 4294967296 (%llu NaN inputs, compared as NaN only)\n",
              static_cast<unsigned long long>(all.nan_inputs));
  std::printf("mismatches against the C library: %zu\n", all.glibc_mismatches.size());
  std::printf("  of which the C library is not correctly rounded: %d\n", glibc_wrong);
  std::printf("near a float rounding boundary (checked with MPFR): %zu\n", to_settle.size());
  std::printf("mismatches against the correctly rounded sine: %d\n", wrong);
  std::printf("vector sines (%zu levels) differing from Sine: %zu; sent to Sine: %llu\n",
              levels.size(), all.vector_mismatches.size(),
              static_cast<unsigned long long>(all.vector_scalar));
  std::printf("run time: %.1f s on %u threads\n", seconds, threads);

  // The hardest cases, for tests/sine_test.cpp.
  constexpr std::size_t kClosest = 32;
  std::sort(hard.begin(), hard.end(), [](const Hard& a, const Hard& b) {
    return a.truth.float_distance < b.truth.float_distance;
  });
  std::printf("\nhard cases (x bits, Sine bits):\n");
  for (std::size_t i = 0; i < hard.size() && i < kClosest; ++i)
    PrintRow(hard[i], "closest to a float boundary:");
  // Within one double ULP (2^-29 float ULP) of a float boundary, the first
  // rounding decides; nearest a double boundary first.
  std::vector<Hard> decided_by_double;
  for (std::size_t i = std::min(kClosest, hard.size()); i < hard.size(); ++i)
    if (hard[i].truth.float_distance <= 0x1p-29) decided_by_double.push_back(hard[i]);
  std::sort(decided_by_double.begin(), decided_by_double.end(), [](const Hard& a, const Hard& b) {
    return a.truth.double_distance < b.truth.double_distance;
  });
  for (const Hard& h : decided_by_double) PrintRow(h, "double rounding decides:");
  return wrong == 0 && all.vector_mismatches.empty() ? 0 : 1;
}
