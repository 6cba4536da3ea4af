#pragma once

#include "KernelVariants.h"

namespace varnelle
{

/** Copies `count` input samples into `ring`, NaN and infinity as 0, and returns the index of
    the last one that is sound (neither zero nor non-finite), or -1 if there is none. */
int storeInputs (const float* input, float* ring, int count,
                 KernelVariant variant = KernelVariant::baseline) noexcept;

} // namespace varnelle
