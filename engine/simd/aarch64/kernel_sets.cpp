// aarch64's kernel set: Advanced SIMD is part of the architecture, so there
// is nothing to choose at run time.
#include "engine/simd/kernel.hpp"

namespace quibbet::fast {

extern const KernelSet kNeonSet;

int KernelSetCount() { return 1; }
int RunnableKernelSets() { return 1; }
const KernelSet& KernelSetAt(int) { return kNeonSet; }

}  // namespace quibbet::fast
