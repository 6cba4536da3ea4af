#include "BandGainComputer.h"

namespace varnelle
{

BandSettings computeBandSettings (const BandParamPointers&, double) noexcept
{
    return {};
}

void applyBandGains (std::complex<float>*, BandGainMemory&, const BandSettings&, double) noexcept
{
    // Unity for now: every band leaves every bin unchanged.
}

} // namespace varnelle
