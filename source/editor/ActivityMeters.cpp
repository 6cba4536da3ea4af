#include "ActivityMeters.h"

#include "EditorShared.h"

namespace varnelle::editor
{
namespace
{
float xForDb (float db, juce::Rectangle<float> bar)
{
    const float t = (juce::jlimit (ActivityMeter::minDb, ActivityMeter::maxDb, db) - ActivityMeter::minDb) /
                    (ActivityMeter::maxDb - ActivityMeter::minDb);
    return bar.getX() + t * bar.getWidth();
}

class MeterValue final : public juce::AccessibilityTextValueInterface
{
public:
    explicit MeterValue (const ActivityMeter& m) : meter (m) {}
    bool isReadOnly() const override { return true; }
    juce::String getCurrentValueAsString() const override { return meter.getValueText(); }
    void setValueAsString (const juce::String&) override {}

private:
    const ActivityMeter& meter;
};
} // namespace

ActivityMeter::ActivityMeter (int bandIndex)
{
    setTitle ("Band " + juce::String (bandIndex + 1) + " Activity");
    setInterceptsMouseClicks (false, false);
    setOpaque (false);
}

void ActivityMeter::setActivity (float activityDb, double nowMs)
{
    const bool wasShowing = isShowing();
    const float before = activity, peakBefore = heldPeak;
    activity = std::isfinite (activityDb) ? activityDb : 0.0f;

    // The hold keeps the most extreme value of the last moments, so that a brief cut can be read.
    if (std::abs (activity) >= shownFromDb && std::abs (activity) >= std::abs (heldPeak))
    {
        heldPeak = activity;
        heldAtMs = nowMs;
    }
    else if (heldPeak != 0.0f && nowMs - heldAtMs > holdMs)
    {
        heldPeak = std::abs (activity) >= shownFromDb ? activity : 0.0f;
        heldAtMs = nowMs;
    }

    if (activity != before || heldPeak != peakBefore || wasShowing != isShowing())
        repaint();
}

juce::String ActivityMeter::getValueText() const
{
    const float shown = std::abs (activity) < 0.05f ? 0.0f : activity;
    return (shown < 0.0f ? juce::String (juce::CharPointer_UTF8 ("\xe2\x88\x92")) : juce::String()) +
           juce::String (std::abs (shown), 1) + " dB";
}

void ActivityMeter::paint (juce::Graphics& g)
{
    if (!isShowing())
        return;

    auto area = getLocalBounds().toFloat().reduced (2.0f, 0.0f);
    const auto text = area.removeFromTop (14.0f);
    const auto bar = area.removeFromTop (8.0f);

    g.setColour (juce::Colour (0xff0a1019).withAlpha (0.8f));
    g.fillRoundedRectangle (bar, 2.0f);
    const float zero = xForDb (0.0f, bar);
    const float value = xForDb (activity, bar);
    if (std::abs (activity) >= shownFromDb)
    {
        g.setColour (activity < 0.0f ? cutColour : boostColour);
        g.fillRect (juce::Rectangle<float>::leftTopRightBottom (
            std::min (zero, value), bar.getY() + 1.0f, std::max (zero, value), bar.getBottom() - 1.0f));
    }
    if (heldPeak != 0.0f)
    {
        g.setColour (juce::Colours::white.withAlpha (0.85f));
        g.fillRect (
            juce::Rectangle<float> (xForDb (heldPeak, bar) - 1.0f, bar.getY(), 2.0f, bar.getHeight()));
    }
    g.setColour (juce::Colours::white.withAlpha (0.5f));
    g.fillRect (juce::Rectangle<float> (zero - 0.5f, bar.getY() - 2.0f, 1.0f, bar.getHeight() + 4.0f));

    g.setColour (activity < 0.0f ? cutColour : boostColour);
    g.setFont (makeFont (11.0f, true));
    g.drawText (getValueText(), text, juce::Justification::centred, false);
}

std::unique_ptr<juce::AccessibilityHandler> ActivityMeter::createAccessibilityHandler()
{
    return std::make_unique<juce::AccessibilityHandler> (
        *this, juce::AccessibilityRole::progressBar, juce::AccessibilityActions{},
        juce::AccessibilityHandler::Interfaces{std::make_unique<MeterValue> (*this)});
}

ActivityMeters::ActivityMeters (VarnelleAudioProcessor& p, juce::Component& parent) : processor (p)
{
    for (int band = 0; band < 5; ++band)
    {
        meters[(size_t)band] = std::make_unique<ActivityMeter> (band);
        parent.addAndMakeVisible (*meters[(size_t)band]);
    }
    startTimerHz (30);
}

ActivityMeters::~ActivityMeters()
{
    stopTimer();
}

void ActivityMeters::poll (double nowMs)
{
    float activityDb[numBands] = {};
    if (processor.getLatestBandActivity (activityDb, lastSeenFrame))
        for (int band = 0; band < numBands; ++band)
            meters[(size_t)band]->setActivity (activityDb[band], nowMs);
    else
        for (auto& meter : meters) // the hold still runs out while no frames come
            meter->setActivity (meter->getActivity(), nowMs);
}

void ActivityMeters::timerCallback()
{
    poll (juce::Time::getMillisecondCounterHiRes());
}

} // namespace varnelle::editor
