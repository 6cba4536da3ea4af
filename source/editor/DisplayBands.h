#pragma once

#include "editor/DisplayScales.h"
#include "engine/BandParameters.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <cstdint>

namespace varnelle::editor
{

/** One of the four edges of a band that the display lets the user move. */
enum class BandEdge
{
    none = 0,
    freqLow = 1,
    freqHigh = 2,
    levelMin = 3,
    levelMax = 4
};

bool isFrequencyEdge (BandEdge edge) noexcept;

/** The parameter slot of an edge (levelMax for none). */
BandParam slotForEdge (BandEdge edge) noexcept;

/** A band's edges as drawn: sorted values and their positions, plus the bypass factor. */
struct BandGeometry
{
    float fLo = 0, fHi = 0, lLo = 0, lHi = 0;
    float yFreqLo = 0, yFreqHi = 0, yLevelLo = 0, yLevelHi = 0;
    float alphaFactor = 1.0f;
};

/** A band's tinted stripe across the plot: rows top .. top + height - 1 (display coordinates). */
struct BandStripe
{
    int top = 0, height = 1;
    juce::Colour colour;
};

/** The live values of the five bands' edges and bypasses as the display reads them.

    The raw value pointers are looked up once, on the message thread, from a parameter tree that
    must outlive this object; reads are lock-free loads of values the host, the editor or a
    preset may change at any time. Message thread only. */
class DisplayBands
{
public:
    explicit DisplayBands (juce::AudioProcessorValueTreeState& parameters);

    /** An edge as stored (Hz or dB); `fallback` when the tree lacks the parameter or for none. */
    float getEdge (int bandIndex, BandEdge edge, float fallback = 0.0f) const;

    /** 0.35 while the band is bypassed, else 1: the factor of every alpha of its drawing. */
    float getAlphaFactor (int bandIndex) const;

    /** Sorted edges and their positions in `layout`. */
    BandGeometry getGeometry (int bandIndex, const DisplayLayout& layout) const;

    /** True when any edge or bypass differs from what the previous call saw (the first call
        always sees a change). */
    bool changedSinceLastLook();

private:
    struct Values
    {
        std::atomic<float>* freqLow = nullptr;
        std::atomic<float>* freqHigh = nullptr;
        std::atomic<float>* levelMin = nullptr;
        std::atomic<float>* levelMax = nullptr;
        std::atomic<float>* bypass = nullptr;
    };

    std::array<Values, numBands> values;
    std::array<std::uint32_t, numBands * 5> seenBits{};
    bool seenOnce = false;
};

} // namespace varnelle::editor
