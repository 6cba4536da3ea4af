#include "editor/DisplayScales.h"

#include "editor/EditorShared.h"

#include <cmath>
#include <iterator>

namespace varnelle::editor
{

DisplayLayout::DisplayLayout (juce::Rectangle<int> bounds)
{
    content = bounds.withZeroOrigin();
    content.removeFromLeft (10);
    content.removeFromRight (10);
    content.removeFromBottom (10);
    content.removeFromTop (22);

    plot = content;
    plot.removeFromRight (110);

    legend = content;
    legend.removeFromRight (58);
    legend = legend.removeFromRight (30);

    levelBox = content;
    levelBox.removeFromRight (4);
    levelBox = levelBox.removeFromRight (42);
}

float DisplayLayout::yForFrequency (float frequencyHz) const
{
    const auto area = plot.toFloat();
    const float f = clampValue (frequencyHz, minFrequencyHz, maxFrequencyHz);
    return area.getBottom() - std::log (f / minFrequencyHz) / std::log (1000.0f) * area.getHeight();
}

float DisplayLayout::yForLevel (float levelDb) const
{
    const auto area = legend.toFloat();
    const float level = clampValue (levelDb, minLevelDb, maxLevelDb);
    return area.getBottom() - ((level - minLevelDb) / (maxLevelDb - minLevelDb)) * area.getHeight();
}

DisplayLayout::LevelBadgeBounds DisplayLayout::getLevelBadgeBounds (float levelMin, float levelMax) const
{
    const int top = levelBox.getY() + 1;
    const int bottom = levelBox.getBottom() - 13;
    int yMin =
        clampValue (roundToIntAwayFromZero (yForLevel (std::min (levelMin, levelMax))) - 6, top, bottom);
    int yMax =
        clampValue (roundToIntAwayFromZero (yForLevel (std::max (levelMin, levelMax))) - 6, top, bottom);

    if (std::abs (yMin - yMax) < 12)
    {
        if (yMin > yMax)
            yMin = std::min (yMax + 12, bottom);
        else
            yMax = std::min (yMin + 12, bottom);
    }

    const int x = levelBox.getX() + 2;
    const int w = levelBox.getWidth() - 4;
    return {{x, yMin, w, 12}, {x, yMax, w, 12}};
}

DisplayLayout::FrequencyLabelRows DisplayLayout::getFrequencyLabelRows (float yFreqLo, float yFreqHi) const
{
    FrequencyLabelRows rows;
    rows.upper = clampValue (roundToIntAwayFromZero (std::min (yFreqLo, yFreqHi)) - 16, plot.getY() + 2,
                             plot.getBottom() - 28);
    rows.lower = clampValue (roundToIntAwayFromZero (std::max (yFreqLo, yFreqHi)) + 2, plot.getY() + 2,
                             plot.getBottom() - 16);
    if (rows.lower - rows.upper < 16)
        rows.lower = std::min (rows.upper + 16, plot.getBottom() - 16);
    return rows;
}

juce::Colour spectrumColour (float value)
{
    static constexpr float positions[] = {0.0f, 0.18f, 0.4f, 0.62f, 0.8f, 1.0f};
    static constexpr juce::uint32 colours[] = {0xff0b1220, 0xff173f9d, 0xff00a7cc,
                                               0xff58c96b, 0xfff0be3d, 0xfff34e37};

    // A NaN reads as silence rather than falling through every stop.
    const float t = value > 0.0f ? std::min (value, 1.0f) : 0.0f;
    size_t k = 1;
    while (k < std::size (positions) - 1 && positions[k] < t)
        ++k;
    const float proportion = (t - positions[k - 1]) / (positions[k] - positions[k - 1]);
    return juce::Colour (colours[k - 1]).interpolatedWith (juce::Colour (colours[k]), proportion);
}

juce::Colour changeColour (float changeDb)
{
    // Through a darker step of each colour, so that a change of a few dB already shows.
    static const juce::Colour none (0xff0b1220);
    static const juce::Colour cutMid (0xff7a4a16), boostMid (0xff1f6a45);
    // The square root gives the common changes of a few dB a good part of the scale.
    const float t =
        changeDb == changeDb ? std::sqrt (std::min (std::abs (changeDb) / changeViewRangeDb, 1.0f)) : 0.0f;
    const bool cut = changeDb < 0.0f;
    const auto& mid = cut ? cutMid : boostMid;
    const auto& end = cut ? cutColour : boostColour;
    return t < 0.5f ? none.interpolatedWith (mid, 2.0f * t) : mid.interpolatedWith (end, 2.0f * t - 1.0f);
}

int roundToIntAwayFromZero (float v)
{
    return (int)std::roundf (v);
}

} // namespace varnelle::editor
