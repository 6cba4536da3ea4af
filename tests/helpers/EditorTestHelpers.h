#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace varnelle::test
{

/** The component and its children painted as a window would show them, into an ARGB image of
    its size. */
inline juce::Image renderComponent (juce::Component& component)
{
    juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true);
    juce::Graphics g (image);
    component.paintEntireComponent (g, true);
    return image;
}

/** What a user's click on a button does, delivered synchronously: a toggling button flips its
    state first, then the click action runs (JUCE posts triggerClick() to the message loop,
    which tests do not run). */
inline void clickButton (juce::Button& button)
{
    if (button.getClickingTogglesState())
        button.setToggleState (!button.getToggleState(), juce::sendNotificationSync);
    else if (button.onClick)
        button.onClick();
}

/** A mouse event at `position` in `component`'s coordinates, as the window would deliver it. */
inline juce::MouseEvent makeMouseEvent (juce::Component& component, juce::Point<float> position,
                                        juce::ModifierKeys modifiers = juce::ModifierKeys::leftButtonModifier,
                                        int clicks = 1)
{
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), position, modifiers, 1.0f,
                             0.0f, 0.0f, 0.0f, 0.0f, &component, &component, now, position, now, clicks,
                             false);
}

} // namespace varnelle::test

#include <juce_audio_processors/juce_audio_processors.h>

#include <vector>

namespace varnelle::test
{

/** Records what a host sees of one parameter: gesture begins and ends and every value. */
class ParameterRecorder : private juce::AudioProcessorParameter::Listener
{
public:
    explicit ParameterRecorder (juce::AudioProcessorParameter& p) : parameter (p)
    {
        parameter.addListener (this);
    }
    ~ParameterRecorder() override { parameter.removeListener (this); }

    int gestureBegins = 0;
    int gestureEnds = 0;
    std::vector<float> values; // normalised, in order
    bool valueChangedOutsideGesture = false;

private:
    void parameterValueChanged (int, float newValue) override
    {
        values.push_back (newValue);
        if (gestureBegins == gestureEnds)
            valueChangedOutsideGesture = true;
    }

    void parameterGestureChanged (int, bool starting) override { ++(starting ? gestureBegins : gestureEnds); }

    juce::AudioProcessorParameter& parameter;
};

} // namespace varnelle::test
