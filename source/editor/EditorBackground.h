#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

namespace varnelle::editor
{

/** What the five band cards show: where each band's controls are, which band is selected
    and which are bypassed. */
struct BandCards
{
    /** Per band, the union of its knobs and its band button (empty areas add nothing). */
    std::array<juce::Rectangle<int>, 5> controlAreas;
    int selectedBand = 0;
    std::array<bool, 5> bypassed{};

    bool operator== (const BandCards& other) const noexcept
    {
        return controlAreas == other.controlAreas && selectedBand == other.selectedBand &&
               bypassed == other.bypassed;
    }
    bool operator!= (const BandCards& other) const noexcept { return !(*this == other); }
};

/** The window's background: its vertical gradient and a card behind each band's column.

    Gradient and cards are most of a full repaint but change only with the size, the display
    scale, the cards' places, the selected band or a band's bypass, so they are drawn into an
    image when one of those changes and copied on every other paint. Owned by the editor;
    message thread only. */
class EditorBackground
{
public:
    /** Paints the background of a window `width` × `height` with `cards`. */
    void paint (juce::Graphics& g, int width, int height, const BandCards& cards);

private:
    static void paintCard (juce::Graphics& g, int bandIndex, const BandCards& cards);
    static void paintDirectly (juce::Graphics& g, int height, const BandCards& cards);
    const juce::Image& getCachedImage (int width, int height, float pixelScale, const BandCards& cards);

    juce::Image cachedImage;
    BandCards cachedCards;
    float cachedScale = 0.0f;
};

} // namespace varnelle::editor
