#include "editor/PresetMenu.h"
#include "editor/VarnelleAudioProcessorEditor.h"
#include "helpers/EditorTestHelpers.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

using Editor = VarnelleAudioProcessorEditor;
using varnelle::editor::PresetMenu;

namespace
{
struct MenuEntry
{
    juce::String text;
    bool enabled = false, ticked = false;
};

MenuEntry findEntry (const juce::PopupMenu& menu, int itemId)
{
    for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
        if (const auto& item = it.getItem(); item.itemID == itemId)
            return {item.text, item.isEnabled, item.isTicked};
    return {};
}

bool press (Editor& editor, juce::juce_wchar key, juce::ModifierKeys modifiers = {})
{
    return editor.keyPressed (juce::KeyPress ((int)key, modifiers, key));
}

float gainOf (VarnelleAudioProcessor& processor, int band)
{
    return processor.parameters.getRawParameterValue ("band" + juce::String (band) + "_gain")->load();
}
} // namespace

TEST (UndoInTheWindow, KnobEditsUndoByMenuAndKeysAndOutliveTheWindow)
{
    VarnelleAudioProcessor processor;
    auto editor = std::make_unique<Editor> (processor, false);
    auto* menu = &editor->getPresetMenu();
    EXPECT_FALSE (findEntry (menu->buildPresetMenu(), PresetMenu::undoItem).enabled);
    EXPECT_EQ (findEntry (menu->buildPresetMenu(), PresetMenu::undoItem).text, "Undo");

    // A drag on band 2's gain knob, as the window delivers it.
    auto& knob = editor->getBandKnob (1, Editor::KnobRow::gain);
    const auto centre = knob.getLocalBounds().toFloat().getCentre();
    knob.mouseDown (varnelle::test::makeMouseEvent (knob, centre));
    knob.mouseDrag (varnelle::test::makeMouseEvent (knob, centre.translated (0.0f, 20.0f)));
    knob.mouseDrag (varnelle::test::makeMouseEvent (knob, centre.translated (0.0f, 40.0f)));
    knob.mouseUp (varnelle::test::makeMouseEvent (knob, centre.translated (0.0f, 40.0f)));
    const float dragged = gainOf (processor, 2);
    ASSERT_LT (dragged, -1.0f);

    const auto undo = findEntry (menu->buildPresetMenu(), PresetMenu::undoItem);
    EXPECT_EQ (undo.text, "Undo Band 2 Gain");
    EXPECT_TRUE (undo.enabled);
    menu->handlePresetMenuResult (PresetMenu::undoItem);
    EXPECT_FLOAT_EQ (gainOf (processor, 2), 0.0f);
    EXPECT_EQ (findEntry (menu->buildPresetMenu(), PresetMenu::redoItem).text, "Redo Band 2 Gain");

    // The history stays with the plug-in when the window closes.
    editor.reset();
    editor = std::make_unique<Editor> (processor, false);
    EXPECT_TRUE (press (*editor, 'y', juce::ModifierKeys::commandModifier));
    EXPECT_FLOAT_EQ (gainOf (processor, 2), dragged);
    EXPECT_TRUE (press (*editor, 'z', juce::ModifierKeys::commandModifier));
    EXPECT_FLOAT_EQ (gainOf (processor, 2), 0.0f);
    EXPECT_TRUE (
        press (*editor, 'z', juce::ModifierKeys::commandModifier | juce::ModifierKeys::shiftModifier));
    EXPECT_FLOAT_EQ (gainOf (processor, 2), dragged);

    // Key presses and wheel ticks on a knob say where they come from: a quick run of either is
    // one step.
    {
        auto& attack = editor->getBandKnob (0, Editor::KnobRow::attack);
        const int steps = processor.getEditHistory().getNumUndoSteps();
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE (attack.keyPressed (juce::KeyPress (juce::KeyPress::upKey)));
        EXPECT_EQ (processor.getEditHistory().getNumUndoSteps(), steps + 1);
        juce::MouseWheelDetails wheel{0.0f, 0.25f, false, false, false};
        const auto at = attack.getLocalBounds().toFloat().getCentre();
        for (int i = 0; i < 3; ++i)
            attack.mouseWheelMove (varnelle::test::makeMouseEvent (attack, at, {}), wheel);
        EXPECT_EQ (processor.getEditHistory().getNumUndoSteps(), steps + 2);
    }

    // So is each key press on a knob after a pause.
    processor.getEditHistory().setClock ([] { return 1.0e9; });
    const int stepsBeforeKey = processor.getEditHistory().getNumUndoSteps();
    auto& release = editor->getBandKnob (2, Editor::KnobRow::release);
    EXPECT_TRUE (release.keyPressed (juce::KeyPress (juce::KeyPress::upKey)));
    EXPECT_EQ (processor.getEditHistory().getNumUndoSteps(), stepsBeforeKey + 1);
    EXPECT_EQ (processor.getEditHistory().getUndoName(), "Band 3 Release");

    // Band buttons and the factory reset are steps too.
    varnelle::test::clickButton (*editor->getBandButton (3));
    EXPECT_EQ (processor.getEditHistory().getUndoName(), "Band 4 Bypass");
    editor->getPresetMenu().loadSelectedPreset(); // the box's action, with "Factory: Reset" shown
    EXPECT_EQ (processor.getEditHistory().getUndoName(), "Factory: Reset");
    EXPECT_FLOAT_EQ (gainOf (processor, 2), 0.0f);
    processor.getEditHistory().undo();
    EXPECT_FLOAT_EQ (gainOf (processor, 2), dragged);

    // Loading a preset is one step named after it, and keeps the history before it.
    auto& presets = editor->getPresetMenu();
    varnelle::test::setParameter (processor, "band1_gain", 7.0f);
    presets.savePresetWithName ("Drums Undo Test");
    varnelle::test::setParameter (processor, "band1_gain", -7.0f);
    const int stepsBefore = processor.getEditHistory().getNumUndoSteps();
    presets.loadSelectedPreset();
    EXPECT_FLOAT_EQ (gainOf (processor, 1), 7.0f);
    EXPECT_EQ (processor.getEditHistory().getUndoName(), "Load Preset 'Drums Undo Test'");
    EXPECT_EQ (processor.getEditHistory().getNumUndoSteps(), stepsBefore + 1);
    processor.getEditHistory().undo();
    EXPECT_FLOAT_EQ (gainOf (processor, 1), -7.0f);
    presets.getManager().deletePreset (presets.getSelectedPresetFile());
}

