#include "InputStore.h"

#include "BranchFree.h"

#include <algorithm>
#include <cmath>

namespace varnelle
{
namespace
{
// One pass for both: the store, and where the silence that ends the run begins.
VARNELLE_KERNEL_INLINE int storeInputsKernel (const float* __restrict input, float* __restrict ring,
                                              int count) noexcept
{
    int lastSound = -1;
    for (int k = 0; k < count; ++k)
    {
        const bool finite = std::isfinite (input[k]);
        ring[k] = branchfree::select (finite, input[k], 0.0f);
        const bool sound = finite && input[k] != 0.0f;
        lastSound = std::max (lastSound, sound ? k : -1);
    }
    return lastSound;
}

#if VARNELLE_HAS_AVX2_KERNELS
VARNELLE_AVX2_KERNEL int storeInputsAvx2 (const float* input, float* ring, int count) noexcept
{
    return storeInputsKernel (input, ring, count);
}
#endif
} // namespace

int storeInputs (const float* input, float* ring, int count, KernelVariant variant) noexcept
{
#if VARNELLE_HAS_AVX2_KERNELS
    if (variant == KernelVariant::avx2)
        return storeInputsAvx2 (input, ring, count);
#endif
    (void)variant;
    return storeInputsKernel (input, ring, count);
}

} // namespace varnelle
