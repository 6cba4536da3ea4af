#include "editor/SpectrogramComponent.h"
#include "editor/VarnelleAudioProcessorEditor.h"
#include "helpers/EditorTestHelpers.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

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

// The background and band cards are kept in an image between paints; every change that shows in
// them (selection, a bypass set by the host, the size) must show at the next paint exactly as a
// freshly opened window draws it, at whole and fractional display scales.
TEST (EditorBackground, ShowsEveryChangeAtTheNextPaintLikeAFreshWindow)
{
    const auto countDifferentPixels = [] (const juce::Image& a, const juce::Image& b)
    {
        if (a.getWidth() != b.getWidth() || a.getHeight() != b.getHeight())
            return -1;
        const juce::Image::BitmapData da (a, juce::Image::BitmapData::readOnly);
        const juce::Image::BitmapData db (b, juce::Image::BitmapData::readOnly);
        int different = 0;
        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                different += da.getPixelColour (x, y) != db.getPixelColour (x, y) ? 1 : 0;
        return different;
    };

    for (const float scale : {1.0f, 1.5f, 2.0f})
    {
        VarnelleAudioProcessor processor;
        Editor editor (processor, false);
        const auto snapshot = [scale] (Editor& e)
        { return e.createComponentSnapshot (e.getLocalBounds(), true, scale); };

        const auto differenceFromFreshWindow = [&]
        {
            const auto shown = snapshot (editor);
            Editor fresh (processor, false);
            fresh.selectBand (editor.getSelectedBand());
            fresh.setSize (editor.getWidth(), editor.getHeight());
            return countDifferentPixels (shown, snapshot (fresh));
        };

        const std::vector<std::pair<const char*, std::function<void()>>> steps{
            {"first paint", [] {}},
            {"band 3 selected", [&] { editor.selectBand (2); }},
            {"band 4 bypassed by the host",
             [&] { varnelle::test::setParameter (processor, "band4_bypass", 1.0f); }},
            {"resized to 900 x 620", [&] { editor.setSize (900, 620); }},
            {"band 1 selected", [&] { editor.selectBand (0); }},
            {"band 4 active again", [&] { varnelle::test::setParameter (processor, "band4_bypass", 0.0f); }},
            {"resized to 1140 x 760", [&] { editor.setSize (1140, 760); }},
        };

        for (const auto& [what, change] : steps)
        {
            change();
            EXPECT_EQ (differenceFromFreshWindow(), 0) << what << ", scale " << scale;
        }
    }
}
