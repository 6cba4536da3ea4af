#include "editor/BandOverlay.h"

#include "editor/EditorShared.h"

#include <cmath>
#include <iterator>

namespace varnelle::editor
{

namespace
{
const juce::Colour levelBoxColour (0xff101a2c);
const juce::Colour badgeColour (0xff091322);
const auto white = juce::Colours::white;

constexpr float gridFrequencies[] = {120.0f, 500.0f, 1000.0f, 5000.0f, 10000.0f};
constexpr float scaleLevels[] = {0.0f, -20.0f, -40.0f, -60.0f, -80.0f};
constexpr float changeScaleDb[] = {24.0f, 12.0f, 0.0f, -12.0f, -24.0f};

// A line across the plot as rows of even coverage, for an unscaled screen. JUCE's path filling
// paints the first pixel of every clipped run its own way, so a line drawn as a path differs
// by a shade where a repaint's edge cuts it; rows of plain fills are alike in every column,
// however the repaint is cut.
void fillHorizontalLine (juce::Graphics& g, juce::Rectangle<int> plot, float y, float thickness,
                         juce::Colour colour)
{
    const float top = y - 0.5f * thickness;
    const float bottom = y + 0.5f * thickness;
    for (int row = (int)std::floor (top); (float)row < bottom; ++row)
    {
        const float coverage = std::min (bottom, (float)row + 1.0f) - std::max (top, (float)row);
        if (coverage <= 0.0f)
            continue;
        g.setColour (colour.withMultipliedAlpha (coverage));
        g.fillRect (plot.getX(), row, plot.getWidth(), 1);
    }
}

// The newest change as a curve along the plot's right edge: 0 dB on a line 40 px inside it,
// cuts to the left and boosts to the right, 36 px for the view's full range.
struct ChangeCurveGeometry
{
    float zeroX = 0.0f, pixelsPerDb = 0.0f;
    juce::Rectangle<int> area; // all the curve can cover

