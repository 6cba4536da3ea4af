#pragma once

#include "engine/VarnelleAudioProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <memory>

namespace varnelle::editor
{

/** How far one band cuts or boosts right now, in its card: a bar from 0 dB over −60 to
    +24 dB (cuts amber, boosts green), the value in dB and a peak hold. Draws nothing while the
    band changes nothing and no hold is showing, so that the card looks as it does without it.
    Message thread only; owned by ActivityMeters. */
class ActivityMeter : public juce::Component
{
public:
    static constexpr float minDb = -60.0f, maxDb = 24.0f;
    static constexpr float shownFromDb = 0.1f; // |activity| from which the meter shows
    static constexpr double holdMs = 1500.0;

    explicit ActivityMeter (int bandIndex);

    /** The band's activity in dB (negative: a cut), at `nowMs` (Time::getMillisecondCounterHiRes). */
    void setActivity (float activityDb, double nowMs);

    float getActivity() const noexcept { return activity; }
    float getHeldPeak() const noexcept { return heldPeak; }
    bool isShowing() const noexcept { return std::abs (activity) >= shownFromDb || heldPeak != 0.0f; }
    /** What a screen reader reads after the title, e.g. "−4.2 dB". */
    juce::String getValueText() const;

    void paint (juce::Graphics& g) override;
    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;

private:
    float activity = 0.0f;
    float heldPeak = 0.0f; // the most extreme activity within the hold, 0 when none shows
    double heldAtMs = 0.0;
};

/** The five bands' meters, fed 30 times a second with the activities of the processor's
    display frames (the same frames as the display's; each reader keeps its own place). Message thread only;
   the editor owns it and places the meters. */
class ActivityMeters : private juce::Timer
{
public:
    ActivityMeters (VarnelleAudioProcessor& processor, juce::Component& parent);
    ~ActivityMeters() override;

    ActivityMeter& getMeter (int bandIndex) { return *meters[(size_t)juce::jlimit (0, 4, bandIndex)]; }

    /** Reads the newest frame now (the timer does this by itself). */
    void poll (double nowMs);

private:
    void timerCallback() override;

    VarnelleAudioProcessor& processor;
    std::array<std::unique_ptr<ActivityMeter>, 5> meters;
    int lastSeenFrame = 0;
};

} // namespace varnelle::editor
