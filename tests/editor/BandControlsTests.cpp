#include "editor/EditorShared.h"
#include "editor/SpectrogramComponent.h"
#include "editor/VarnelleAudioProcessorEditor.h"
#include "helpers/EditorTestHelpers.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

using namespace varnelle;
using Editor = VarnelleAudioProcessorEditor;
using Row = Editor::KnobRow;

namespace
{
struct BandControls : ::testing::Test
{
    VarnelleAudioProcessor processor;
    std::unique_ptr<Editor> editor = std::make_unique<Editor> (processor);

    juce::RangedAudioParameter& parameter (const juce::String& id)
    {
        return *processor.parameters.getParameter (id);
    }
    float value (const juce::String& id) { return processor.parameters.getRawParameterValue (id)->load(); }

    void paintEditor()
    {
        juce::Image image (juce::Image::ARGB, editor->getWidth(), editor->getHeight(), true);
        juce::Graphics g (image);
        editor->paintEntireComponent (g, true);
    }

    juce::Image snapshot() { return editor->createComponentSnapshot (editor->getLocalBounds(), true, 1.0f); }

    void expectKnobLook (int band, bool bypassed)
    {
        for (auto row : {Row::gain, Row::upperKnee, Row::attack, Row::lowerKnee, Row::release})
        {
            auto& knob = editor->getBandKnob (band, row);
            EXPECT_EQ ((bool)knob.getProperties()["bandBypassed"], bypassed) << "band " << band;
            EXPECT_NEAR (knob.getAlpha(), bypassed ? 0.62f : 1.0f, 0.005f) << "band " << band;
        }
    }
};

float hueDistance (juce::Colour a, juce::Colour b)
{
    const float d = std::abs (a.getHue() - b.getHue());
    return juce::jmin (d, 1.0f - d);
}

// The card outline runs 5 px left of the band's controls, here at the height of the Attack row.
juce::Colour cardOutlinePixel (const juce::Image& image, Editor& editor, int band)
{
    const auto knob = editor.getBandKnob (band, Row::attack).getBounds();
    const int left = juce::jmin (knob.getX(), editor.getBandButton (band)->getX());
    return image.getPixelAt (left - 5, knob.getCentreY());
}
} // namespace

TEST_F (BandControls, KnobsAreBoundToTheirBandsParameters)
{
    editor->getBandKnob (1, Row::gain).setValue (-12.0, juce::sendNotificationSync);
    editor->getBandKnob (2, Row::release).setValue (1000.0, juce::sendNotificationSync);
    editor->getBandKnob (3, Row::upperKnee).setValue (6.0, juce::sendNotificationSync);
    EXPECT_NEAR (value ("band2_gain"), -12.0f, 1e-4f);
    EXPECT_NEAR (value ("band3_releaseMs"), 1000.0f, 1e-3f);
    EXPECT_NEAR (value ("band4_upperKneeDb"), 6.0f, 1e-4f);

    // Host changes reach the knobs, with the parameter's own range and text.
    parameter ("band5_attackMs").setValueNotifyingHost (parameter ("band5_attackMs").convertTo0to1 (120.0f));
    auto& attack = editor->getBandKnob (4, Row::attack);
    EXPECT_NEAR (attack.getValue(), 120.0, 1e-3);
    EXPECT_DOUBLE_EQ (attack.getMinimum(), 1.0);
    EXPECT_DOUBLE_EQ (attack.getMaximum(), 300.0);
    EXPECT_EQ (attack.getTextFromValue (120.0), "120.0 ms");
}

TEST_F (BandControls, BandButtonsBypassWithOneGestureAndDimTheBand)
{
    test::ParameterRecorder recorder (parameter ("band3_bypass"));
    auto& button = *editor->getBandButton (2);
    EXPECT_EQ (button.getButtonText(), "Band3");
    const auto activeOutline = cardOutlinePixel (snapshot(), *editor, 2);

    test::clickButton (button);
    EXPECT_FLOAT_EQ (value ("band3_bypass"), 1.0f);
    EXPECT_FALSE (button.getToggleState());
    EXPECT_EQ (recorder.gestureBegins, 1);
    EXPECT_EQ (recorder.gestureEnds, 1);
    EXPECT_FALSE (recorder.valueChangedOutsideGesture);
    expectKnobLook (2, true);

    // The outline turns from the band colour to the bypass red 0xfff15b6b (blended over the
    // dark background, so compare hues).
    const auto bypassedOutline = cardOutlinePixel (snapshot(), *editor, 2);
    const auto bandColour = varnelle::editor::getBandColour (2);
    const juce::Colour bypassRed (0xfff15b6b);
    EXPECT_LT (hueDistance (activeOutline, bandColour), hueDistance (activeOutline, bypassRed));
    EXPECT_LT (hueDistance (bypassedOutline, bypassRed), hueDistance (bypassedOutline, bandColour));

    test::clickButton (button);
    EXPECT_FLOAT_EQ (value ("band3_bypass"), 0.0f);
    EXPECT_TRUE (button.getToggleState());
    EXPECT_EQ (recorder.gestureBegins, 2);
    EXPECT_EQ (recorder.gestureEnds, 2);
    expectKnobLook (2, false);
    EXPECT_EQ (cardOutlinePixel (snapshot(), *editor, 2), activeOutline);
}

