#include "editor/SpectrogramComponent.h"
#include "editor/VarnelleAudioProcessorEditor.h"
#include "helpers/EditorTestHelpers.h"
#include "helpers/FakePeer.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

using namespace varnelle;
using Editor = VarnelleAudioProcessorEditor;
using Row = Editor::KnobRow;

namespace
{
const juce::String minus (juce::CharPointer_UTF8 ("\xe2\x88\x92"));

class Window : public juce::Component
{
public:
    test::FakePeer& peer() { return *static_cast<test::FakePeer*> (getPeer()); }

private:
    juce::ComponentPeer* createNewPeer (int, void*) override { return new test::FakePeer (*this, true); }
};

// The editor in a focused stand-in window: focus, key presses and accessibility handlers work
// as in a real one.
struct KeyboardAccess : ::testing::Test
{
    KeyboardAccess()
    {
        window.setBounds (editor.getLocalBounds());
        window.addAndMakeVisible (editor);
        window.setVisible (true);
        window.addToDesktop (0);
    }
    ~KeyboardAccess() override
    {
        window.removeFromDesktop();
        window.removeChildComponent (&editor);
    }

    static juce::AccessibilityHandler& handler (juce::Component& c)
    {
        auto* h = c.getAccessibilityHandler();
        EXPECT_NE (h, nullptr);
        return *h;
    }

    // What a screen reader says of a control: its title and its value.
    static juce::String said (juce::Component& c)
    {
        auto& h = handler (c);
        const auto* value = h.getValueInterface();
        return h.getTitle() + (value != nullptr ? ", " + value->getCurrentValueAsString() : "");
    }

    juce::Component& focused() { return *juce::Component::getCurrentlyFocusedComponent(); }
    bool press (const juce::KeyPress& key) { return window.peer().handleKeyPress (key); }

    juce::Component& edge (const juce::String& title)
    {
        for (auto* c : editor.getSpectrogram().getChildren())
            if (handler (*c).getTitle() == title)
                return *c;
        ADD_FAILURE() << "no display element " << title;
        return editor.getSpectrogram();
    }

    float value (const char* id) { return processor.parameters.getRawParameterValue (id)->load(); }
    test::ParameterRecorder record (const char* id)
    {
        return test::ParameterRecorder (*processor.parameters.getParameter (id));
    }

    VarnelleAudioProcessor processor;
    Editor editor{processor, false};
    Window window;
};

const juce::KeyPress up (juce::KeyPress::upKey), down (juce::KeyPress::downKey);
const juce::KeyPress shiftUp (juce::KeyPress::upKey, juce::ModifierKeys::shiftModifier, 0);
const juce::KeyPress pageUp (juce::KeyPress::pageUpKey), pageDown (juce::KeyPress::pageDownKey);
} // namespace

TEST_F (KeyboardAccess, ControlsReadTheirTitlesAndValuesWithUnits)
{
    test::setParameter (processor, "band2_gain", -12.0f);
    test::setParameter (processor, "band2_levelMin", -50.0f);
    editor.selectBand (1);

    EXPECT_EQ (said (editor.getBandKnob (1, Row::gain)), "Band 2 Gain, " + minus + "12.0 dB");
    EXPECT_EQ (said (editor.getBandKnob (1, Row::upperKnee)), "Band 2 Upper Knee, 0.0 dB");
    EXPECT_EQ (said (editor.getWidthSlider()), "Width, 4.00 x");
    EXPECT_EQ (said (editor.getLookaheadSlider()), "Lookahead, 10.0 ms");
    EXPECT_EQ (said (edge ("Band 2 Frequency Low")), "Band 2 Frequency Low, 120 Hz");
    EXPECT_EQ (said (edge ("Band 2 Level Min")), "Band 2 Level Min, " + minus + "50.0 dB");
    EXPECT_EQ (handler (editor.getPresetBox()).getTitle(), "Preset");
    EXPECT_EQ (handler (editor.getPresetMenuButton()).getTitle(), "Preset menu");
    EXPECT_EQ (handler (editor.getBeforeButton()).getTitle(), "Before");
    EXPECT_EQ (handler (editor.getAfterButton()).getTitle(), "After");

    // The bypass reads "on" while the band is bypassed; its toggle action bypasses at once.
    auto& bypass = *editor.getBandButton (1);
    EXPECT_EQ (said (bypass), "Band 2 Bypass, off");
    ASSERT_TRUE (handler (bypass).getActions().invoke (juce::AccessibilityActionType::toggle));
    EXPECT_EQ (value ("band2_bypass"), 1.0f);
    EXPECT_EQ (said (bypass), "Band 2 Bypass, on");

    // A screen reader's value change is one gesture.
    auto recorder = record ("band2_gain");
    handler (editor.getBandKnob (1, Row::gain)).getValueInterface()->setValueAsString (minus + "6 dB");
    EXPECT_FLOAT_EQ (value ("band2_gain"), -6.0f);
    EXPECT_EQ (recorder.gestureBegins, 1);
    EXPECT_EQ (recorder.gestureEnds, 1);
}

