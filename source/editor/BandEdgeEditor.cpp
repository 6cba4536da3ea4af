#include "editor/BandEdgeEditor.h"

#include <cmath>

namespace varnelle::editor
{

namespace
{
// Edge grabbing, in pixels.
constexpr float frequencyLineReach = 12.0f;
constexpr int badgeMarginX = 4, badgeMarginY = 3;
constexpr int levelBoxMarginX = 6, levelBoxMarginY = 8;
constexpr int levelBoxCloseness = 14;
constexpr float levelBoxReach = 15.0f;
constexpr int legendMarginX = 16, legendMarginY = 14;
constexpr float legendCloseness = 12.0f;
constexpr float legendPointReach = 18.0f;
constexpr float legendLineReach = 16.0f;

// Gaps kept while dragging (Hz, dB) and how close to the ends of the scale a level gets (px).
constexpr float minFrequencyGapHz = 10.0f;
constexpr float minLevelGapDb = 3.0f;
constexpr float levelDragMargin = 4.0f;

// Truncated towards zero; far-off positions are pinned first so that the cast stays defined.
int truncateToInt (float v)
{
    return (int)clampValue (v, -1.0e9f, 1.0e9f);
}

// The level edges in the level box: at their badges, or the nearer badge within reach.
BandEdge findLevelBoxTarget (juce::Point<float> position, juce::Point<int> pi, const DisplayLayout& layout,
                             const DisplayLayout::LevelBadgeBounds& badges)
{
    if (badges.lower.expanded (badgeMarginX, badgeMarginY).contains (pi))
        return BandEdge::levelMin;
    if (badges.upper.expanded (badgeMarginX, badgeMarginY).contains (pi))
        return BandEdge::levelMax;
    if (!layout.levelBox.expanded (levelBoxMarginX, levelBoxMarginY).contains (pi))
        return BandEdge::none;

    const float y = position.y;
    const int cLow = badges.lower.getY() + badges.lower.getHeight() / 2;
    const int cHigh = badges.upper.getY() + badges.upper.getHeight() / 2;
    if (std::abs (cLow - cHigh) < levelBoxCloseness)
        return (float)(cHigh + cLow) * 0.5f >= y ? BandEdge::levelMax : BandEdge::levelMin;

    const float dLow = std::abs (y - (float)cLow);
    const float dHigh = std::abs (y - (float)cHigh);
    if (std::min (dHigh, dLow) <= levelBoxReach)
        return dHigh <= dLow ? BandEdge::levelMax : BandEdge::levelMin;
    return BandEdge::none;
}

// The level lines across the legend: split at their midpoint when close, wider at its centre.
BandEdge findLegendTarget (juce::Point<float> position, const DisplayLayout& layout, float yMin, float yMax)
{
    const float x = position.x;
    const float y = position.y;
    if (std::abs (yMin - yMax) < legendCloseness)
        return (yMax + yMin) * 0.5f >= y ? BandEdge::levelMax : BandEdge::levelMin;

    const float cx = (float)(layout.legend.getX() + layout.legend.getWidth() / 2);
    const float eMin = std::hypot (cx - x, yMin - y);
    const float eMax = std::hypot (cx - x, yMax - y);
    if (std::min (eMax, eMin) <= legendPointReach)
        return eMax <= eMin ? BandEdge::levelMax : BandEdge::levelMin;

    const float dMin = std::abs (y - yMin);
    const float dMax = std::abs (y - yMax);
    if (std::min (dMax, dMin) <= legendLineReach)
        return dMax <= dMin ? BandEdge::levelMax : BandEdge::levelMin;
    return BandEdge::none;
}
} // namespace

BandEdgeEditor::BandEdgeEditor (juce::AudioProcessorValueTreeState& tree, const DisplayBands& bandValues)
    : parameters (tree), bands (bandValues)
{
}

BandEdgeEditor::~BandEdgeEditor()
{
    release();
}

juce::String BandEdgeEditor::getParameterId (int bandIndex, BandEdge edge)
{
    if (edge == BandEdge::none)
        return {};
    return getBandParameterId (bandIndex, slotForEdge (edge));
}

BandEdge BandEdgeEditor::findTarget (juce::Point<float> position, const DisplayLayout& layout, int band) const
{
    const float y = position.y;
    if (!std::isfinite (position.x) || !std::isfinite (y))
        return BandEdge::none;
    const juce::Point<int> pi (truncateToInt (position.x), truncateToInt (y));

    // Frequency lines, each edge as stored (an inverted band keeps its parameter per line).
    if (layout.plot.contains (pi))
    {
        const auto lineY = [&] (BandEdge edge)
        { return layout.yForFrequency (bands.getEdge (band, edge, DisplayLayout::minFrequencyHz)); };
        const float dLow = std::abs (y - lineY (BandEdge::freqLow));
        const float dHigh = std::abs (y - lineY (BandEdge::freqHigh));
        if (std::min (dHigh, dLow) <= frequencyLineReach)
            return dHigh <= dLow ? BandEdge::freqHigh : BandEdge::freqLow;
    }

    const float levelMin = bands.getEdge (band, BandEdge::levelMin);
    const float levelMax = bands.getEdge (band, BandEdge::levelMax);
    const auto inLevelBox =
        findLevelBoxTarget (position, pi, layout, layout.getLevelBadgeBounds (levelMin, levelMax));
    if (inLevelBox != BandEdge::none)
        return inLevelBox;

    if (!layout.legend.expanded (legendMarginX, legendMarginY).contains (pi))
        return BandEdge::none;
    return findLegendTarget (position, layout, layout.yForLevel (levelMin), layout.yForLevel (levelMax));
}

void BandEdgeEditor::press (juce::Point<float> position, const DisplayLayout& layout, int bandIndex)
{
    dragEdge = findTarget (position, layout, bandIndex);
    if (dragEdge != BandEdge::none)
    {
        if (gestureParameter != nullptr)
        {
            gestureParameter->endChangeGesture();
            gestureParameter = nullptr;
        }

        dragBand = bandIndex;
        gestureParameter = parameters.getParameter (getParameterId (dragBand, dragEdge));
        if (gestureParameter != nullptr)
            gestureParameter->beginChangeGesture();
    }

    // The edge jumps to the press position at once.
    drag (position, layout);
}

void BandEdgeEditor::release()
{
    if (gestureParameter != nullptr)
    {
        gestureParameter->endChangeGesture();
        gestureParameter = nullptr;
    }
    dragEdge = BandEdge::none;
}

void BandEdgeEditor::drag (juce::Point<float> position, const DisplayLayout& layout)
{
    if (dragEdge == BandEdge::none)
        return;

    const float y = position.y;
    const auto plot = layout.plot.toFloat();
    const auto content = layout.content.toFloat();
    const bool isFrequency = isFrequencyEdge (dragEdge);
    // Without vertical room there is no axis to read a value from.
    if (!std::isfinite (y) || (isFrequency ? plot.getHeight() : content.getHeight()) <= 0.0f)
        return;

    if (isFrequency)
    {
        const float t = clampValue ((plot.getBottom() - y) / plot.getHeight(), 0.0f, 1.0f);
        writeEdge (dragBand, dragEdge, DisplayLayout::minFrequencyHz * std::pow (1000.0f, t));
        return;
    }

    // The level span is the legend's: the content's vertical extent.
    const float top = content.getY();
    const float height = content.getHeight();
    const float bottom = top + height;
    const float yc = dragEdge == BandEdge::levelMin
                         ? (y < top + levelDragMargin ? top + levelDragMargin : std::min (y, bottom))
                         : (y < top ? top : std::min (y, bottom - levelDragMargin));
    const float span = DisplayLayout::maxLevelDb - DisplayLayout::minLevelDb;
    writeEdge (dragBand, dragEdge,
               clampValue ((bottom - yc) / height, 0.0f, 1.0f) * span + DisplayLayout::minLevelDb);
}

bool BandEdgeEditor::setEdgeValue (int bandIndex, BandEdge edge, float value)
{
    // A drag holds its own gesture until the release.
    auto* parameter = parameters.getParameter (getParameterId (bandIndex, edge));
    if (parameter == nullptr || dragEdge != BandEdge::none || !std::isfinite (value))
        return false;

    // A step against the end of the range or the gap changes nothing, so it opens no gesture.
    const float limited = limitToGap (bandIndex, edge, value);
    if (parameter->convertFrom0to1 (parameter->convertTo0to1 (limited)) == bands.getEdge (bandIndex, edge))
        return false;

    parameter->beginChangeGesture();
    writeEdge (bandIndex, edge, value);
    parameter->endChangeGesture();
    return true;
}

float BandEdgeEditor::limitToGap (int bandIndex, BandEdge edge, float value) const
{
    // Each edge keeps its gap to the band's other edge of the same kind, whichever moves it.
    switch (edge)
    {
        case BandEdge::freqLow:
            return std::min (bands.getEdge (bandIndex, BandEdge::freqHigh) - minFrequencyGapHz, value);
        case BandEdge::freqHigh:
            return std::max (bands.getEdge (bandIndex, BandEdge::freqLow) + minFrequencyGapHz, value);
        case BandEdge::levelMin:
            return std::min (bands.getEdge (bandIndex, BandEdge::levelMax) - minLevelGapDb, value);
        case BandEdge::levelMax:
            return std::max (bands.getEdge (bandIndex, BandEdge::levelMin) + minLevelGapDb, value);
        case BandEdge::none:
            break;
    }
    return value;
}

void BandEdgeEditor::writeEdge (int bandIndex, BandEdge edge, float value)
{
    setParameterValue (getParameterId (bandIndex, edge), limitToGap (bandIndex, edge, value));
    if (!isFrequencyEdge (edge))
        enforceLevelGap (bandIndex, edge);
}

void BandEdgeEditor::enforceLevelGap (int bandIndex, BandEdge edge)
{
    // Runs on the stored values, after the parameter's range has rounded and limited them.
    const float levelMin = bands.getEdge (bandIndex, BandEdge::levelMin);
    const float levelMax = bands.getEdge (bandIndex, BandEdge::levelMax);
    if (levelMax - minLevelGapDb >= levelMin)
        return;

    if (edge == BandEdge::levelMin)
        setParameterValue (getParameterId (bandIndex, edge), levelMax - minLevelGapDb);
    else if (edge == BandEdge::levelMax)
        setParameterValue (getParameterId (bandIndex, edge), levelMin + minLevelGapDb);
}

void BandEdgeEditor::setParameterValue (const juce::String& id, float value)
{
    auto* parameter = parameters.getParameter (id);
    if (parameter == nullptr || !std::isfinite (value))
        return;

    const auto& range = parameter->getNormalisableRange();
    parameter->setValueNotifyingHost (range.convertTo0to1 (clampValue (value, range.start, range.end)));
}

} // namespace varnelle::editor
