#pragma once

#include "engine/EditHistory.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <optional>

// Keyboard and screen-reader access shared by the window's controls. Message thread only.
namespace varnelle::editor
{

/** What an adjusting key asks for: a direction and a step size. */
struct KeyStep
{
    enum class Size
    {
        fine,
        normal,
        large
    };

    int direction = 0; // +1 or -1
    Size size = Size::normal;
};

/** Up/Right raise, Down/Left lower (Shift: fine), Page Up/Down raise and lower in large steps.
    Keys with Ctrl, Alt or Command are left to the window's shortcuts. */
std::optional<KeyStep> findKeyStep (const juce::KeyPress& key);

/** `text` with its minus signs as the typographic minus, which screen readers read as "minus". */
juce::String withTypographicMinus (juce::String text);

/** The number in `text`, also when it is written with the typographic minus. */
double parseNumber (const juce::String& text);

/** A screen reader's view of a number whose text carries its unit; typed text is read as a
    number, with or without the unit. */
class UnitValue : public juce::AccessibilityValueInterface
{
public:
    bool isReadOnly() const override { return false; }
    void setValueAsString (const juce::String& text) override { setValue (parseNumber (text)); }
};

/** A rotary knob for keys and screen readers: adjusting keys move it along its travel, each
    press inside one drag notification (so an attached parameter sees one host gesture), and its
    accessible value is the text box's text with its unit. The title comes from setTitle. */
class KeyboardKnob : public juce::Slider
{
public:
    KeyboardKnob();

    /** The history its edits go into, told whether each comes from the wheel, a key or a drag
        (so that runs of wheel ticks or key presses make one undo step). */
    void setEditHistory (varnelle::EditHistory* history) noexcept { editHistory = history; }

    bool keyPressed (const juce::KeyPress& key) override;
    void mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel) override;
    void mouseDown (const juce::MouseEvent& e) override;
    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;

private:
    void noteSource (varnelle::EditHistory::Source source) noexcept;

    varnelle::EditHistory* editHistory = nullptr;
};

/** A band's on/off button, presented to screen readers as the band's bypass switch ("on" while
    the band is bypassed). Space and Return toggle it at once, like a click; so do the press and
    toggle actions. `onClick` does the work, after the toggle state has flipped. */
class BandBypassButton : public juce::TextButton
{
public:
    explicit BandBypassButton (const juce::String& name);

    /** Flips the toggle state, which calls onClick, synchronously. */
    void toggleFromKeyboard();

    bool keyPressed (const juce::KeyPress& key) override;
    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;
};

/** A combo box whose accessible title is its own (setTitle) and whose text is its value; JUCE's
    own reads the text as the title. */
class TitledComboBox : public juce::ComboBox
{
public:
    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;
};

/** The outline that marks the control the keys act on. */
void drawFocusOutline (juce::Graphics& g, juce::Rectangle<float> area);

} // namespace varnelle::editor