TEST_F (KeyboardAccess, TabAndShiftTabFollowReadingOrderAndShowAnOutline)
{
    juce::StringArray expected{"Preset", "Preset menu", "Before", "After"};
    for (auto* name : {"Frequency Low", "Frequency High", "Level Min", "Level Max"})
        expected.add (juce::String ("Band 1 ") + name);
    for (int band = 1; band <= 5; ++band)
        for (auto* name : {"Bypass", "Gain", "Upper Knee", "Attack", "Lower Knee", "Release"})
            expected.add ("Band " + juce::String (band) + " " + name);
    expected.addArray ({"Width", "Lookahead"});

    editor.getPresetBox().grabKeyboardFocus();
    juce::StringArray visited{handler (focused()).getTitle()};
    while (visited.size() < expected.size() && press (juce::KeyPress (juce::KeyPress::tabKey)))
        visited.add (handler (focused()).getTitle());
    EXPECT_EQ (visited.joinIntoString (" | "), expected.joinIntoString (" | "));

    editor.getWidthSlider().grabKeyboardFocus();
    press (juce::KeyPress (juce::KeyPress::tabKey, juce::ModifierKeys::shiftModifier, 0));
    EXPECT_EQ (&focused(), &editor.getBandKnob (4, Row::release));

    // The outline shows round the focused control and goes with the focus.
    const auto knob = editor.getBandKnob (4, Row::release).getBounds();
    const auto outlinePixel = [&]
    {
        return editor.createComponentSnapshot (editor.getLocalBounds())
            .getPixelAt (knob.getX() - 2, knob.getCentreY());
    };
    const auto withFocus = outlinePixel();
    editor.getBandKnob (4, Row::release).giveAwayKeyboardFocus();
    EXPECT_NE (withFocus, outlinePixel());
}

TEST_F (KeyboardAccess, ArrowAndPageKeysStepAKnobOneGesturePerPress)
{
    auto& knob = editor.getBandKnob (2, Row::gain);
    knob.grabKeyboardFocus();
    auto recorder = record ("band3_gain");

    const auto stepOf = [&] (const juce::KeyPress& key)
    {
        const float before = value ("band3_gain");
        press (key);
        return value ("band3_gain") - before;
    };
    const float normal = stepOf (up);
    const float fine = stepOf (shiftUp);
    const float large = stepOf (pageUp);
    EXPECT_GT (fine, 0.0f);
    EXPECT_GT (normal, fine);
    EXPECT_GT (large, normal);
    EXPECT_LT (stepOf (down), 0.0f);
    EXPECT_LT (stepOf (pageDown), 0.0f);

    EXPECT_EQ (recorder.gestureBegins, 5);
    EXPECT_EQ (recorder.gestureEnds, 5);
    EXPECT_FALSE (recorder.valueChangedOutsideGesture);
    EXPECT_EQ (editor.getSelectedBand(), 2); // keys on a band's knob select it, like a drag

    // Keys with Ctrl are the window's shortcuts, not the knob's.
    EXPECT_FALSE (press (juce::KeyPress (juce::KeyPress::upKey, juce::ModifierKeys::ctrlModifier, 0)));
    EXPECT_EQ (recorder.gestureBegins, 5);
}

TEST_F (KeyboardAccess, SpaceAndReturnToggleABandButtonOneGestureEach)
{
    editor.getBandButton (2)->grabKeyboardFocus();
    auto recorder = record ("band3_bypass");

    EXPECT_TRUE (press (juce::KeyPress (juce::KeyPress::spaceKey)));
    EXPECT_EQ (value ("band3_bypass"), 1.0f);
    EXPECT_EQ (said (focused()), "Band 3 Bypass, on");
    EXPECT_TRUE (press (juce::KeyPress (juce::KeyPress::returnKey)));
    EXPECT_EQ (value ("band3_bypass"), 0.0f);
    EXPECT_EQ (recorder.gestureBegins, 2);
    EXPECT_EQ (recorder.gestureEnds, 2);
}

TEST_F (KeyboardAccess, DisplayKeysSelectABandAndMoveItsEdgesWithinTheGaps)
{
    edge ("Band 1 Frequency Low").grabKeyboardFocus();
    EXPECT_TRUE (press (juce::KeyPress ('4')));
    EXPECT_EQ (editor.getSelectedBand(), 3);
    EXPECT_EQ (handler (focused()).getTitle(), "Band 4 Frequency Low");

    // The low edge rises to 10 Hz below the high one and stops; a blocked press is no gesture.
    auto frequency = record ("band4_freqLow");
    const float start = value ("band4_freqLow");
    EXPECT_TRUE (press (up));
    EXPECT_GT (value ("band4_freqLow"), start);
    for (int i = 0; i < 4; ++i)
        press (pageUp);
    EXPECT_NEAR (value ("band4_freqLow"), value ("band4_freqHigh") - 10.0f, 0.05f);
    const int moves = frequency.gestureBegins;
    press (pageUp);
    EXPECT_EQ (frequency.gestureBegins, moves);
    EXPECT_EQ (frequency.gestureEnds, moves);
    EXPECT_FALSE (frequency.valueChangedOutsideGesture);

    // The level edges keep 3 dB apart, by keys and by a screen reader's value alike.
    test::setParameter (processor, "band4_levelMin", -50.0f);
    edge ("Band 4 Level Max").grabKeyboardFocus();
    for (int i = 0; i < 6; ++i)
        press (pageDown);
    EXPECT_NEAR (value ("band4_levelMax"), -47.0f, 1e-4f);
    handler (edge ("Band 4 Level Min")).getValueInterface()->setValue (0.0);
    EXPECT_NEAR (value ("band4_levelMin"), -50.0f, 1e-4f);
    handler (edge ("Band 4 Level Max")).getValueInterface()->setValue (-20.0);
    handler (edge ("Band 4 Level Min")).getValueInterface()->setValue (0.0);
    EXPECT_NEAR (value ("band4_levelMin"), -23.0f, 1e-4f);
}
