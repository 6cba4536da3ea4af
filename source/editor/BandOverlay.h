#pragma once

#include "editor/DisplayBands.h"
#include "editor/SpectrumHistory.h"

#include <juce_graphics/juce_graphics.h>

#include <array>

namespace varnelle::editor
{

/** Everything the display draws over and beside the spectrogram: the plot frame and frequency
    grid, the bands' stripes and frequency lines, the selected band's labels, the level legend
    with its scale and level lines (in the Change view the change scale in dB, and the newest
    change as a curve), the level box with its bars and the selected band's badges, and the
    titles.

    Its fonts and fixed texts are made once and changing numbers formatted only when they change,
    so that a repaint allocates nothing of its own. Owned by the display; message thread only. */
class BandOverlay
{
public:
    BandOverlay();

    /** Follows a new size (the legend's gradient is made for its place). */
    void setLayout (const DisplayLayout& layout);

    /** The five bands' stripes over the plot, the selected one stronger. */
    static std::array<BandStripe, numBands> getStripes (const DisplayBands& bands,
                                                        const DisplayLayout& layout, int selectedBand);

    /** The places over the plot where what is drawn differs from column to column (the frame's
        sides and the texts), which a picture moved sideways under the overlay must have painted
        again; elsewhere the overlay is the same all along each row. */
    static juce::RectangleList<int> getAreasThatDoNotScroll (const DisplayLayout& layout,
                                                             const DisplayBands& bands, int selectedBand,
                                                             bool changeView);

    /** Draws over a plot that already shows the history; fills the stripes too unless the
        history was drawn with their tint. */
    void paint (juce::Graphics& g, const DisplayLayout& layout, const DisplayBands& bands, int selectedBand,
                HistoryView view, bool stripesDrawn);

    /** Varnelle Key's label beside the view title ("Key", "Key: no signal"); empty for none. */
    void setKeyLabel (const juce::String& label) { keyLabel = label; }
    const juce::String& getKeyLabel() const noexcept { return keyLabel; }

    /** The Change view's curve of the newest column's change along the plot's right edge, with
        its 0 dB line. */
    void drawChangeCurve (juce::Graphics& g, const DisplayLayout& layout, const SpectrumHistory& history);

private:
    using Geometries = std::array<BandGeometry, numBands>;

    // A number's text, formatted again only when the number changes.
    struct CachedNumberText
    {
        const juce::String& get (float number, int decimals, const juce::String& suffix);

        float value = 0;
        bool valid = false;
        juce::String text;
    };

    void drawGrid (juce::Graphics& g, const DisplayLayout& layout) const;
    void drawFrequencyLines (juce::Graphics& g, const DisplayLayout& layout, const Geometries& bands,
                             const std::array<BandStripe, numBands>* stripesToFill, int selectedBand) const;
    void drawFrequencyLabels (juce::Graphics& g, const DisplayLayout& layout, const BandGeometry& band,
                              int selectedBand);
    void drawLegend (juce::Graphics& g, const DisplayLayout& layout, const Geometries& bands,
                     int selectedBand) const;
    void drawLevelBox (juce::Graphics& g, const DisplayLayout& layout, const Geometries& bands,
                       int selectedBand);
    void drawValueBadge (juce::Graphics& g, juce::Rectangle<int> area, const juce::String& text) const;
    void drawChangeLegend (juce::Graphics& g, const DisplayLayout& layout) const;
    void drawLegendScale (juce::Graphics& g, juce::Rectangle<int> legend,
                          const juce::ColourGradient& gradient, const std::array<juce::String, 5>& texts,
                          const std::array<int, 5>& rows) const;
    void drawTitles (juce::Graphics& g, const DisplayLayout& layout, HistoryView view) const;

    juce::Font smallFont, labelFont, badgeFont;
    juce::ColourGradient legendGradient, changeLegendGradient;
    juce::Path changeCurve; // kept, so that its storage is reused
    std::array<juce::String, 5> frequencyGridTexts, levelScaleTexts, changeScaleTexts;
    std::array<juce::String, numBands> bandTitles;
    juce::String freqTitle, levelTitle, dbTitle, afterViewTitle, beforeViewTitle, changeViewTitle, hzSuffix;
    juce::String keyLabel;
    CachedNumberText upperFrequencyText, lowerFrequencyText, lowerLevelText, upperLevelText;
};

} // namespace varnelle::editor
