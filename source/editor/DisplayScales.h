#pragma once

#include <juce_graphics/juce_graphics.h>

#include <algorithm>

namespace varnelle::editor
{

/** The display's geometry for one size: where the plot, the level legend and the level box lie,
    and how frequencies and levels map to y. A value, derived from the component's bounds each
    time they are needed; any thread may use one, though only the message thread makes them. */
struct DisplayLayout
{
    static constexpr float minFrequencyHz = 20.0f;
    static constexpr float maxFrequencyHz = 20000.0f;
    static constexpr float minLevelDb = -80.0f;
    static constexpr float maxLevelDb = 0.0f;

    /** The two level badges of the selected band. */
    struct LevelBadgeBounds
    {
        juce::Rectangle<int> lower, upper;
    };

    /** The y positions of the selected band's two frequency labels (14 px high rows). */
    struct FrequencyLabelRows
    {
        int upper = 0, lower = 0;
    };

    /** The layout of a display whose local bounds are `bounds`; removals never take more than
        what is left. */
    explicit DisplayLayout (juce::Rectangle<int> bounds);

    juce::Rectangle<int> content, plot, legend, levelBox;

    /** Plot y of a frequency in Hz (log axis, limited to 20 Hz .. 20 kHz). */
    float yForFrequency (float frequencyHz) const;

    /** Legend y of a level in dB (linear, limited to -80 .. 0 dB). */
    float yForLevel (float levelDb) const;

    /** The badges of a band's level edges beside their lines, kept inside the level box and,
        where it allows, 12 px apart. */
    LevelBadgeBounds getLevelBadgeBounds (float levelMin, float levelMax) const;

    /** Where a band's upper and lower frequency labels go, kept inside the plot, 16 px apart. */
    FrequencyLabelRows getFrequencyLabelRows (float yFreqLo, float yFreqHi) const;
};

/** The colour map for a display value 0..1 (values outside and NaN are limited). */
juce::Colour spectrumColour (float value);

/** The Change view's colour map for a gain change in dB: dark at 0 dB, towards amber for cuts
    and green for boosts, reaching the end colours at -24 and +24 dB and staying there beyond
    (NaN reads as 0 dB). */
juce::Colour changeColour (float changeDb);
constexpr float changeViewRangeDb = 24.0f;

/** lo when v is below lo, otherwise the smaller of v and hi: the display's one limiting rule. */
template <typename T>
T clampValue (T v, T lo, T hi)
{
    return v < lo ? lo : std::min (v, hi);
}

/** roundf, halves away from zero, as an int. */
int roundToIntAwayFromZero (float v);

} // namespace varnelle::editor
