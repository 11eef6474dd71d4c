// x86-64's kernel sets. SSE2 is in every x86-64 CPU; AVX2 and AVX-512 are
// used where the CPU (and the operating system, which must save their
// registers) supports them, as cpuid tells.
#include "engine/simd/kernel.hpp"

namespace quibbet::fast {

extern const KernelSet kSse2Set;
extern const KernelSet kAvx2Set;
extern const KernelSet kAvx512Set;

namespace {

constexpr const KernelSet* kSets[] = {&kSse2Set, &kAvx2Set, &kAvx512Set};

// What the kernel files are compiled for (engine/simd/x86_64/kernels.cmake).
bool CanRunAvx2() {
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
         __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
}

bool CanRunAvx512() {
  return CanRunAvx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
         __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw");
}

}  // namespace

int KernelSetCount() { return 3; }

int RunnableKernelSets() {
  if (CanRunAvx512()) return 3;
  if (CanRunAvx2()) return 2;
  return 1;
}

const KernelSet& KernelSetAt(int index) { return *kSets[index]; }

}  // namespace quibbet::fast
