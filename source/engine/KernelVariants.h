#pragma once

#include <vector>

namespace varnelle
{

/** The instruction sets the engine's per-bin kernels (bin levels, band gains) are
    compiled for. Every variant computes bit for bit the same results: each is the same
    source compiled for wider vectors (no fused multiply-adds, so every rounding stays where
    it is), and the engine picks the fastest one the CPU runs, once, when it is built. */
enum class KernelVariant
{
    baseline, ///< x86-64's SSE2 (or whatever the target compiles to): runs everywhere
    avx2      ///< AVX2 with FMA available: eight floats per operation
};

/** The variants this CPU can run, baseline first. */
std::vector<KernelVariant> getSupportedKernelVariants();

/** The widest variant this CPU can run. */
KernelVariant getBestKernelVariant() noexcept;

const char* getKernelVariantName (KernelVariant variant) noexcept;

} // namespace varnelle

// The AVX2 variants exist where GCC or clang build for x86-64; elsewhere only the baseline.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VARNELLE_HAS_AVX2_KERNELS 1
#define VARNELLE_AVX2_KERNEL [[gnu::target ("avx2,fma")]]
#else
#define VARNELLE_HAS_AVX2_KERNELS 0
#endif

// For the helpers of a kernel body: they must be inlined into every variant to be compiled
// for its instruction set (a call would run the baseline code).
#if defined(__GNUC__) || defined(__clang__)
#define VARNELLE_KERNEL_INLINE [[gnu::always_inline]] inline
#else
#define VARNELLE_KERNEL_INLINE inline
#endif