TEST (UndoInTheWindow, AWindowClosedMidDragEndsTheDragForHostAndHistory)
{
    VarnelleAudioProcessor processor;
    varnelle::test::ParameterRecorder counter (*processor.parameters.getParameter ("band1_gain"));
    {
        Editor editor (processor, false);
        auto& knob = editor.getBandKnob (0, Editor::KnobRow::gain);
        const auto centre = knob.getLocalBounds().toFloat().getCentre();
        knob.mouseDown (varnelle::test::makeMouseEvent (knob, centre));
        knob.mouseDrag (varnelle::test::makeMouseEvent (knob, centre.translated (0.0f, 40.0f)));
    } // closed without the release

    EXPECT_EQ (counter.gestureBegins, 1);
    EXPECT_EQ (counter.gestureEnds, 1);
    EXPECT_EQ (processor.getEditHistory().getUndoName(), "Band 1 Gain");
    EXPECT_TRUE (processor.getEditHistory().undo());
    EXPECT_FLOAT_EQ (gainOf (processor, 1), 0.0f);
}

TEST (DeltaInTheWindow, MenuAndKeySwitchItAndTheTopBarShowsItWithoutMovingAnything)
{
    VarnelleAudioProcessor processor;
    Editor editor (processor, false);
    EXPECT_FALSE (processor.isListeningToChange()); // off whenever the plug-in is created

    const auto indicator = editor.getListeningIndicatorBounds();
    EXPECT_TRUE (editor.getBannerBounds().contains (indicator));
    EXPECT_FALSE (indicator.intersects (editor.getPresetBox().getBounds()));

    auto render = [&] { return varnelle::test::renderComponent (editor); };
    const auto off = render();

    auto& menu = editor.getPresetMenu();
    menu.handlePresetMenuResult (PresetMenu::listenToChangeItem);
    EXPECT_TRUE (processor.isListeningToChange());
    EXPECT_TRUE (findEntry (menu.buildPresetMenu(), PresetMenu::listenToChangeItem).ticked);
    EXPECT_EQ (findEntry (menu.buildPresetMenu(), PresetMenu::listenToChangeItem).text,
               "Listen to the Change");

    // Only the indicator's pixels change.
    const auto on = render();
    int changedInside = 0, changedOutside = 0;
    for (int y = 0; y < off.getHeight(); ++y)
        for (int x = 0; x < off.getWidth(); ++x)
            if (off.getPixelAt (x, y) != on.getPixelAt (x, y))
                ++(indicator.contains (x, y) ? changedInside : changedOutside);
    EXPECT_GT (changedInside, 500);
    EXPECT_EQ (changedOutside, 0);

    EXPECT_TRUE (press (editor, 'd'));
    EXPECT_FALSE (processor.isListeningToChange());
    EXPECT_FALSE (press (editor, 'd', juce::ModifierKeys::commandModifier));
}

