#include "editor/KeyboardControls.h"

namespace varnelle::editor
{

namespace
{
const juce::String typographicMinus (juce::CharPointer_UTF8 ("\xe2\x88\x92"));

// Knob steps as parts of the knob's travel, so that skewed knobs step evenly as they turn.
double travelFraction (KeyStep::Size size)
{
    switch (size)
    {
        case KeyStep::Size::fine:
            return 0.002;
        case KeyStep::Size::large:
            return 0.1;
        case KeyStep::Size::normal:
            break;
    }
    return 0.01;
}

// The knob's value one key step on, on its interval grid; a step that the grid would round
// away still moves one interval, so fine steps never get stuck.
double steppedKnobValue (juce::Slider& knob, KeyStep step)
{
    const double current = knob.getValue();
    const double proportion = juce::jlimit (
        0.0, 1.0, knob.valueToProportionOfLength (current) + step.direction * travelFraction (step.size));
    double target = knob.proportionOfLengthToValue (proportion);

    const double interval = knob.getInterval();
    if (interval > 0.0)
    {
        target = knob.getMinimum() + interval * std::round ((target - knob.getMinimum()) / interval);
        if (std::abs (target - current) < interval * 0.5)
            target = current + step.direction * interval;
    }
    return juce::jlimit (knob.getMinimum(), knob.getMaximum(), target);
}

class KnobValue : public UnitValue
{
public:
    explicit KnobValue (juce::Slider& knobToWrap) : knob (knobToWrap) {}

    double getCurrentValue() const override { return knob.getValue(); }
    juce::String getCurrentValueAsString() const override
    {
        return withTypographicMinus (knob.getTextFromValue (knob.getValue()));
    }
    void setValue (double newValue) override
    {
        const juce::Slider::ScopedDragNotification gesture (knob);
        knob.setValue (newValue, juce::sendNotificationSync);
    }
    AccessibleValueRange getRange() const override
    {
        return {{knob.getMinimum(), knob.getMaximum()}, knob.getInterval()};
    }

private:
    juce::Slider& knob;
};

class ReadOnlyText : public juce::AccessibilityTextValueInterface
{
public:
    explicit ReadOnlyText (std::function<juce::String()> textToRead) : text (std::move (textToRead)) {}

    bool isReadOnly() const override { return true; }
    juce::String getCurrentValueAsString() const override { return text(); }
    void setValueAsString (const juce::String&) override {}

private:
    std::function<juce::String()> text;
};
} // namespace

std::optional<KeyStep> findKeyStep (const juce::KeyPress& key)
{
    const auto modifiers = key.getModifiers();
    if (modifiers.isCtrlDown() || modifiers.isAltDown() || modifiers.isCommandDown())
        return std::nullopt;

    const int code = key.getKeyCode();
    const auto size = modifiers.isShiftDown() ? KeyStep::Size::fine : KeyStep::Size::normal;
    if (code == juce::KeyPress::upKey || code == juce::KeyPress::rightKey)
        return KeyStep{+1, size};
    if (code == juce::KeyPress::downKey || code == juce::KeyPress::leftKey)
        return KeyStep{-1, size};
    if (code == juce::KeyPress::pageUpKey)
        return KeyStep{+1, KeyStep::Size::large};
    if (code == juce::KeyPress::pageDownKey)
        return KeyStep{-1, KeyStep::Size::large};
    return std::nullopt;
}

juce::String withTypographicMinus (juce::String text)
{
    return text.replace ("-", typographicMinus);
}

double parseNumber (const juce::String& text)
{
    return text.trim().replace (typographicMinus, "-").getDoubleValue();
}

//==============================================================================
KeyboardKnob::KeyboardKnob()
{
    setWantsKeyboardFocus (true);
    // Tab passes over the editable text box: the knob itself takes typed values from screen
    // readers, and a double-click still edits the box.
    setFocusContainerType (FocusContainerType::keyboardFocusContainer);
}

bool KeyboardKnob::keyPressed (const juce::KeyPress& key)
{
    const auto step = findKeyStep (key);
    if (!step.has_value() || !isEnabled())
        return false;

    const double target = steppedKnobValue (*this, *step);
    if (target != getValue())
    {
        noteSource (varnelle::EditHistory::Source::key);
        {
            const ScopedDragNotification gesture (*this);
            setValue (target, juce::sendNotificationSync);
        }
        noteSource (varnelle::EditHistory::Source::other);
    }
    return true;
}

void KeyboardKnob::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    // Said only for the gesture the wheel may open here; a tick at the end of the travel opens none.
    noteSource (varnelle::EditHistory::Source::wheel);
    juce::Slider::mouseWheelMove (e, wheel);
    noteSource (varnelle::EditHistory::Source::other);
}

