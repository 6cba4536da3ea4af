#include "BandParameters.h"

#include <cmath>

namespace varnelle
{
namespace
{
struct SlotDescription
{
    const char* name;
    const char* displaySuffix;
    float start, end, interval, defaultValue;
};

// One row per slot, in slot order. The frequency defaults depend on the band and come from
// bandEdgesHz; the interval 0 marks the two continuous, skewed frequency ranges.
constexpr std::array<SlotDescription, paramsPerBand> slotTable{{
    {"freqLow", " Frequency Low", 20.0f, 20000.0f, 0.0f, 0.0f},
    {"freqHigh", " Frequency High", 20.0f, 20000.0f, 0.0f, 0.0f},
    {"levelMin", " Level Min", -80.0f, 0.0f, 0.1f, -80.0f},
    {"levelMax", " Level Max", -80.0f, 0.0f, 0.1f, 0.0f},
    {"gain", " Gain", -60.0f, 24.0f, 0.1f, 0.0f},
    {"attackMs", " Attack", 1.0f, 300.0f, 0.1f, 25.0f},
    {"releaseMs", " Release", 10.0f, 2500.0f, 0.1f, 250.0f},
    {"lookaheadMs", " Lookahead", 0.0f, 20.0f, 0.1f, 10.0f},
    {"upperKneeDb", " Upper Knee", 0.0f, 24.0f, 0.1f, 0.0f},
    {"lowerKneeDb", " Lower Knee", 0.0f, 24.0f, 0.1f, 0.0f},
    {"bypass", " Bypass", 0.0f, 1.0f, 1.0f, 0.0f},
}};

// At the defaults the five bands tile the audible range edge to edge.
constexpr std::array<float, numBands + 1> bandEdgesHz{20.0f, 120.0f, 600.0f, 2500.0f, 7000.0f, 20000.0f};

const SlotDescription& describe (BandParam slot) noexcept
{
    return slotTable[(size_t)slotIndex (slot)];
}

bool isFrequencySlot (BandParam slot) noexcept
{
    return slot == BandParam::freqLow || slot == BandParam::freqHigh;
}
} // namespace

const char* getSlotName (BandParam slot) noexcept
{
    return describe (slot).name;
}

juce::String getBandParameterId (int bandIndex, BandParam slot)
{
    return "band" + juce::String (bandIndex + 1) + "_" + getSlotName (slot);
}

juce::String getBandParameterName (int bandIndex, BandParam slot)
{
    return "Band " + juce::String (bandIndex + 1) + describe (slot).displaySuffix;
}

float getFrequencySkew() noexcept
{
    return std::log (0.5f) / std::log (980.0f / 19980.0f);
}

juce::NormalisableRange<float> getSlotRange (BandParam slot)
{
    const auto& d = describe (slot);
    if (!isFrequencySlot (slot))
        return {d.start, d.end, d.interval};

    // A parameter holds convertFrom0to1 (n) and a saved state holds that value; restoring it
    // sets convertFrom0to1 (convertTo0to1 (value)). The float proportions are too few to give
    // every frequency a proportion of its own, so that round trip moves most values by an ULP
    // or more, on every save and reopen. The mappings are computed in double precision (the
    // same skewed curve, rounded once) and every value is snapped to the nearest one the round
    // trip maps onto itself, which makes save → restore → save exact.
    const double start = d.start, end = d.end, skew = getFrequencySkew();
    const auto fromProportion = [=] (float, float, float proportion)
    {
        const double p = juce::jlimit (0.0, 1.0, (double)proportion);
        return (float)(start + (end - start) * (p > 0.0 ? std::exp (std::log (p) / skew) : 0.0));
    };
    const auto toProportion = [=] (float, float, float value)
    {
        const double p = juce::jlimit (0.0, 1.0, ((double)value - start) / (end - start));
        return (float)std::pow (p, skew);
    };
    const juce::NormalisableRange<float> plain{d.start, d.end, fromProportion, toProportion};
    juce::NormalisableRange<float> range{d.start, d.end, fromProportion, toProportion,
                                         [plain] (float, float, float value)
                                         { return snapToRoundTripFixedPoint (plain, value); }};
    range.skew = getFrequencySkew(); // the curve above; hosts and the editor may read it
    return range;
}

float snapToRoundTripFixedPoint (const juce::NormalisableRange<float>& plainRange, float value) noexcept
{
    const auto isFixed = [&plainRange] (float v)
    { return plainRange.convertFrom0to1 (plainRange.convertTo0to1 (v)) == v; };

    const auto limited = juce::jlimit (plainRange.start, plainRange.end, value);
    if (isFixed (limited))
        return limited;

    // A value the round trip keeps is the image of a proportion, so the candidates are the
    // images of the proportions next to the value's own, tried outwards; the mapping is
    // monotonic, so the first step that finds one holds the nearest.
    const auto proportion = plainRange.convertTo0to1 (limited);
    float below = proportion, above = proportion;
    for (int step = 0; step < 8; ++step)
    {
        float nearest = limited;
        for (const auto candidateProportion : {below, above})
        {
            const auto candidate = plainRange.convertFrom0to1 (candidateProportion);
            if (isFixed (candidate) &&
                (nearest == limited || std::abs (candidate - limited) < std::abs (nearest - limited)))
                nearest = candidate;
        }
        if (nearest != limited)
            return nearest;

        below = std::max (0.0f, std::nextafter (below, 0.0f));
        above = std::min (1.0f, std::nextafter (above, 1.0f));
    }
    return limited; // not reached: every float of the frequency ranges finds one within 8 steps
}

float getDefaultValue (int bandIndex, BandParam slot) noexcept
{
    const auto band = (size_t)juce::jlimit (0, numBands - 1, bandIndex);
    if (slot == BandParam::freqLow)
        return bandEdgesHz[band];
    if (slot == BandParam::freqHigh)
        return bandEdgesHz[band + 1];
    return describe (slot).defaultValue;
}

juce::AudioProcessorValueTreeState::ParameterLayout createBandParameterLayout()
{
    std::vector<std::unique_ptr<juce::RangedAudioParameter>> list;
    list.reserve ((size_t)numParameters);

    for (int band = 0; band < numBands; ++band)
    {
        for (int s = 0; s < paramsPerBand; ++s)
        {
            const auto slot = static_cast<BandParam> (s);
            const juce::ParameterID id{getBandParameterId (band, slot), 1};
            const auto name = getBandParameterName (band, slot);

            if (slot == BandParam::bypass)
                list.push_back (std::make_unique<juce::AudioParameterBool> (id, name, false));
            else
                list.push_back (std::make_unique<juce::AudioParameterFloat> (id, name, getSlotRange (slot),
                                                                             getDefaultValue (band, slot)));
        }
    }

    return {list.begin(), list.end()};
}

BandParamPointers findBandParamPointers (juce::AudioProcessorValueTreeState& parameters)
{
    BandParamPointers table{};
    for (int band = 0; band < numBands; ++band)
        for (int s = 0; s < paramsPerBand; ++s)
            table[(size_t)band][(size_t)s] =
                parameters.getRawParameterValue (getBandParameterId (band, static_cast<BandParam> (s)));
    return table;
}

} // namespace varnelle