    explicit ChangeCurveGeometry (juce::Rectangle<int> plot)
    {
        constexpr float reach = 36.0f;
        zeroX = (float)plot.getRight() - 40.0f;
        pixelsPerDb = reach / changeViewRangeDb;
        area = plot.withLeft ((int)std::floor (zeroX - reach) - 3);
    }
};

// The grid line's text at a frequency; its top is the line's row.
juce::Rectangle<int> gridTextArea (const DisplayLayout& layout, float frequency)
{
    const int y = roundToIntAwayFromZero (layout.yForFrequency (frequency));
    return {layout.plot.getX() + 4, y, 38, 14};
}

// The selected band's frequencies, the upper above its stripe with the band's name beside it,
// the lower below it.
struct LabelAreas
{
    juce::Rectangle<int> upper, title, lower;
};

LabelAreas labelAreas (const DisplayLayout& layout, const BandGeometry& band)
{
    const int x = layout.plot.getX() + 6;
    const auto rows = layout.getFrequencyLabelRows (band.yFreqLo, band.yFreqHi);
    return {{x, rows.upper, 120, 14}, {x + 122, rows.upper, 72, 14}, {x, rows.lower, 120, 14}};
}
} // namespace

const juce::String& BandOverlay::CachedNumberText::get (float number, int decimals,
                                                        const juce::String& suffix)
{
    if (!valid || number != value)
    {
        text = juce::String (number, decimals) + suffix;
        value = number;
        valid = true;
    }
    return text;
}

BandOverlay::BandOverlay()
    : smallFont (makeFont (10.5f)), labelFont (makeFont (12.0f, true)), badgeFont (makeFont (9.0f, true))
{
    for (int b = 0; b < numBands; ++b)
        bandTitles[(size_t)b] = "Band " + juce::String (b + 1);
    for (size_t i = 0; i < std::size (gridFrequencies); ++i)
    {
        const float f = gridFrequencies[i];
        frequencyGridTexts[i] = f >= 1000.0f ? juce::String (f / 1000.0f, 1) + "k" : juce::String ((int)f);
    }
    for (size_t i = 0; i < std::size (scaleLevels); ++i)
        levelScaleTexts[i] = juce::String (scaleLevels[i], 0);

    freqTitle = "Freq";
    levelTitle = "Level";
    dbTitle = "dB";
    afterViewTitle = "View: After Gain";
    beforeViewTitle = "View: Before Gain";
    changeViewTitle = "View: Change";
    for (size_t i = 0; i < std::size (changeScaleDb); ++i)
        changeScaleTexts[i] = (changeScaleDb[i] > 0.0f ? "+" : "") + juce::String (changeScaleDb[i], 0);
    hzSuffix = " Hz";
}

void BandOverlay::setLayout (const DisplayLayout& layout)
{
    const auto legend = layout.legend.toFloat();
    legendGradient = juce::ColourGradient (spectrumColour (1.0f), legend.getX(), legend.getY(),
                                           spectrumColour (0.0f), legend.getX(), legend.getBottom(), false);
    legendGradient.addColour (0.16, spectrumColour (0.84f));
    legendGradient.addColour (0.34, spectrumColour (0.66f));
    legendGradient.addColour (0.52, spectrumColour (0.48f));
    legendGradient.addColour (0.70, spectrumColour (0.30f));
    legendGradient.addColour (0.86, spectrumColour (0.14f));

    changeLegendGradient =
        juce::ColourGradient (changeColour (changeViewRangeDb), legend.getX(), legend.getY(),
                              changeColour (-changeViewRangeDb), legend.getX(), legend.getBottom(), false);
    for (const float proportion : {0.125f, 0.25f, 0.375f, 0.5f, 0.625f, 0.75f, 0.875f})
        changeLegendGradient.addColour (proportion,
                                        changeColour ((1.0f - 2.0f * proportion) * changeViewRangeDb));
}

std::array<BandStripe, numBands> BandOverlay::getStripes (const DisplayBands& bands,
                                                          const DisplayLayout& layout, int selectedBand)
{
    std::array<BandStripe, numBands> stripes;
    for (int b = 0; b < numBands; ++b)
    {
        const auto band = bands.getGeometry (b, layout);
        const int top = roundToIntAwayFromZero (std::min (band.yFreqLo, band.yFreqHi));
        const int bottom = roundToIntAwayFromZero (std::max (band.yFreqLo, band.yFreqHi));
        const float alpha = (b == selectedBand ? 0.18f : 0.07f) * band.alphaFactor;
        stripes[(size_t)b] = {top, std::max (bottom - top, 1), getBandColour (b).withAlpha (alpha)};
    }
    return stripes;
}

juce::RectangleList<int> BandOverlay::getAreasThatDoNotScroll (const DisplayLayout& layout,
                                                               const DisplayBands& bands, int selectedBand,
                                                               bool changeView)
{
    // The frame's sides, and the texts with a margin for their antialiased edges; everything
    // else over the plot is the same in every column.
    const auto plot = layout.plot;
    juce::RectangleList<int> areas;
    areas.add (plot.withWidth (1));
    areas.add (plot.withLeft (plot.getRight() - 1));
    for (const float frequency : gridFrequencies)
        areas.add (gridTextArea (layout, frequency).expanded (2));
    const auto labels = labelAreas (layout, bands.getGeometry (selectedBand, layout));
    for (const auto& area : {labels.upper, labels.title, labels.lower})
        areas.add (area.expanded (2));
    if (changeView)
        areas.add (ChangeCurveGeometry (plot).area);
    areas.clipTo (plot);
    return areas;
}

void BandOverlay::paint (juce::Graphics& g, const DisplayLayout& layout, const DisplayBands& bands,
                         int selectedBand, HistoryView view, bool stripesDrawn)
{
    Geometries geometries;
    for (int b = 0; b < numBands; ++b)
        geometries[(size_t)b] = bands.getGeometry (b, layout);
    const auto stripes =
        stripesDrawn ? std::array<BandStripe, numBands>{} : getStripes (bands, layout, selectedBand);

    g.setColour (white.withAlpha (0.22f));
    g.drawRect (layout.plot, 1);
    drawGrid (g, layout);
    drawFrequencyLines (g, layout, geometries, stripesDrawn ? nullptr : &stripes, selectedBand);
    drawFrequencyLabels (g, layout, geometries[(size_t)selectedBand], selectedBand);
    if (view == HistoryView::change)
        drawChangeLegend (g, layout);
    else
        drawLegend (g, layout, geometries, selectedBand);
    drawLevelBox (g, layout, geometries, selectedBand);
    drawTitles (g, layout, view);
}

void BandOverlay::drawGrid (juce::Graphics& g, const DisplayLayout& layout) const
{
    const auto plot = layout.plot;
    g.setFont (smallFont);
    for (size_t i = 0; i < std::size (gridFrequencies); ++i)
    {
        const auto text = gridTextArea (layout, gridFrequencies[i]);
        g.setColour (white.withAlpha (0.12f));
        g.drawHorizontalLine (text.getY(), (float)plot.getX(), (float)plot.getRight());
        g.setColour (white.withAlpha (0.65f));
        g.drawText (frequencyGridTexts[i], text, juce::Justification::left, false);
    }
}

void BandOverlay::drawFrequencyLines (juce::Graphics& g, const DisplayLayout& layout, const Geometries& bands,
                                      const std::array<BandStripe, numBands>* stripesToFill,
                                      int selectedBand) const
{
    const auto plot = layout.plot;
    for (int b = 0; b < numBands; ++b)
    {
        const auto& band = bands[(size_t)b];
        const bool selected = b == selectedBand;
        if (stripesToFill != nullptr)
        {
            const auto& stripe = (*stripesToFill)[(size_t)b];
            g.setColour (stripe.colour);
            g.fillRect (plot.getX(), stripe.top, plot.getWidth(), stripe.height);
        }

        const float thickness = selected ? 2.4f : 1.2f;
        const auto colour = getBandColour (b).withAlpha ((selected ? 0.95f : 0.58f) * band.alphaFactor);
        for (const float y : {band.yFreqLo, band.yFreqHi})
        {
            if (stripesToFill == nullptr)
                fillHorizontalLine (g, plot, y, thickness, colour);
            else
            {
                g.setColour (colour);
                g.drawLine ((float)plot.getX(), y, (float)plot.getRight(), y, thickness);
            }
        }
    }
}

// The selected band's frequencies: the upper above its stripe, the lower below it.
void BandOverlay::drawFrequencyLabels (juce::Graphics& g, const DisplayLayout& layout,
                                       const BandGeometry& band, int selectedBand)
{
    const auto areas = labelAreas (layout, band);
    g.setColour (white.withAlpha (0.85f));
    g.setFont (labelFont);
    g.drawText (upperFrequencyText.get (band.fHi, 0, hzSuffix), areas.upper, juce::Justification::left,
                false);
    g.drawText (lowerFrequencyText.get (band.fLo, 0, hzSuffix), areas.lower, juce::Justification::left,
                false);
    g.setColour (getBandColour (selectedBand).withAlpha (0.96f));
    g.drawText (bandTitles[(size_t)selectedBand], areas.title, juce::Justification::left, false);
}

// The colour scale with its level marks and the bands' level lines across it.
void BandOverlay::drawLegend (juce::Graphics& g, const DisplayLayout& layout, const Geometries& bands,
                              int selectedBand) const
{
    std::array<int, std::size (scaleLevels)> rows{};
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = roundToIntAwayFromZero (layout.yForLevel (scaleLevels[i]));
    drawLegendScale (g, layout.legend, legendGradient, levelScaleTexts, rows);

    const auto legend = layout.legend;
    const float x0 = (float)legend.getX();
    const float x1 = (float)(legend.getX() + 30);
    for (int b = 0; b < numBands; ++b)
    {
        const auto& band = bands[(size_t)b];
        const bool selected = b == selectedBand;
        const float thickness = selected ? 2.2f : 1.2f;
        g.setColour (getBandColour (b).withAlpha ((selected ? 0.95f : 0.58f) * band.alphaFactor));
        g.drawLine (x0, band.yLevelLo, x1, band.yLevelLo, thickness);
        g.drawLine (x0, band.yLevelHi, x1, band.yLevelHi, thickness);
    }
}

// The Change view's colour scale, +24 dB at the top and -24 dB at the bottom, with its marks.
void BandOverlay::drawChangeLegend (juce::Graphics& g, const DisplayLayout& layout) const
{
    const auto legend = layout.legend;
    std::array<int, std::size (changeScaleDb)> rows{};
    for (size_t i = 0; i < rows.size(); ++i)
    {
        const float proportion = 0.5f - 0.5f * changeScaleDb[i] / changeViewRangeDb;
        rows[i] =
            roundToIntAwayFromZero ((float)legend.getY() + proportion * (float)(legend.getHeight() - 1));
    }
    drawLegendScale (g, legend, changeLegendGradient, changeScaleTexts, rows);
}

// A legend's colour scale in its frame, with a mark and its text at each of the rows.
void BandOverlay::drawLegendScale (juce::Graphics& g, juce::Rectangle<int> legend,
                                   const juce::ColourGradient& gradient,
                                   const std::array<juce::String, 5>& texts,
                                   const std::array<int, 5>& rows) const
{
    g.setGradientFill (gradient);
    g.fillRoundedRectangle (legend.toFloat(), 4.0f);
    g.setColour (white.withAlpha (0.45f));
    g.drawRoundedRectangle (legend.toFloat(), 4.0f, 1.0f);

    g.setFont (smallFont);
    for (size_t i = 0; i < rows.size(); ++i)
    {
        g.setColour (white.withAlpha (0.18f));
        g.drawHorizontalLine (rows[i], (float)legend.getX(), (float)(legend.getX() + 30));
        g.setColour (white.withAlpha (0.68f));
        g.drawText (texts[i], legend.getX() - 38, rows[i] - 7, 34, 14, juce::Justification::right, false);
    }
}

void BandOverlay::drawChangeCurve (juce::Graphics& g, const DisplayLayout& layout,
                                   const SpectrumHistory& history)
{
    const auto plot = layout.plot;
    const ChangeCurveGeometry curve (plot);
    g.setColour (white.withAlpha (0.25f));
    g.drawVerticalLine (roundToIntAwayFromZero (curve.zeroX), (float)plot.getY(), (float)plot.getBottom());

    changeCurve.clear();
    for (int row = 0; row < plot.getHeight(); ++row)
    {
        const float db =
            clampValue (history.getNewestChangeAtRow (row), -changeViewRangeDb, changeViewRangeDb);
        const juce::Point<float> point (curve.zeroX + db * curve.pixelsPerDb,
                                        (float)(plot.getY() + row) + 0.5f);
        if (row == 0)
            changeCurve.startNewSubPath (point);
        else
            changeCurve.lineTo (point);
    }
    // Bevelled, so that a sharp turn stays near its points; inside the plot, where it is
    // painted again with every column.
    const juce::Graphics::ScopedSaveState saved (g);
    g.reduceClipRegion (plot);
    g.setColour (white.withAlpha (0.9f));
    g.strokePath (changeCurve, juce::PathStrokeType (1.5f, juce::PathStrokeType::beveled));
}

// The bands' level ranges as bars, and the selected band's values next to its edges.
void BandOverlay::drawLevelBox (juce::Graphics& g, const DisplayLayout& layout, const Geometries& bands,
                                int selectedBand)
{
    // Beside the legend, with nothing drawn over both.
    const auto levelBox = layout.levelBox;
    g.setColour (levelBoxColour);
    g.fillRoundedRectangle (levelBox.toFloat(), 4.0f);
    g.setColour (white.withAlpha (0.22f));
    g.drawRoundedRectangle (levelBox.toFloat(), 4.0f, 1.0f);

    for (int b = 0; b < numBands; ++b)
    {
        const auto& band = bands[(size_t)b];
        const bool selected = b == selectedBand;
        const auto colour = getBandColour (b);
        const float top = std::roundf (std::min (band.yLevelLo, band.yLevelHi));
        const float bottom = std::roundf (std::max (band.yLevelLo, band.yLevelHi));
        const auto bar =
            juce::Rectangle<float> ((float)levelBox.getX() + 1.0f, top, 40.0f, std::max (bottom - top, 1.0f))
                .getIntersection (levelBox.toFloat());

        g.setColour (colour.withAlpha ((selected ? 0.42f : 0.24f) * band.alphaFactor));
        g.fillRect (bar);
        if (selected)
        {
            g.setColour (colour.withAlpha (0.82f * band.alphaFactor));
            g.drawRect (bar, 1.0f);
        }
    }

    const auto& chosen = bands[(size_t)selectedBand];
    const auto badges = layout.getLevelBadgeBounds (chosen.lLo, chosen.lHi);
    drawValueBadge (g, badges.lower, lowerLevelText.get (chosen.lLo, 1, {}));
    drawValueBadge (g, badges.upper, upperLevelText.get (chosen.lHi, 1, {}));
}

void BandOverlay::drawValueBadge (juce::Graphics& g, juce::Rectangle<int> area,
                                  const juce::String& text) const
{
    g.setColour (badgeColour.withAlpha (0.62f));
    g.fillRoundedRectangle (area.toFloat(), 2.5f);
    g.setColour (white.withAlpha (0.93f));
    g.setFont (badgeFont);
    g.drawText (text, area, juce::Justification::centred, false);
}

// In the badge font that drawValueBadge left set.
void BandOverlay::drawTitles (juce::Graphics& g, const DisplayLayout& layout, HistoryView view) const
{
    const auto plot = layout.plot;
    const auto legend = layout.legend;
    const int titleY = std::max (plot.getY() - 16, 0);
    g.setFont (badgeFont);
    g.setColour (white.withAlpha (0.75f));
    g.drawText (freqTitle, plot.getX(), titleY, 70, 16, juce::Justification::left, false);
    g.drawText (levelTitle, legend.getX() - 4, titleY, 70, 16, juce::Justification::left, false);
    g.drawText (dbTitle, legend.getX() - 36, titleY, 34, 16, juce::Justification::right, false);
    g.setColour (white.withAlpha (0.85f));
    const auto& viewTitle = view == HistoryView::change  ? changeViewTitle
                            : view == HistoryView::after ? afterViewTitle
                                                         : beforeViewTitle;
    g.drawText (viewTitle, plot.getRight() - 170, titleY, 170, 16, juce::Justification::right, false);

    // The key's label left of the title: the levels the Before view shows are the key's, and a
    // key that carries nothing leaves every band at rest, which the user should not have to guess.
    if (keyLabel.isNotEmpty())
    {
        const int right = plot.getRight() - (int)std::ceil (badgeFont.getStringWidthFloat (viewTitle)) - 12;
        g.setColour (keyLabel == "Key" ? white.withAlpha (0.85f) : cutColour);
        g.drawText (keyLabel, right - 120, titleY, 120, 16, juce::Justification::right, false);
    }
}

} // namespace varnelle::editor
