#pragma once

#include "editor/DisplayBands.h"

#include <juce_graphics/juce_graphics.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace varnelle::editor
{

/** The shown history stretched over the plot with the band stripes' tint, for an unscaled
    screen, kept between paints so that new columns cost only their own pixels.

    Each history column becomes a block of timeZoom pixels, rounded so that a column keeps its
    width while it scrolls: column a spans pixels floor(a * w / n) onwards of an endless strip,
    and the plot shows the strip's last w pixels (the oldest column may be cut at the left).
    JUCE's general resampling path and a blended fill per stripe cost several times as much,
    and a display following audio draws this 30 times a second.

    Owned by the spectrum history; message thread only. */
class HistoryStretcher
{
public:
    /** A history as stored: twice the plot's width, its shown columns ending at `end`. */
    struct Source
    {
        const juce::Image& history;
        int end = 0;
        std::int64_t columnsPushed = 0; // identifies the newest column across storage moves
        int view = 0;                   // which history, as the caller counts them
    };

    /** Draws the newest `shownColumns` columns of `source` over `plot` (which has the shown
        history's pixel size). */
    void draw (juce::Graphics& g, const Source& source, juce::Rectangle<int> plot, int shownColumns,
               const std::array<BandStripe, numBands>& stripes);

    /** How far the picture drawn last moves left when `source` is drawn next with these columns
        and stripes, in pixels; nothing when it would be drawn afresh (or was never drawn). */
    std::optional<int> pixelsToScroll (const Source& source, int shownColumns,
                                       const std::array<BandStripe, numBands>& stripes) const;

    /** Drops the kept picture, after the histories were made anew. */
    void forget() { key = {}; }

private:
    // What the kept picture shows; anything but new columns means drawing it all again.
    struct Key
    {
        int view = 0;
        int width = 0, height = 0, columns = 0;
        std::array<std::array<std::uint32_t, 3>, numBands> stripes{}; // top, height, colour
        bool operator== (const Key& other) const noexcept
        {
            return view == other.view && width == other.width && height == other.height &&
                   columns == other.columns && stripes == other.stripes;
        }
    };

    static Key makeKey (const Source& source, int n, const std::array<BandStripe, numBands>& stripes);
    std::optional<int> pixelsMoved (const Key& newKey, std::int64_t end) const;
    void drawColumns (const Source& source, int from, int plotY,
                      const std::array<BandStripe, numBands>& stripes);

    juce::Image picture;
    Key key;
    std::int64_t pictureEnd = 0;         // columnsPushed when it was drawn
    std::vector<int> sourceColumns;      // the history column under each plot pixel
    std::vector<std::uint8_t> rowBuffer; // one stretched row, before it goes into the picture
};

} // namespace varnelle::editor