TEST (DeltaInTheWindow, OneBandsChangeIsRadioLikeWithTheChangeAndNamedInTheTopBar)
{
    VarnelleAudioProcessor processor;
    Editor editor (processor, false);
    auto& menu = editor.getPresetMenu();
    EXPECT_EQ (processor.getListeningBand(), -1); // off whenever the plug-in is created
    for (int band = 0; band < 5; ++band)
    {
        const auto entry = findEntry (menu.buildPresetMenu(), PresetMenu::listenToBandItem + band);
        EXPECT_EQ (entry.text, "Listen to Band " + juce::String (band + 1) + "'s Change");
        EXPECT_FALSE (entry.ticked);
    }

    // From the change to band 4 and back: one of them at a time.
    menu.handlePresetMenuResult (PresetMenu::listenToChangeItem);
    menu.handlePresetMenuResult (PresetMenu::listenToBandItem + 3);
    EXPECT_EQ (processor.getListeningBand(), 3);
    EXPECT_FALSE (findEntry (menu.buildPresetMenu(), PresetMenu::listenToChangeItem).ticked);
    EXPECT_TRUE (findEntry (menu.buildPresetMenu(), PresetMenu::listenToBandItem + 3).ticked);
    menu.handlePresetMenuResult (PresetMenu::listenToBandItem + 3);
    EXPECT_EQ (processor.getListeningBand(), -1);
    EXPECT_FALSE (processor.isListeningToChange());

    // Shift+D listens to the selected band, D to all of them; the top bar names what is heard.
    auto render = [&] { return varnelle::test::renderComponent (editor); };
    editor.selectBand (1);
    const auto off = render();
    EXPECT_TRUE (press (editor, 'D', juce::ModifierKeys::shiftModifier));
    EXPECT_EQ (processor.getListeningBand(), 1);
    const auto bandTwo = render();
    EXPECT_TRUE (press (editor, 'd'));
    EXPECT_EQ (processor.getListeningBand(), -1);
    EXPECT_TRUE (processor.isListeningToChange());
    const auto change = render();

    const auto indicator = editor.getListeningIndicatorBounds();
    EXPECT_TRUE (editor.getBannerBounds().contains (indicator));
    EXPECT_FALSE (indicator.intersects (editor.getPresetBox().getBounds()));
    int bandInside = 0, outside = 0, differentTexts = 0;
    for (int y = 0; y < off.getHeight(); ++y)
        for (int x = 0; x < off.getWidth(); ++x)
        {
            const bool inside = indicator.contains (x, y);
            if (off.getPixelAt (x, y) != bandTwo.getPixelAt (x, y))
                ++(inside ? bandInside : outside);
            differentTexts += bandTwo.getPixelAt (x, y) != change.getPixelAt (x, y) ? 1 : 0;
        }
    EXPECT_GT (bandInside, 500);
    EXPECT_EQ (outside, 0);
    EXPECT_GT (differentTexts, 100); // "Listening to Band 2's Change" is not the change's text
}
