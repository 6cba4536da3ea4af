#include "editor/DisplayScales.h"
#include "editor/PresetMenu.h"
#include "editor/SpectrogramComponent.h"
#include "editor/VarnelleAudioProcessorEditor.h"
#include "helpers/EditorTestHelpers.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

using varnelle::editor::changeColour;
using varnelle::editor::HistoryView;
using varnelle::editor::PresetMenu;
using varnelle::editor::SpectrogramComponent;

namespace
{
// Amber: red over green over blue; green: green over red and blue.
bool isCutColour (juce::Colour c)
{
    return c.getRed() > c.getGreen() + 10 && c.getGreen() > c.getBlue();
}

bool isBoostColour (juce::Colour c)
{
    return c.getGreen() > c.getRed() + 10 && c.getGreen() > c.getBlue();
}
} // namespace

TEST (ChangeView, ColoursAreDarkAtZeroAndTellCutsFromBoostsUpToTheEnds)
{
    EXPECT_EQ (changeColour (0.0f), juce::Colour (0xff0b1220));
    EXPECT_EQ (changeColour (std::nanf ("")), changeColour (0.0f));
    EXPECT_EQ (changeColour (-60.0f), changeColour (-24.0f)); // larger changes in the end colours
    EXPECT_EQ (changeColour (30.0f), changeColour (24.0f));
    float lastCut = 0.0f, lastBoost = 0.0f;
    for (const float db : {1.0f, 3.0f, 6.0f, 12.0f, 18.0f, 24.0f})
    {
        const auto cut = changeColour (-db), boost = changeColour (db);
        EXPECT_TRUE (isCutColour (cut)) << db << " " << cut.toString();
        EXPECT_TRUE (isBoostColour (boost)) << db << " " << boost.toString();
        EXPECT_GT (cut.getPerceivedBrightness(), lastCut) << db;
        EXPECT_GT (boost.getPerceivedBrightness(), lastBoost) << db;
        lastCut = cut.getPerceivedBrightness();
        lastBoost = boost.getPerceivedBrightness();
    }
}

// A band cutting 12 dB from 120 to 600 Hz: its rows of the change history take the cut colour,
// the rows above stay dark, and the curve at the right edge stands 12 dB to the left of its
// 0 dB line there and on it elsewhere.
TEST (ChangeView, ABandsCutShowsInItsRowsAndInTheCurve)
{
    auto processor = varnelle::test::makePreparedProcessor (1, 48000.0);
    varnelle::test::setParameter (*processor, "band2_gain", -12.0f);
    varnelle::test::setParameter (*processor, "band2_levelMin", -80.0f);
    varnelle::test::setParameter (*processor, "band2_levelMax", 0.0f);
    SpectrogramComponent display (*processor);
    display.setSize (900, 420);
    display.setTimeZoom (20.0f);
    display.pollForChanges();
    const auto noise = varnelle::test::makeWhiteNoise (48000, 0.3f, 4);
    for (size_t start = 0; start < noise.size(); start += 1600) // a column per 1/30 s
    {
        std::vector<std::vector<float>> audio{
            {noise.begin() + (long)start, noise.begin() + (long)start + 1600}};
        varnelle::test::processInBlocks (*processor, audio, {512});
        display.pollForChanges();
    }

    const auto layout = display.getLayout();
    const int cutRow = juce::roundToInt (layout.yForFrequency (300.0f)) - layout.plot.getY();
    const int clearRow = juce::roundToInt (layout.yForFrequency (5000.0f)) - layout.plot.getY();
    const auto history = display.getHistory().getImage (HistoryView::change);
    const int newest = history.getWidth() - 1;
    EXPECT_TRUE (isCutColour (history.getPixelAt (newest, cutRow)))
        << history.getPixelAt (newest, cutRow).toString();
    EXPECT_EQ (history.getPixelAt (newest, clearRow), changeColour (0.0f));
    EXPECT_NEAR (display.getHistory().getNewestChangeAtRow (cutRow), -12.0f, 0.1f);

    display.setShowChange (true);
    EXPECT_EQ (display.getShownView(), HistoryView::change);
    const auto image = varnelle::test::renderComponent (display);
    auto whitestX = [&] (int row)
    {
        int best = 0;
        float brightest = -1.0f;
        for (int x = layout.plot.getRight() - 90; x < layout.plot.getRight() - 1; ++x)
            if (const auto b = image.getPixelAt (x, layout.plot.getY() + row).getPerceivedBrightness();
                b > brightest)
                brightest = b, best = x;
        return best;
    };
    const int zeroX = whitestX (clearRow);
    EXPECT_NEAR (zeroX, layout.plot.getRight() - 40, 1);
    EXPECT_NEAR (whitestX (cutRow), zeroX - 18, 2); // 36 px for 24 dB
    const auto shown = image.getPixelAt (layout.plot.getRight() - 120, layout.plot.getY() + cutRow);
    EXPECT_TRUE (isCutColour (shown)) << shown.toString();

    // The spectrum views leave it.
    display.setShowAfterGain (true);
    EXPECT_EQ (display.getShownView(), HistoryView::after);
}

TEST (ChangeView, TheMenuAndTheCKeySwitchItAndBeforeAndAfterLeaveIt)
{
    VarnelleAudioProcessor processor;
    VarnelleAudioProcessorEditor editor (processor, false);
    auto& display = editor.getSpectrogram();
    auto& menu = editor.getPresetMenu();
    auto entry = [&]
    {
        juce::PopupMenu::Item last;
        const auto built = menu.buildPresetMenu(); // alive while it is iterated
        for (juce::PopupMenu::MenuItemIterator it (built); it.next();)
            last = it.getItem();
        return last; // after all the entries the menu had
    };
    EXPECT_EQ (entry().itemID, PresetMenu::changeViewItem);
    EXPECT_EQ (entry().text, "View: Change");
    EXPECT_FALSE (entry().isTicked);

    EXPECT_TRUE (editor.keyPressed (juce::KeyPress ('c', {}, 'c')));
    EXPECT_TRUE (display.getShowChange());
    EXPECT_TRUE (entry().isTicked);
    menu.handlePresetMenuResult (PresetMenu::changeViewItem);
    EXPECT_FALSE (display.getShowChange());
    EXPECT_FALSE (editor.keyPressed (juce::KeyPress ('c', juce::ModifierKeys::commandModifier, 'c')));
    EXPECT_FALSE (display.getShowChange());

    menu.handlePresetMenuResult (PresetMenu::changeViewItem);
    editor.getAfterButton().onClick();
    EXPECT_FALSE (display.getShowChange());
    EXPECT_TRUE (display.getShowAfterGain());
    editor.showChangeView (true);
    editor.getBeforeButton().onClick();
    EXPECT_EQ (display.getShownView(), HistoryView::before);
}
