#include "editor/SpectrogramComponent.h"

#include "editor/WindowScroll.h"
#include "engine/StftConstants.h"

#include <cmath>

namespace varnelle::editor
{

namespace
{
const juce::Colour backgroundColour (0xff0e1526);
}

SpectrogramComponent::SpectrogramComponent (VarnelleAudioProcessor& processorToShow)
    : processor (processorToShow), bands (processor.parameters), edgeEditor (processor.parameters, bands),
      edgeElements (*this, *this)
{
    // paint covers every pixel, so nothing behind the display is painted with it.
    setOpaque (true);
    startTimerHz (30);
}

SpectrogramComponent::~SpectrogramComponent()
{
    stopTimer();
    endDrag();
}

void SpectrogramComponent::setTimeZoom (float newZoom)
{
    if (std::isfinite (newZoom))
        timeZoom = clampValue (newZoom, 4.0f, 20.0f);
    repaint();
}

void SpectrogramComponent::setShowAfterGain (bool shouldShowAfter)
{
    showAfterGain = shouldShowAfter;
    showChange = false;
    repaint();
}

void SpectrogramComponent::setShowChange (bool shouldShowChange)
{
    showChange = shouldShowChange;
    repaint();
}

void SpectrogramComponent::setSelectedBand (int bandIndex)
{
    selectedBand = clampValue (bandIndex, 0, numBands - 1);
    edgeElements.layout (getLayout());
    edgeElements.titlesChanged();
    repaint();
}

void SpectrogramComponent::resized()
{
    const auto layout = getLayout();
    history.setSize (layout.plot.getWidth(), layout.plot.getHeight());
    edgeElements.layout (layout);
    overlay.setLayout (layout);
}

void SpectrogramComponent::timerCallback()
{
    // An idle window draws nothing; a new column alone changes only the plot, and where the
    // screen can move what it shows, only the pixels that come into view and the texts.
    if (!pollForChanges())
        return;
    if (bandsMovedAtLastPoll || titlesChangedAtLastPoll)
    {
        repaint();
        return;
    }
    if (screenShowsLastPainting)
    {
        if (const auto plan = planScroll())
        {
            auto toRepaint = plan->toRepaint;
            if (windowscroll::scrollLeft (*this, plan->area, plan->dx, toRepaint))
            {
                for (const auto& area : toRepaint)
                    repaint (area);
                return;
            }
        }
    }
    repaint (getLayout().plot);
}

std::optional<SpectrogramComponent::ScrollPlan> SpectrogramComponent::planScroll() const
{
    const auto layout = getLayout();
    const auto stripes = BandOverlay::getStripes (bands, layout, selectedBand);
    const auto dx = history.pixelsToScroll (layout.plot, getShownView(), timeZoom, stripes);
    // The frame's sides stay; what lies between them moves.
    const auto area = layout.plot.reduced (1, 0);
    if (!dx || *dx <= 0 || *dx >= area.getWidth())
        return std::nullopt;

    // What does not move with the picture: the overlay's texts and the edge elements (a focused
    // one draws its outline), painted again where they are and where the move carried them.
    auto still = BandOverlay::getAreasThatDoNotScroll (layout, bands, selectedBand, showChange);
    for (auto* child : getChildren())
        if (child->isVisible())
            still.add (child->getBounds());
    ScrollPlan plan{area, *dx, {}};
    for (const auto& place : still)
    {
        plan.toRepaint.add (place);
        plan.toRepaint.add (place.translated (-*dx, 0));
    }
    plan.toRepaint.add (area.withLeft (area.getRight() - *dx));
    plan.toRepaint.clipTo (layout.plot);
    return plan;
}

bool SpectrogramComponent::pollForChanges()
{
    const auto layout = getLayout();
    history.setSize (layout.plot.getWidth(), layout.plot.getHeight());

    bandsMovedAtLastPoll = bands.changedSinceLastLook();
    if (bandsMovedAtLastPoll)
        edgeElements.layout (layout);
    bool changed = bandsMovedAtLastPoll;

    using KeyStatus = VarnelleAudioProcessor::KeyStatus;
    const auto keyStatus = processor.getKeyStatus();
    const juce::String keyLabel = keyStatus == KeyStatus::silent     ? "Key: no signal"
                                  : keyStatus == KeyStatus::sounding ? "Key"
                                                                     : "";
    titlesChangedAtLastPoll = keyLabel != overlay.getKeyLabel();
    if (titlesChangedAtLastPoll)
        overlay.setKeyLabel (keyLabel);
    changed = changed || titlesChangedAtLastPoll;

    screenShowsLastPainting = false;
    if (processor.getLatestDisplayFrame (*frame, lastSeenFrame))
    {
        // Before the picture moves on: its pixels can only be moved on screen while the screen
        // shows the last painting.
        screenShowsLastPainting = history.hasImages() && windowscroll::paintWhatTheWindowOwes (*this);
        history.pushColumns (frame->before, frame->after, processor.getSampleRate(), frame->changeDb);
        // A silent input keeps scrolling in columns like the ones shown: no pixel changes.
        changed = changed || !history.newestColumnChangedNothing (timeZoom);
    }
    return changed;
}

void SpectrogramComponent::paint (juce::Graphics& g)
{
    const auto layout = getLayout();

    // The newest columns of the shown history over the plot; the background around it (under
    // the plot it would only be painted over).
    bool stripesDrawn = false;
    if (history.hasImages())
    {
        {
            const juce::Graphics::ScopedSaveState saved (g);
            g.excludeClipRegion (layout.plot);
            g.fillAll (backgroundColour);
        }
        stripesDrawn = history.draw (g, layout.plot, getShownView(), timeZoom,
                                     BandOverlay::getStripes (bands, layout, selectedBand));
    }
    else
    {
        g.fillAll (backgroundColour);
        g.setColour (juce::Colours::black);
        g.fillRect (layout.plot);
    }

    overlay.paint (g, layout, bands, selectedBand, getShownView(), stripesDrawn);
    if (showChange && history.hasImages())
        overlay.drawChangeCurve (g, layout, history);
}

void SpectrogramComponent::mouseDown (const juce::MouseEvent& e)
{
    edgeEditor.press (e.position, getLayout(), selectedBand);
}

void SpectrogramComponent::mouseDrag (const juce::MouseEvent& e)
{
    edgeEditor.drag (e.position, getLayout());
}

void SpectrogramComponent::mouseUp (const juce::MouseEvent&)
{
    endDrag();
}

void SpectrogramComponent::endDrag()
{
    edgeEditor.release();
}

bool SpectrogramComponent::keyPressed (const juce::KeyPress& key)
{
    const int band = key.getKeyCode() - '1';
    if (key.getModifiers().isAnyModifierKeyDown() || band < 0 || band >= numBands)
        return false;

    if (onBandKey)
        onBandKey (band);
    else
        setSelectedBand (band);
    return true;
}

float SpectrogramComponent::getEdgeValue (BandEdge edge) const
{
    return bands.getEdge (selectedBand, edge);
}

void SpectrogramComponent::setEdgeValue (BandEdge edge, float value)
{
    // The edges' keys and a screen reader's value; runs of key presses make one undo step.
    auto& edits = processor.getEditHistory();
    edits.noteNextSource (EditHistory::Source::key);
    const bool moved = edgeEditor.setEdgeValue (selectedBand, edge, value);
    edits.noteNextSource (EditHistory::Source::other); // a step against a limit opened none
    if (!moved)
        return;
    edgeElements.valueChanged (edge);
    edgeElements.layout (getLayout());
    repaint();
}

} // namespace varnelle::editor