void KeyboardKnob::mouseDown (const juce::MouseEvent& e)
{
    noteSource (varnelle::EditHistory::Source::drag);
    juce::Slider::mouseDown (e);
    noteSource (varnelle::EditHistory::Source::other);
}

void KeyboardKnob::noteSource (varnelle::EditHistory::Source source) noexcept
{
    if (editHistory != nullptr)
        editHistory->noteNextSource (source);
}

std::unique_ptr<juce::AccessibilityHandler> KeyboardKnob::createAccessibilityHandler()
{
    return std::make_unique<juce::AccessibilityHandler> (
        *this, juce::AccessibilityRole::slider, juce::AccessibilityActions{},
        juce::AccessibilityHandler::Interfaces{std::make_unique<KnobValue> (*this)});
}

//==============================================================================
BandBypassButton::BandBypassButton (const juce::String& name) : juce::TextButton (name) {}

void BandBypassButton::toggleFromKeyboard()
{
    // A synchronous click: the state flips, then onClick runs.
    setToggleState (!getToggleState(), juce::sendNotificationSync);
}

bool BandBypassButton::keyPressed (const juce::KeyPress& key)
{
    const bool plain = !key.getModifiers().isAnyModifierKeyDown();
    if (isEnabled() && plain &&
        (key.getKeyCode() == juce::KeyPress::spaceKey || key.getKeyCode() == juce::KeyPress::returnKey))
    {
        toggleFromKeyboard();
        return true;
    }
    return false;
}

std::unique_ptr<juce::AccessibilityHandler> BandBypassButton::createAccessibilityHandler()
{
    // JUCE's own press action posts the click to the message loop; this one acts at once.
    const auto toggle = [this] { toggleFromKeyboard(); };
    return std::make_unique<juce::AccessibilityHandler> (
        *this, juce::AccessibilityRole::toggleButton,
        juce::AccessibilityActions{}
            .addAction (juce::AccessibilityActionType::press, toggle)
            .addAction (juce::AccessibilityActionType::toggle, toggle),
        juce::AccessibilityHandler::Interfaces{
            std::make_unique<ReadOnlyText> ([this] { return getToggleState() ? "off" : "on"; })});
}

//==============================================================================
std::unique_ptr<juce::AccessibilityHandler> TitledComboBox::createAccessibilityHandler()
{
    const auto showPopup = [this] { this->showPopup(); };
    return std::make_unique<juce::AccessibilityHandler> (
        *this, juce::AccessibilityRole::comboBox,
        juce::AccessibilityActions{}
            .addAction (juce::AccessibilityActionType::press, showPopup)
            .addAction (juce::AccessibilityActionType::showMenu, showPopup),
        juce::AccessibilityHandler::Interfaces{
            std::make_unique<ReadOnlyText> ([this] { return getText(); })});
}

//==============================================================================
void drawFocusOutline (juce::Graphics& g, juce::Rectangle<float> area)
{
    g.setColour (juce::Colour (0xffffe5b1).withAlpha (0.9f));
    g.drawRoundedRectangle (area.reduced (0.75f), 5.0f, 1.5f);
}

} // namespace varnelle::editor
