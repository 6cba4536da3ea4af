#include "editor/SpectrogramComponent.h"
#include "editor/VarnelleAudioProcessorEditor.h"
#include "helpers/EditorTestHelpers.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

using Editor = VarnelleAudioProcessorEditor;
using Row = Editor::KnobRow;
using juce::Rectangle;

namespace
{
struct EditorFixture : ::testing::Test
{
    VarnelleAudioProcessor processor;
    std::unique_ptr<Editor> editor = std::make_unique<Editor> (processor);

    Rectangle<int> knob (int band, Row row) { return editor->getBandKnob (band, row).getBounds(); }

    /** A mouse-down on the editor background, as the window would deliver it. */
    void clickEditorAt (juce::Point<int> position)
    {
        editor->mouseDown (varnelle::test::makeMouseEvent (*editor, position.toFloat()));
    }
};
} // namespace

TEST_F (EditorFixture, LayoutAtTheInitialSizeMatchesTheWorkedExample)
{
    ASSERT_EQ (editor->getWidth(), 1140);
    ASSERT_EQ (editor->getHeight(), 760);

    EXPECT_EQ (editor->getAfterButton().getBounds(), Rectangle<int> (1048, 6, 86, 28));
    EXPECT_EQ (editor->getBeforeButton().getBounds(), Rectangle<int> (954, 6, 86, 28));
    EXPECT_EQ (editor->getPresetMenuButton().getBounds(), Rectangle<int> (860, 6, 84, 28));
    EXPECT_EQ (editor->getPresetBox().getBounds(), Rectangle<int> (592, 6, 260, 28));
    EXPECT_EQ (editor->getBannerBounds(), Rectangle<int> (6, 6, 586, 28));
    EXPECT_EQ (editor->getSeparatorY(), 38);
    EXPECT_EQ (editor->getSpectrogram().getBounds(), Rectangle<int> (6, 40, 1128, 458));

    EXPECT_EQ (editor->getWidthLabel().getBounds(), Rectangle<int> (12, 514, 110, 18));
    EXPECT_EQ (editor->getWidthSlider().getBounds(), Rectangle<int> (18, 536, 98, 58));
    EXPECT_EQ (editor->getLookaheadLabel().getBounds(), Rectangle<int> (12, 638, 110, 18));
    EXPECT_EQ (editor->getLookaheadSlider().getBounds(), Rectangle<int> (18, 660, 98, 58));

    const Row rows[] = {Row::gain, Row::upperKnee, Row::attack, Row::lowerKnee, Row::release};
    const int labelY[] = {536, 577, 618, 659, 700};
    const int knobY[] = {532, 570, 611, 652, 690};
    for (int r = 0; r < 5; ++r)
        EXPECT_EQ (editor->getRowLabel (rows[r]).getBounds(), Rectangle<int> (128, labelY[r], 56, 41));

    for (int band = 0; band < 5; ++band)
    {
        const int dx = 186 * band;
        ASSERT_NE (editor->getBandButton (band), nullptr);
        EXPECT_EQ (editor->getBandButton (band)->getBounds(), Rectangle<int> (202 + dx, 508, 174, 18));
        for (int r = 0; r < 5; ++r)
        {
            const bool right = rows[r] == Row::upperKnee || rows[r] == Row::lowerKnee;
            EXPECT_EQ (knob (band, rows[r]), Rectangle<int> ((right ? 296 : 214) + dx, knobY[r], 67, 55))
                << "band " << band << " row " << r;
        }
    }
}

TEST_F (EditorFixture, LayoutAtTheLimitsOfTheWindowSize)
{
    editor->setSize (900, 620);
    EXPECT_EQ (editor->getSpectrogram().getBounds(), Rectangle<int> (6, 40, 888, 318));
    EXPECT_EQ (knob (0, Row::gain).getWidth(), 59);
    EXPECT_EQ (knob (0, Row::gain).getX(), 205);
    EXPECT_EQ (knob (0, Row::upperKnee).getX(), 270);
    const int buttonX[] = {202, 340, 478, 616, 754};
    for (int band = 0; band < 5; ++band)
    {
        EXPECT_EQ (editor->getBandButton (band)->getX(), buttonX[band]);
        EXPECT_EQ (editor->getBandButton (band)->getWidth(), 126);
    }

    editor->setSize (2400, 1600);
    EXPECT_EQ (editor->getSpectrogram().getBounds(), Rectangle<int> (6, 40, 2388, 1298));
    EXPECT_EQ (editor->getBandButton (0)->getY(), 1346 + 2); // the panel stays 250 high
    EXPECT_EQ (editor->getBandButton (1)->getX() - editor->getBandButton (0)->getX(), 434 + 4);
    EXPECT_EQ (knob (2, Row::release).getWidth(), 170);

    // Host and corner resizes are held within the limits.
    auto* constrainer = editor->getConstrainer();
    ASSERT_NE (constrainer, nullptr);
    EXPECT_TRUE (editor->isResizable());
    EXPECT_EQ (constrainer->getMinimumWidth(), 900);
    EXPECT_EQ (constrainer->getMinimumHeight(), 620);
    EXPECT_EQ (constrainer->getMaximumWidth(), 2400);
    EXPECT_EQ (constrainer->getMaximumHeight(), 1600);
    editor->setBoundsConstrained ({0, 0, 400, 3000});
    EXPECT_EQ (editor->getWidth(), 900);
    EXPECT_EQ (editor->getHeight(), 1600);
}

TEST_F (EditorFixture, AClickNearABandsKnobsSelectsItAndNowhereElseChangesAnything)
{
    const auto gain = knob (2, Row::gain);
    const auto y = gain.getCentreY();

    clickEditorAt ({gain.getX() - 7, y});
    EXPECT_EQ (editor->getSelectedBand(), 0);
    clickEditorAt ({gain.getX() - 6, y});
    EXPECT_EQ (editor->getSelectedBand(), 2);
    EXPECT_EQ (editor->getSpectrogram().getSelectedBand(), 2);

    clickEditorAt ({600, 200}); // over the display area: not near any knobs
    EXPECT_EQ (editor->getSelectedBand(), 2);

    // A click on a band button toggles that band but keeps the selection.
    varnelle::test::clickButton (*editor->getBandButton (4));
    EXPECT_FLOAT_EQ (processor.parameters.getRawParameterValue ("band5_bypass")->load(), 1.0f);
    EXPECT_EQ (editor->getSelectedBand(), 2);
}

TEST_F (EditorFixture, StartsWithBandOneBeforeViewAndWidthFour)
{
    auto& display = editor->getSpectrogram();
    EXPECT_FLOAT_EQ (display.getTimeZoom(), 4.0f);
    EXPECT_FALSE (display.getShowAfterGain());
    EXPECT_EQ (display.getSelectedBand(), 0);
    EXPECT_TRUE (editor->getBeforeButton().getToggleState());
    EXPECT_FALSE (editor->getAfterButton().getToggleState());
    EXPECT_EQ (editor->getPresetMenuButton().getName(), "Presets");
    EXPECT_EQ (editor->getPresetMenuButton().getButtonText(), "...");
    for (int band = 0; band < 5; ++band)
    {
        EXPECT_EQ (editor->getBandButton (band)->getButtonText(), "Band" + juce::String (band + 1));
        EXPECT_TRUE (editor->getBandButton (band)->getToggleState());
    }
    EXPECT_EQ (editor->getBandKnob (0, Row::gain).getTextValueSuffix(), " dB");
    EXPECT_EQ (editor->getBandKnob (0, Row::release).getTextValueSuffix(), " ms");
}
