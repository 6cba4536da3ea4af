#pragma once

#include "editor/DisplayBands.h"
#include "editor/HistoryStretcher.h"
#include "engine/StftConstants.h"

#include <juce_graphics/juce_graphics.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace varnelle::editor
{

/** The display's three histories: the spectrum before and after the band gains, and the gain
    change the bands made. */
enum class HistoryView
{
    before,
    after,
    change
};

/** The display's three histories (before and after the band gains, and the change) and their
    drawing into the plot.

    All are plot-sized RGB pictures, newest column on the right, row 0 at 20 kHz and the bottom
    row at 20 Hz; they always advance together, so switching the view shows another one
    complete. Owned by the display; message thread only (the columns come from the analyzer
    feed, fetched by the display's timer). */
class SpectrumHistory
{
public:
    /** Makes both histories `width` x `height`, empty, when that is not their size already; a
        size without area leaves no histories. */
    void setSize (int width, int height);

    /** Appends one column to each history: numDisplayBins display values each for the spectra,
        and as many changes in dB (none given: nothing changed), every row taking the nearest bin
        at `sampleRate`. Nothing without histories or spectra. */
    void pushColumns (const float* before, const float* after, double sampleRate,
                      const float* changeDb = nullptr);

    /** The newest column's change in dB at a plot row (0 outside the plot). */
    float getNewestChangeAtRow (int row) const noexcept;

    /** The shown part of a history (null without histories). The handle shares its pixels with
        the history until the next column arrives. */
    juce::Image getImage (HistoryView view) const;
    juce::Image getImage (bool afterGain) const
    {
        return getImage (afterGain ? HistoryView::after : HistoryView::before);
    }

    /** Draws the newest columns of one history stretched over `plot`, each column timeZoom
        pixels wide. Returns whether the stripes' tint was drawn with it (on an unscaled screen);
        otherwise the caller fills them. Draws nothing and returns false without histories. */
    bool draw (juce::Graphics& g, juce::Rectangle<int> plot, HistoryView view, float timeZoom,
               const std::array<BandStripe, numBands>& stripes);

    /** How far the picture in the plot moves left when it is drawn next, in pixels, when that
        is all that changes in it: the last drawing was unscaled and showed the same history, size,
        zoom and stripes. Nothing otherwise. */
    std::optional<int> pixelsToScroll (juce::Rectangle<int> plot, HistoryView view, float timeZoom,
                                       const std::array<BandStripe, numBands>& stripes) const;

    bool hasImages() const noexcept { return images[0].isValid(); }

    /** True when scrolling in the newest column changed no pixel of the picture at this zoom:
        the columns shown, and the one that went out of view, all hold the newest values in both
        histories (a silent input, for one). */
    bool newestColumnChangedNothing (float timeZoom) const noexcept;

private:
    void writeColumn (juce::Image& image, int x, const float* values, double sampleRate,
                      juce::Colour (*colourOf) (float));
    int shownColumns (float timeZoom) const noexcept;

    // Twice the plot's width: a new column goes in at historyEnd, and only when that reaches
    // the right edge is the newer half moved back to the left, once per plot width of columns.
    std::array<juce::Image, 3> images; // by HistoryView
    int historyEnd = 0;                // one past the newest column
    std::int64_t columnsPushed = 0;    // since the histories were made
    std::int64_t repeatedColumns = 0;  // the newest columns alike, the newest included
    std::array<float, numDisplayBins> newestBefore{}, newestAfter{}, newestChange{};
    std::vector<int> rowBins; // the display bin of each row
    float rowBinsSampleRate = 0.0f;
    HistoryStretcher stretcher;
    bool lastDrawStretched = false; // the last drawing went through the stretcher
};

} // namespace varnelle::editor
