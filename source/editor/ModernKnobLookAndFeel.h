#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace varnelle::editor
{

/** Name of the bool component property that marks a knob of a bypassed band (absent = false).
    The band controls keep it equal to the band's bypass state; the knob draws dimmer while it
    is true. */
inline constexpr const char* bandBypassedProperty = "bandBypassed";

/** Draws every rotary knob of the editor: a dark round body with a soft glow, a gradient value
    arc, an inner cap, a warm pointer, a centre dot and three ticks. Everything else keeps the
    standard LookAndFeel_V4 look.

    The knob always sweeps its own fixed angles (start 1.22 pi to end 2.78 pi, 0 = 12 o'clock,
    clockwise); the slider's rotary parameters are ignored. It dims when the slider is disabled
    (x 0.45) and when the slider's component property "bandBypassed" is true (x 0.52). Hover or a
    pressed mouse button brightens the glow and thickens the value arc and the value tick.

    Stateless: every value comes from the arguments and the slider at paint time, so one
    instance can serve any number of sliders and editors. Message thread only. */
class ModernKnobLookAndFeel : public juce::LookAndFeel_V4
{
public:
    ModernKnobLookAndFeel() = default;
    ~ModernKnobLookAndFeel() override;

    void drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                           float rotaryStartAngle, float rotaryEndAngle, juce::Slider& slider) override;

private:
    JUCE_DECLARE_NON_COPYABLE (ModernKnobLookAndFeel)
};

/** The one look-and-feel shared by every knob of every editor instance (a function-local static:
    built on first use, destroyed when the library unloads).

    Lifetime rule: the instance outlives every editor, but a component must never outlive its
    attachment to it. Any owner that calls setLookAndFeel (&getKnobLookAndFeel()) on a knob must
    call setLookAndFeel (nullptr) on that knob before the knob is destroyed; the editor does this
    for all of its knobs first thing in its destructor, before its members die. Message thread
    only. */
ModernKnobLookAndFeel& getKnobLookAndFeel();

} // namespace varnelle::editor
