#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>

namespace varnelle
{

// Five bands, each described by the same eleven host parameters.
constexpr int numBands = 5;
constexpr int paramsPerBand = 11;
constexpr int numParameters = numBands * paramsPerBand;

// The per-band slots in host order; the order is also the column order of BandParamPointers.
enum class BandParam : int
{
    freqLow = 0,
    freqHigh,
    levelMin,
    levelMax,
    gain,
    attackMs,
    releaseMs,
    lookaheadMs,
    upperKneeDb,
    lowerKneeDb,
    bypass
};

// Live parameter values, [band index][slot]. Filled once when the processor is built and read
// by the audio thread with plain atomic loads; the parameter tree owns the values.
using BandParamPointers = std::array<std::array<std::atomic<float>*, paramsPerBand>, numBands>;

constexpr int slotIndex (BandParam slot) noexcept
{
    return static_cast<int> (slot);
}

/** The slot's name as used in identifiers, e.g. "attackMs". */
const char* getSlotName (BandParam slot) noexcept;

/** "band" + (bandIndex + 1) + "_" + slot name, e.g. "band3_attackMs". */
juce::String getBandParameterId (int bandIndex, BandParam slot);

/** "Band " + (bandIndex + 1) + suffix, e.g. "Band 3 Attack". */
juce::String getBandParameterName (int bandIndex, BandParam slot);

/** Skew that puts 1000 Hz at the middle of the 20 Hz .. 20 kHz range (single precision). */
float getFrequencySkew() noexcept;

/** The range of a float slot (the bypass slot has none and yields 0 .. 1). The frequency
    ranges snap every value to one that survives a save and restore unchanged. */
juce::NormalisableRange<float> getSlotRange (BandParam slot);

/** `value` limited to the range, then moved to the nearest value v for which
    convertFrom0to1 (convertTo0to1 (v)) == v in `plainRange` (a range without snapping). */
float snapToRoundTripFixedPoint (const juce::NormalisableRange<float>& plainRange, float value) noexcept;

/** A parameter's default value in real units (0 or 1 for the bypass). */
float getDefaultValue (int bandIndex, BandParam slot) noexcept;

/** All 55 parameters in host order: band 1 slots 0 to 10, then band 2, up to band 5. */
juce::AudioProcessorValueTreeState::ParameterLayout createBandParameterLayout();

/** Looks up every band parameter's live value in the tree. */
BandParamPointers findBandParamPointers (juce::AudioProcessorValueTreeState& parameters);

} // namespace varnelle
