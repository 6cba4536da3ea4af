#pragma once

#include <juce_graphics/juce_graphics.h>

#include <array>

namespace varnelle::editor
{

/** Where the control panel's knob grid puts its parts: a label per row, and per band a column
    of five knobs, staggered left and right so that neighbouring rows do not overlap, with the
    band's button above it. Rows in the order Gain, Upper Knee, Attack, Lower Knee, Release. */
struct KnobGridLayout
{
    std::array<juce::Rectangle<int>, 5> rowLabels;
    std::array<std::array<juce::Rectangle<int>, 5>, 5> knobs; ///< [band][row]
    std::array<juce::Rectangle<int>, 5> bandButtons;
    std::array<juce::Rectangle<int>, 5> activityMeters; ///< the free cell beside each Gain knob
};

/** The grid laid out in `area` (the panel right of its left column), the band buttons along the
    top of the panel at `panelTop`. Integer arithmetic on the given rectangles; any thread. */
KnobGridLayout layOutKnobGrid (juce::Rectangle<int> area, int panelTop);

} // namespace varnelle::editor
