#pragma once

#include "KernelVariants.h"
#include "StftConstants.h"

#include <complex>

namespace varnelle
{

/** Levels in dB of bins 0..count-1 (count ≤ numBins) on the engine's scale: m = |X_i| · scale
    + 1e-9 with scale 1/2048 for bins 0 and 1024 and 1/1024 otherwise; m > 0 ? max(20 · log10 m,
    floorDb) : floorDb.

    |X_i| is exactly what hypotf gives. log10 is evaluated in double precision and rounded to
    float (correctly rounded in practice), so a level may differ from one computed with log10f
    by float rounding. Written for the vectoriser: no calls or branches in the inner loops. */
void computeLevelsDb (const std::complex<float>* spectrum, int count, float floorDb, float* out,
                      KernelVariant variant = KernelVariant::baseline) noexcept;

/** log10 of each value, for values of at least 1e-30 (and +inf), evaluated in double and
    rounded to float. */
void computeLog10 (const float* in, int count, float* out) noexcept;

/** 20 · log10 of each gain, for positive normal gains, within a few ulp of the correctly
    rounded value; exactly 0 for a gain of exactly 1. `out` may be `gains`. */
void computeGainsDb (const float* gains, int count, float* out,
                     KernelVariant variant = KernelVariant::baseline) noexcept;

} // namespace varnelle
