#include "KernelVariants.h"

namespace varnelle
{

std::vector<KernelVariant> getSupportedKernelVariants()
{
    std::vector<KernelVariant> variants{KernelVariant::baseline};
    if (getBestKernelVariant() == KernelVariant::avx2)
        variants.push_back (KernelVariant::avx2);
    return variants;
}

KernelVariant getBestKernelVariant() noexcept
{
#if VARNELLE_HAS_AVX2_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma"))
        return KernelVariant::avx2;
#endif
    return KernelVariant::baseline;
}

const char* getKernelVariantName (KernelVariant variant) noexcept
{
    return variant == KernelVariant::avx2 ? "avx2" : "baseline";
}

} // namespace varnelle
