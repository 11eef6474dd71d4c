// A CPU with one kernel set: aarch64, where Advanced SIMD is part of the
// architecture, and every CPU without kernels of its own (or any build made
// with -DQUIBBET_SIMD=OFF), which has the portable set. Nothing to choose at
// run time.
#include "engine/simd/kernel.hpp"

namespace quibbet::fast {

// Defined by the folder's kernel file.
extern const KernelSet kOnlyKernelSet;

int KernelSetCount() { return 1; }
int RunnableKernelSets() { return 1; }
const KernelSet& KernelSetAt(int) { return kOnlyKernelSet; }

}  // namespace quibbet::fast
