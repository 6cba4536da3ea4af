#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

// Small helpers shared by the editor's components. Message thread only.
namespace varnelle::editor
{

/** What a cut is drawn in (amber: the activity meters, the Change view, the listening
    indicator) and what a boost is drawn in (green). */
inline const juce::Colour cutColour{0xfff2a33a};
inline const juce::Colour boostColour{0xff5fd38d};

/** The band colours, band 0..4; an index below 0 gives the first, above 4 the last. */
juce::Colour getBandColour (int bandIndex) noexcept;

/** The ID of band `bandIndex`'s bypass parameter: the first candidate spelling the tree
    holds, or an empty string. */
juce::String findBypassParameterId (const juce::AudioProcessorValueTreeState& parameters, int bandIndex);

/** A band counts as bypassed when its bypass parameter's raw value is 0.5 or more; a band
    without a bypass parameter never is. */
bool isBandBypassed (const juce::AudioProcessorValueTreeState& parameters, int bandIndex);

/** A plain or bold font of the given height. Stands in for JUCE 8's FontOptions, which this
    JUCE version lacks. */
juce::Font makeFont (float height, bool bold = false);

} // namespace varnelle::editor
