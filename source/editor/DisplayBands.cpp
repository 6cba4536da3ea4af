#include "editor/DisplayBands.h"

#include "editor/EditorShared.h"

#include <cstring>

namespace varnelle::editor
{

bool isFrequencyEdge (BandEdge edge) noexcept
{
    return edge == BandEdge::freqLow || edge == BandEdge::freqHigh;
}

BandParam slotForEdge (BandEdge edge) noexcept
{
    switch (edge)
    {
        case BandEdge::freqLow:
            return BandParam::freqLow;
        case BandEdge::freqHigh:
            return BandParam::freqHigh;
        case BandEdge::levelMin:
            return BandParam::levelMin;
        case BandEdge::levelMax:
        case BandEdge::none:
            break;
    }
    return BandParam::levelMax;
}

DisplayBands::DisplayBands (juce::AudioProcessorValueTreeState& tree)
{
    for (int b = 0; b < numBands; ++b)
    {
        auto& band = values[(size_t)b];
        band.freqLow = tree.getRawParameterValue (getBandParameterId (b, BandParam::freqLow));
        band.freqHigh = tree.getRawParameterValue (getBandParameterId (b, BandParam::freqHigh));
        band.levelMin = tree.getRawParameterValue (getBandParameterId (b, BandParam::levelMin));
        band.levelMax = tree.getRawParameterValue (getBandParameterId (b, BandParam::levelMax));
        const auto bypassId = findBypassParameterId (tree, b);
        band.bypass = bypassId.isNotEmpty() ? tree.getRawParameterValue (bypassId) : nullptr;
    }
}

float DisplayBands::getEdge (int bandIndex, BandEdge edge, float fallback) const
{
    const auto& band = values[(size_t)clampValue (bandIndex, 0, numBands - 1)];
    const std::atomic<float>* value = nullptr;
    switch (edge)
    {
        case BandEdge::freqLow:
            value = band.freqLow;
            break;
        case BandEdge::freqHigh:
            value = band.freqHigh;
            break;
        case BandEdge::levelMin:
            value = band.levelMin;
            break;
        case BandEdge::levelMax:
            value = band.levelMax;
            break;
        case BandEdge::none:
            break;
    }
    return value != nullptr ? value->load() : fallback;
}

float DisplayBands::getAlphaFactor (int bandIndex) const
{
    // Same rule as isBandBypassed, on the pointer cached at construction.
    const auto* bypass = values[(size_t)clampValue (bandIndex, 0, numBands - 1)].bypass;
    return bypass != nullptr && bypass->load() >= 0.5f ? 0.35f : 1.0f;
}

BandGeometry DisplayBands::getGeometry (int bandIndex, const DisplayLayout& layout) const
{
    const float freqLow = getEdge (bandIndex, BandEdge::freqLow);
    const float freqHigh = getEdge (bandIndex, BandEdge::freqHigh);
    const float levelMin = getEdge (bandIndex, BandEdge::levelMin);
    const float levelMax = getEdge (bandIndex, BandEdge::levelMax);

    BandGeometry band;
    band.fLo = std::min (freqLow, freqHigh);
    band.fHi = std::max (freqLow, freqHigh);
    band.lLo = std::min (levelMin, levelMax);
    band.lHi = std::max (levelMin, levelMax);
    band.yFreqLo = layout.yForFrequency (band.fLo);
    band.yFreqHi = layout.yForFrequency (band.fHi);
    band.yLevelLo = layout.yForLevel (band.lLo);
    band.yLevelHi = layout.yForLevel (band.lHi);
    band.alphaFactor = getAlphaFactor (bandIndex);
    return band;
}

bool DisplayBands::changedSinceLastLook()
{
    std::array<std::uint32_t, numBands * 5> bits{};
    size_t i = 0;
    for (const auto& band : values)
        for (const auto* value : {band.freqLow, band.freqHigh, band.levelMin, band.levelMax, band.bypass})
        {
            const float v = value != nullptr ? value->load() : 0.0f;
            std::memcpy (&bits[i++], &v, sizeof (v));
        }

    if (seenOnce && bits == seenBits)
        return false;
    seenBits = bits;
    seenOnce = true;
    return true;
}

} // namespace varnelle::editor
