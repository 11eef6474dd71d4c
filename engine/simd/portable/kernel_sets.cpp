// Every CPU without kernels of its own, and any build made with
// -DQUIBBET_SIMD=OFF: the one portable set.
#include "engine/simd/kernel.hpp"

namespace quibbet::fast {

extern const KernelSet kPortableSet;

int KernelSetCount() { return 1; }
int RunnableKernelSets() { return 1; }
const KernelSet& KernelSetAt(int) { return kPortableSet; }

}  // namespace quibbet::fast
