#pragma once

#include "engine/VarnelleAudioProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace varnelle::editor
{

/** The scrolling spectrogram with the bands drawn over it, the level legend and the level box.

    Time runs left to right (newest column at the right), frequency upwards on a log axis from
    20 Hz to 20 kHz. Two RGB histories (before and after the band gains) always advance
    together, one column per timer tick that brings a new analyzer pair, so switching the view
    shows the other history complete.

    The mouse moves the selected band's four edges: its frequency lines in the plot, its level
    edges at their badges in the level box or their lines on the legend. Each press on an edge
    opens one host change gesture on that edge's parameter, every drag position writes it, the
    release closes it. The mouse never selects a band.

    For keys and screen readers the four edges are focusable child elements titled like the
    parameters ("Band 2 Frequency Low"), whose values carry their unit ("120 Hz"). The arrow keys
    move the focused edge (Shift: fine, Page Up/Down: large), each press one host gesture under
    the same gap and range rules as dragging; keys 1 to 5 select a band through onBandKey.

    Message thread only. The only exchange with the audio thread is
    VarnelleAudioProcessor::getLatestSpectra; parameter values are read through the tree's raw
    value pointers, which are looked up once here.
*/
class SpectrogramComponent : public juce::Component, public juce::Timer
{
public:
    /** The edge a mouse drag moves. */
    enum class DragMode
    {
        none = 0,
        freqLow = 1,
        freqHigh = 2,
        levelMin = 3,
        levelMax = 4
    };

    /** The two level badges of the selected band, in local coordinates. */
    struct LevelBadgeBounds
    {
        juce::Rectangle<int> lower, upper;
    };

    /** The y positions of the selected band's two frequency labels (14 px high rows). */
    struct FrequencyLabelRows
    {
        int upper = 0, lower = 0;
    };

    /** Starts the 30 Hz poll timer. The processor must outlive the component. */
    explicit SpectrogramComponent (VarnelleAudioProcessor& processorToShow);
    ~SpectrogramComponent() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    /** Repaints if pollForChanges finds anything new. */
    void timerCallback() override;

    /** Fetches the newest analyzer pair, if any, into both histories. True when the display
        has something new to show: a column, or band edges or bypasses that moved (by the host,
        a drag or a preset). Nothing else it draws changes without a repaint of its own. */
    bool pollForChanges();

    /** Horizontal stretch of the history, limited to 4..20 (non-finite values are ignored);
        repaints. */
    void setTimeZoom (float newZoom);
    float getTimeZoom() const noexcept { return timeZoom; }

    /** Shows the after-gain history (true) or the before-gain one; repaints. */
    void setShowAfterGain (bool shouldShowAfter);
    bool getShowAfterGain() const noexcept { return showAfterGain != 0; }

    /** The highlighted band, limited to 0..4; repaints. */
    void setSelectedBand (int bandIndex);
    int getSelectedBand() const noexcept { return selectedBand; }

    // Layout, derived from the current bounds each time it is needed.
    juce::Rectangle<int> getContentBounds() const;
    juce::Rectangle<int> getPlotBounds() const;
    juce::Rectangle<int> getLegendBounds() const;
    juce::Rectangle<int> getLevelBoxBounds() const;

    /** Plot y of a frequency in Hz (log axis, limited to 20 Hz .. 20 kHz). */
    float yForFrequency (float frequencyHz) const;

    /** Legend y of a level in dB (linear, limited to -80 .. 0 dB). */
    float yForLevel (float levelDb) const;

    /** The colour map for a display value 0..1 (values outside are limited). */
    static juce::Colour spectrumColour (float value);

    /** Appends one column to each history, as pollForChanges does with each new analyzer pair
        (numDisplayBins display values each). */
    void pushColumns (const float* before, const float* after);

    /** Scrolls `image` one pixel left and writes `values` (numDisplayBins display values) as
        its rightmost column: row 0 is 20 kHz, the bottom row 20 Hz, each row the nearest bin at
        the processor's sample rate. Allocates only a table of rows, when the height or the
        sample rate changes. */
    void pushSpectrumColumn (juce::Image& image, const float* values);

    /** The selected band's level badges, kept inside the level box. */
    LevelBadgeBounds getLevelBadgeBounds() const;

    /** Where the selected band's upper and lower frequency labels go, kept inside the plot. */
    FrequencyLabelRows getFrequencyLabelRows() const;

    /** The shown history (plot-sized RGB, newest column on the right, or null before the plot
        has an area). The handle shares its pixels with the component's history until the next
        column arrives. */
    juce::Image getHistoryImage (bool afterGain) const;

    // Edge editing. A press picks an edge of the selected band and opens a gesture on its
    // parameter; the band is kept until the release, so the gesture and the writes stay on the
    // parameter that was grabbed even if the selection changes during the drag.
    void mouseDown (const juce::MouseEvent& e) override;
    void mouseDrag (const juce::MouseEvent& e) override;
    void mouseUp (const juce::MouseEvent& e) override;
    /** Ends an edge drag in progress as a release would (its gesture too). */
    void endDrag();

    /** The selected band's edge that a press at `position` (local coordinates) would grab. */
    DragMode findDragTarget (juce::Point<float> position) const;

    /** The selected band's parameter ID for an edge ("band3_levelMax"); empty for none. */
    juce::String getDragParameterId (DragMode mode) const;

    DragMode getDragMode() const noexcept { return dragMode; }

    /** The selected band's edge as stored (Hz or dB); 0 for none. */
    float getEdgeValue (DragMode edge) const;

    /** Moves the selected band's edge to `value` (Hz or dB) as one host gesture, keeping the
        gaps and ranges of dragging. Ignored during a drag. */
    void setEdgeValue (DragMode edge, float value);

    /** Keys 1 to 5 while the display has focus select band 0..4 through onBandKey, or directly
        when it is not set. */
    bool keyPressed (const juce::KeyPress& key) override;
    std::function<void (int)> onBandKey;

private:
    class EdgeElement;
    // A band's edges as drawn: sorted values and their positions, plus the bypass factor.
    struct BandGeometry
    {
        float fLo = 0, fHi = 0, lLo = 0, lHi = 0;
        float yFreqLo = 0, yFreqHi = 0, yLevelLo = 0, yLevelHi = 0;
        float alphaFactor = 1.0f;
    };

    // Live values of one band's parameters; null where the tree lacks the parameter.
    struct BandValues
    {
        std::atomic<float>* freqLow = nullptr;
        std::atomic<float>* freqHigh = nullptr;
        std::atomic<float>* levelMin = nullptr;
        std::atomic<float>* levelMax = nullptr;
        std::atomic<float>* bypass = nullptr;
    };

    // A number's text, formatted again only when the number changes.
    struct CachedNumberText
    {
        const juce::String& get (float number, int decimals, const juce::String& suffix);

        float value = 0;
        bool valid = false;
        juce::String text;
    };

    void ensureImageSizes();
    void writeSpectrumColumn (juce::Image& image, int x, const float* values);
    bool bandValuesChanged();
    // A band's stripe over the plot: rows top .. top + height - 1 (component coordinates).
    struct Stripe
    {
        int top = 0, height = 1;
        juce::Colour colour;
    };
    Stripe getStripe (int bandIndex, const BandGeometry& band) const;
    bool drawHistory (juce::Graphics& g, const juce::Image& history, juce::Rectangle<int> plot,
                      const std::array<Stripe, numBands>& stripes);
    BandGeometry getBandGeometry (int bandIndex) const;
    void drawValueBadge (juce::Graphics& g, juce::Rectangle<int> area, const juce::String& text) const;

    void applyDrag (juce::Point<float> position);
    float limitToGap (int bandIndex, DragMode edge, float value) const;
    void writeEdge (int bandIndex, DragMode edge, float value);
    void enforceLevelGap (int bandIndex, DragMode edge);
    void layoutEdgeElements();
    void setParameterValue (const juce::String& id, float value);

    VarnelleAudioProcessor& processor;
    juce::Image beforeImage;
    juce::Image afterImage;
    // The shown history as painted on an unscaled screen, with what it shows.
    struct StretchedKey
    {
        bool afterGain = false;
        int width = 0, height = 0, columns = 0;
        std::array<std::array<std::uint32_t, 3>, 5> stripes{}; // top, height, colour
        bool operator== (const StretchedKey& other) const noexcept
        {
            return afterGain == other.afterGain && width == other.width && height == other.height &&
                   columns == other.columns && stripes == other.stripes;
        }
    };
    juce::Image stretchedHistory;
    StretchedKey stretchedKey;
    std::int64_t stretchedEnd = 0;       // columnsPushed when it was drawn
    std::vector<int> sourceColumns;      // the history column under each plot pixel
    std::vector<std::uint8_t> rowBuffer; // one stretched row, before it goes into the image
    std::int64_t columnsPushed = 0;      // columns since the histories were made
    bool bandsMovedAtLastPoll = false;
    int historyEnd = 0;       // one past the newest column in the history images
    std::vector<int> rowBins; // the display bin of each history row
    float rowBinsSampleRate = 0.0f;
    int lastSeenFrame = 0;
    DragMode dragMode = DragMode::none;
    juce::RangedAudioParameter* gestureParameter = nullptr;
    float timeZoom = 1.0f;
    int showAfterGain = 0;
    int selectedBand = 0;
    int dragBand = 0; // the band whose edge the current drag moves, taken at the press

    // Built once so that a repaint formats and allocates nothing of its own.
    std::array<BandValues, 5> bandValues;
    // The band values as the timer last saw them (bit patterns), to repaint only on a change.
    std::array<std::uint32_t, 5 * 5> seenBandValueBits{};
    juce::Font smallFont, labelFont, badgeFont;
    juce::ColourGradient legendGradient;
    std::array<juce::String, 5> frequencyGridTexts, levelScaleTexts, bandTitles;
    juce::String freqTitle, levelTitle, dbTitle, afterViewTitle, beforeViewTitle, hzSuffix;
    CachedNumberText upperFrequencyText, lowerFrequencyText, lowerLevelText, upperLevelText;
    std::array<std::unique_ptr<EdgeElement>, 4> edgeElements; // in DragMode order

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SpectrogramComponent)
};

} // namespace varnelle::editor