TEST_F (BandControls, HostAutomationOfABypassShowsAtTheNextPaint)
{
    parameter ("band2_bypass").setValueNotifyingHost (1.0f);
    EXPECT_TRUE (editor->getBandButton (1)->getToggleState()); // nothing polls until a paint
    paintEditor();
    EXPECT_FALSE (editor->getBandButton (1)->getToggleState());
    expectKnobLook (1, true);

    parameter ("band2_bypass").setValueNotifyingHost (0.0f);
    paintEditor();
    EXPECT_TRUE (editor->getBandButton (1)->getToggleState());
    expectKnobLook (1, false);
}

TEST_F (BandControls, StartingToDragAKnobSelectsItsBandFirst)
{
    auto& release = editor->getBandKnob (3, Row::release);
    int selectedWhenValueChanged = -1;
    release.onValueChange = [&] { selectedWhenValueChanged = editor->getSelectedBand(); };

    const auto centre = release.getLocalBounds().toFloat().getCentre();
    release.mouseDown (test::makeMouseEvent (release, centre));
    release.mouseDrag (test::makeMouseEvent (release, centre.translated (0.0f, -40.0f)));
    release.mouseUp (test::makeMouseEvent (release, centre.translated (0.0f, -40.0f)));

    EXPECT_EQ (editor->getSelectedBand(), 3);
    EXPECT_EQ (editor->getSpectrogram().getSelectedBand(), 3);
    EXPECT_EQ (selectedWhenValueChanged, 3);
    EXPECT_GT (value ("band4_releaseMs"), 250.0f);
}

TEST_F (BandControls, SelectionIsClampedAndMovesTheLookaheadKnobToTheBand)
{
    editor->selectBand (-1);
    EXPECT_EQ (editor->getSelectedBand(), 0);
    editor->selectBand (7);
    EXPECT_EQ (editor->getSelectedBand(), 4);
    EXPECT_EQ (editor->getSpectrogram().getSelectedBand(), 4);

    // No global lookahead parameter exists, so the knob edits the selected band's lookahead.
    EXPECT_EQ (editor->findLookaheadParameterId(), "");
    auto& lookahead = editor->getLookaheadSlider();
    lookahead.setValue (4.0, juce::sendNotificationSync);
    EXPECT_NEAR (value ("band5_lookaheadMs"), 4.0f, 1e-4f);
    EXPECT_FLOAT_EQ (value ("band1_lookaheadMs"), 10.0f);

    editor->selectBand (1);
    EXPECT_NEAR (lookahead.getValue(), 10.0, 1e-6); // shows band 2's value
    lookahead.setValue (17.5, juce::sendNotificationSync);
    EXPECT_NEAR (value ("band2_lookaheadMs"), 17.5f, 1e-4f);
    EXPECT_NEAR (value ("band5_lookaheadMs"), 4.0f, 1e-4f);
    EXPECT_DOUBLE_EQ (lookahead.getMaximum(), 20.0);
}

TEST_F (BandControls, WidthDialZoomsTheDisplayAndReturnsToFour)
{
    auto& width = editor->getWidthSlider();
    EXPECT_DOUBLE_EQ (width.getMinimum(), 4.0);
    EXPECT_DOUBLE_EQ (width.getMaximum(), 20.0);
    EXPECT_NEAR (width.proportionOfLengthToValue (0.5), 8.0, 1e-6);
    EXPECT_EQ (width.getTextFromValue (12.0), "12.00 x");

    width.setValue (20.0, juce::sendNotificationSync);
    EXPECT_FLOAT_EQ (editor->getSpectrogram().getTimeZoom(), 20.0f);

    const auto centre = width.getLocalBounds().toFloat().getCentre();
    width.mouseDoubleClick (test::makeMouseEvent (width, centre, juce::ModifierKeys::leftButtonModifier, 2));
    EXPECT_DOUBLE_EQ (width.getValue(), 4.0);
    EXPECT_FLOAT_EQ (editor->getSpectrogram().getTimeZoom(), 4.0f);
}

TEST_F (BandControls, ViewButtonsAreARadioPairThatSwitchTheDisplay)
{
    auto& before = editor->getBeforeButton();
    auto& after = editor->getAfterButton();
    EXPECT_EQ (before.getRadioGroupId(), 2001);
    EXPECT_EQ (after.getRadioGroupId(), 2001);

    int afterClicks = 0;
    auto forward = after.onClick;
    after.onClick = [&]
    {
        ++afterClicks;
        forward();
    };

    test::clickButton (after);
    EXPECT_TRUE (after.getToggleState());
    EXPECT_FALSE (before.getToggleState());
    EXPECT_TRUE (editor->getSpectrogram().getShowAfterGain());

    // A second click on "After" keeps it on and tells the display again.
    after.setToggleState (true, juce::sendNotificationSync);
    after.onClick();
    EXPECT_EQ (afterClicks, 2);
    EXPECT_TRUE (after.getToggleState());
    EXPECT_TRUE (editor->getSpectrogram().getShowAfterGain());

    test::clickButton (before);
    EXPECT_FALSE (editor->getSpectrogram().getShowAfterGain());
    EXPECT_FALSE (after.getToggleState());
}
