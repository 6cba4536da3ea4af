#pragma once

#include "engine/BandParameters.h"

namespace varnelle::test
{

/** Parameter values owned by a test, laid out like the processor's table, so the band gain
    computer can be driven without a processor. Starts at the parameters' defaults. */
class ParameterSnapshot
{
public:
    ParameterSnapshot()
    {
        for (int b = 0; b < numBands; ++b)
            for (int s = 0; s < paramsPerBand; ++s)
            {
                values[(size_t)b][(size_t)s].store (getDefaultValue (b, static_cast<BandParam> (s)));
                pointers[(size_t)b][(size_t)s] = &values[(size_t)b][(size_t)s];
            }
    }

    void set (int band, BandParam slot, float value)
    {
        values[(size_t)band][(size_t)slotIndex (slot)].store (value);
    }
    void remove (int band, BandParam slot) { pointers[(size_t)band][(size_t)slotIndex (slot)] = nullptr; }
    const BandParamPointers& table() const { return pointers; }

private:
    std::array<std::array<std::atomic<float>, paramsPerBand>, numBands> values;
    BandParamPointers pointers{};
};

} // namespace varnelle::test
