#pragma once

#include "editor/BandEdgeEditor.h"
#include "editor/BandOverlay.h"
#include "editor/DisplayBands.h"
#include "editor/EdgeElements.h"
#include "editor/SpectrumHistory.h"
#include "engine/VarnelleAudioProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>
#include <optional>

namespace varnelle::editor
{

/** The scrolling spectrogram with the bands drawn over it, the level legend and the level box.

    Time runs left to right (newest column at the right), frequency upwards on a log axis from
    20 Hz to 20 kHz. It composes its parts: the spectrum history (storage and drawing), the band
    overlay, the edge editor behind the mouse and the edge elements for keys and screen readers,
    and it wires them to the processor, the 30 Hz poll and the editor's controls. The mouse moves
    the selected band's edges; keys 1 to 5 select a band through onBandKey.

    Message thread only. The only exchange with the audio thread is
    VarnelleAudioProcessor::getLatestSpectra; parameter values are read through the tree's raw
    value pointers, which are looked up once. */
class SpectrogramComponent : public juce::Component, public juce::Timer, private EdgeElements::Edges
{
public:
    /** Starts the 30 Hz poll timer. The processor must outlive the component. */
    explicit SpectrogramComponent (VarnelleAudioProcessor& processorToShow);
    ~SpectrogramComponent() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    /** Repaints what pollForChanges finds new: everything for a band; for a column the plot, or
        where the window can move its pixels, what comes into view and the texts. */
    void timerCallback() override;

    /** Fetches the newest analyzer pair, if any, into both histories. True when the display
        has something new to show: a column that changes the picture, or band edges or bypasses
        that moved (by the host, a drag or a preset). Nothing else it draws changes without a
        repaint of its own. Before a column goes in, the window paints what it still owes, so
        that the timer can move the screen's pixels. */
    bool pollForChanges();

    /** A new column as a move of the plot's pixels: `area` moves left by `dx`, then `toRepaint`
        (the strip that comes into view and the texts) is painted, which together give what a
        full repaint would. */
    struct ScrollPlan
    {
        juce::Rectangle<int> area;
        int dx = 0;
        juce::RectangleList<int> toRepaint;
    };

    /** The plan for showing the columns the last poll brought, when the plot's picture moves
        and nothing else in it changes since the last painting; nothing otherwise. */
    std::optional<ScrollPlan> planScroll() const;

    /** Horizontal stretch of the history, limited to 4..20 (non-finite values are ignored);
        repaints. */
    void setTimeZoom (float newZoom);
    float getTimeZoom() const noexcept { return timeZoom; }

    /** Shows the after-gain history (true) or the before-gain one, leaving the Change view;
        repaints. */
    void setShowAfterGain (bool shouldShowAfter);
    bool getShowAfterGain() const noexcept { return showAfterGain; }

    /** Shows the history of the bands' gain change in place of the spectrum (false: back to the
        spectrum view that was shown); repaints. */
    void setShowChange (bool shouldShowChange);
    bool getShowChange() const noexcept { return showChange; }

    /** The history the plot shows. */
    HistoryView getShownView() const noexcept
    {
        return showChange ? HistoryView::change : showAfterGain ? HistoryView::after : HistoryView::before;
    }

    /** The highlighted band, limited to 0..4; repaints. */
    void setSelectedBand (int bandIndex);
    int getSelectedBand() const noexcept override { return selectedBand; }

    /** Where everything goes at the current size. */
    DisplayLayout getLayout() const { return DisplayLayout (getLocalBounds()); }

    /** The histories the display shows, which the poll fills. */
    SpectrumHistory& getHistory() noexcept { return history; }
    const SpectrumHistory& getHistory() const noexcept { return history; }

    /** The mouse's edge editing (which edge a drag holds). */
    const BandEdgeEditor& getEdgeEditor() const noexcept { return edgeEditor; }

    void mouseDown (const juce::MouseEvent& e) override;
    void mouseDrag (const juce::MouseEvent& e) override;
    void mouseUp (const juce::MouseEvent& e) override;
    /** Ends an edge drag in progress as a release would (its gesture too). */
    void endDrag();

    /** Keys 1 to 5 while the display has focus select band 0..4 through onBandKey, or directly
        when it is not set. */
    bool keyPressed (const juce::KeyPress& key) override;
    std::function<void (int)> onBandKey;

private:
    float getEdgeValue (BandEdge edge) const override;
    void setEdgeValue (BandEdge edge, float value) override;

    VarnelleAudioProcessor& processor;
    DisplayBands bands;
    SpectrumHistory history;
    BandOverlay overlay;
    BandEdgeEditor edgeEditor;
    EdgeElements edgeElements;
    int lastSeenFrame = 0;
    bool screenShowsLastPainting = false; // at the last poll, before its column went in
    bool bandsMovedAtLastPoll = false;
    bool titlesChangedAtLastPoll = false; // Varnelle Key's label
    float timeZoom = 1.0f;
    bool showAfterGain = false;
    bool showChange = false;
    int selectedBand = 0;
    std::unique_ptr<DisplayFrame> frame = std::make_unique<DisplayFrame>(); // the poll's, 12 KB

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SpectrogramComponent)
};

} // namespace varnelle::editor
