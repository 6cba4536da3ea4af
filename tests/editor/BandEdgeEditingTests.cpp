#include "editor/SpectrogramComponent.h"
#include "engine/VarnelleAudioProcessor.h"
#include "helpers/EditorTestHelpers.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>

using varnelle::editor::SpectrogramComponent;
using DragMode = varnelle::editor::BandEdge;

namespace
{
// At 1128 x 458 (the editor's 1140 x 760 layout): plot x 10..1008, legend x 1030..1060,
// level box x 1072..1114, all from y 22 to 448 (426 px high).
constexpr float plotX = 500.0f;
constexpr float legendCentreX = 1045.0f;

juce::String id (int band, const char* slot)
{
    return "band" + juce::String (band + 1) + "_" + slot;
}

struct Editing
{
    explicit Editing (int width = 1128, int height = 458)
        : processor (std::make_unique<VarnelleAudioProcessor>()),
          display (std::make_unique<SpectrogramComponent> (*processor))
    {
        display->setSize (width, height);
        record();
    }

    // Host-style writes; they restart the recording so that only the display's writes count.
    void set (const juce::String& paramId, float value)
    {
        varnelle::test::setParameter (*processor, paramId, value);
        record();
    }

    void record()
    {
        recorders.clear();
        for (auto* p : processor->getParameters())
            if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p))
                recorders[ranged->getParameterID()] =
                    std::make_unique<varnelle::test::ParameterRecorder> (*p);
    }

    float value (const juce::String& paramId) const
    {
        return processor->parameters.getRawParameterValue (paramId)->load();
    }

    varnelle::test::ParameterRecorder& recorder (const juce::String& paramId)
    {
        return *recorders.at (paramId);
    }

    // The selected band's edge that a press would grab, and its level badges.
    DragMode target (juce::Point<float> position) const
    {
        return display->getEdgeEditor().findTarget (position, display->getLayout(),
                                                    display->getSelectedBand());
    }
    varnelle::editor::DisplayLayout::LevelBadgeBounds badges() const
    {
        const auto band = display->getSelectedBand();
        return display->getLayout().getLevelBadgeBounds (value (id (band, "levelMin")),
                                                         value (id (band, "levelMax")));
    }

    void press (float x, float y) { display->mouseDown (varnelle::test::makeMouseEvent (*display, {x, y})); }
    void drag (float x, float y) { display->mouseDrag (varnelle::test::makeMouseEvent (*display, {x, y})); }
    void release (float x, float y) { display->mouseUp (varnelle::test::makeMouseEvent (*display, {x, y})); }

    // IDs of every parameter that saw a gesture or a value since the last record().
    std::vector<juce::String> touchedParameters() const
    {
        std::vector<juce::String> touched;
        for (const auto& [paramId, r] : recorders)
            if (r->gestureBegins != 0 || r->gestureEnds != 0 || !r->values.empty())
                touched.push_back (paramId);
        return touched;
    }

    std::unique_ptr<VarnelleAudioProcessor> processor;
    std::unique_ptr<SpectrogramComponent> display;
    std::map<juce::String, std::unique_ptr<varnelle::test::ParameterRecorder>> recorders;
};

bool isOnTenthDbGrid (float db)
{
    return std::abs (db * 10.0f - std::round (db * 10.0f)) < 1.0e-3f;
}
} // namespace

//==============================================================================
TEST (BandEdgeEditingTargets, PressInThePlotAwayFromBothLinesDoesNothing)
{
    Editing e; // band 1: 20 .. 120 Hz
    const float yHigh = e.display->getLayout().yForFrequency (120.0f);

    e.press (plotX, yHigh - 13.0f);
    EXPECT_EQ (e.display->getEdgeEditor().getDragEdge(), DragMode::none);
    e.drag (plotX, 100.0f);
    e.drag (plotX, 440.0f);
    e.release (plotX, 440.0f);

    // Between the lines, far from both.
    e.press (plotX, (yHigh + 448.0f) * 0.5f);
    e.drag (plotX, 30.0f);
    e.release (plotX, 30.0f);

    EXPECT_TRUE (e.touchedParameters().empty());
    EXPECT_FLOAT_EQ (e.value (id (0, "freqLow")), 20.0f);
    EXPECT_FLOAT_EQ (e.value (id (0, "freqHigh")), 120.0f);
}

TEST (BandEdgeEditingTargets, FrequencyLinesReachTwelvePixelsInclusive)
{
    Editing e;
    // 20 Hz and 20 kHz sit exactly on the plot's bottom (448) and top (22).
    e.set (id (0, "freqLow"), 20.0f);
    e.set (id (0, "freqHigh"), 20000.0f);

    EXPECT_EQ (e.target ({plotX, 34.0f}), DragMode::freqHigh);
    EXPECT_EQ (e.target ({plotX, 34.5f}), DragMode::none);
    EXPECT_EQ (e.target ({plotX, 436.0f}), DragMode::freqLow);
    EXPECT_EQ (e.target ({plotX, 435.5f}), DragMode::none);
    // Outside the plot's pixels the lines cannot be grabbed, however close.
    EXPECT_EQ (e.target ({plotX, 448.0f}), DragMode::none);
    EXPECT_EQ (e.target ({1008.0f, 440.0f}), DragMode::none);
    EXPECT_EQ (e.target ({1007.9f, 440.0f}), DragMode::freqLow);
}

TEST (BandEdgeEditingTargets, EqualDistancesPickTheUpperEdge)
{
    Editing e;
    auto& d = *e.display;

    // Coincident frequency lines: every point is equally far from both.
    e.set (id (0, "freqLow"), 1000.0f);
    e.set (id (0, "freqHigh"), 1000.0f);
    const float y = d.getLayout().yForFrequency (1000.0f);
    EXPECT_EQ (e.target ({plotX, y + 5.0f}), DragMode::freqHigh);
    EXPECT_EQ (e.target ({plotX, y - 5.0f}), DragMode::freqHigh);

    // Separate lines: the nearer one, the upper one at the midpoint.
    e.set (id (0, "freqHigh"), 1300.0f);
    const float yHigh = d.getLayout().yForFrequency (1300.0f);
    const float mid = (y + yHigh) * 0.5f;
    EXPECT_EQ (e.target ({plotX, mid - 1.0f}), DragMode::freqHigh);
    EXPECT_EQ (e.target ({plotX, mid + 1.0f}), DragMode::freqLow);

    // Legend lines 26.625 px apart (-40 dB at 235, -35 dB at 208.375): tie at their midpoint.
    e.set (id (0, "levelMin"), -40.0f);
    e.set (id (0, "levelMax"), -35.0f);
    EXPECT_EQ (e.target ({legendCentreX, 221.6875f}), DragMode::levelMax);
    EXPECT_EQ (e.target ({legendCentreX, 221.75f}), DragMode::levelMin);

    // Beside the level box (outside the badges), badge centres 235 and 208: tie at 221.5.
    EXPECT_EQ (e.target ({1068.0f, 221.5f}), DragMode::levelMax);
    EXPECT_EQ (e.target ({1068.0f, 222.0f}), DragMode::levelMin);
}

TEST (BandEdgeEditingTargets, CloseLevelEdgesAreSplitAtTheirMidpoint)
{
    Editing e;

    // Equal levels: one line on the legend; at or above it is the upper edge.
    e.set (id (0, "levelMin"), -40.0f);
    e.set (id (0, "levelMax"), -40.0f);
    EXPECT_EQ (e.target ({legendCentreX, 235.0f}), DragMode::levelMax);
    EXPECT_EQ (e.target ({legendCentreX, 235.5f}), DragMode::levelMin);
    // Far beyond the reach of either line, the closeness rule still splits the legend.
    EXPECT_EQ (e.target ({legendCentreX, 30.0f}), DragMode::levelMax);
    EXPECT_EQ (e.target ({legendCentreX, 440.0f}), DragMode::levelMin);

    // Badge centres 13 px apart (235 and 222): beside the box, split at 228.5.
    e.set (id (0, "levelMax"), -37.5f);
    const auto badges = e.badges();
    ASSERT_EQ (badges.lower.getY(), 229);
    ASSERT_EQ (badges.upper.getY(), 216);
    EXPECT_EQ (e.target ({1068.0f, 228.5f}), DragMode::levelMax);
    EXPECT_EQ (e.target ({1068.0f, 229.0f}), DragMode::levelMin);
    // The split covers the whole enlarged box, however far from both centres.
    EXPECT_EQ (e.target ({1090.0f, 30.0f}), DragMode::levelMax);
    EXPECT_EQ (e.target ({1090.0f, 440.0f}), DragMode::levelMin);
}

TEST (BandEdgeEditingTargets, BadgesAndLevelBoxReach)
{
    Editing e;
    e.set (id (0, "levelMin"), -60.0f); // legend y 341.5, badge centre 342
    e.set (id (0, "levelMax"), -20.0f); // legend y 128.5, badge centre 129 (rounded half up)

    const auto badges = e.badges();
    EXPECT_EQ (e.target (badges.lower.getCentre().toFloat()), DragMode::levelMin);
    EXPECT_EQ (e.target (badges.upper.getCentre().toFloat()), DragMode::levelMax);
    // The badge margins: 4 px left and right, 3 px above and below.
    EXPECT_EQ (e.target ({(float)badges.lower.getRight() + 3.0f, (float)badges.lower.getY() - 3.0f}),
               DragMode::levelMin);
    EXPECT_EQ (e.target ({(float)badges.upper.getX() - 4.0f, (float)badges.upper.getBottom() + 2.0f}),
               DragMode::levelMax);

    // Inside the level box but away from the badges: the nearer centre within 15 px.
    EXPECT_EQ (e.target ({1090.0f, 342.0f + 15.0f}), DragMode::levelMin);
    EXPECT_EQ (e.target ({1090.0f, 129.0f - 15.0f}), DragMode::levelMax);
    // Beyond 15 px, right of the legend's margin: nothing.
    EXPECT_EQ (e.target ({1090.0f, 342.0f + 15.5f}), DragMode::none);
    EXPECT_EQ (e.target ({1090.0f, 240.0f}), DragMode::none);
    // The level box margin ends 6 px to the right of the box.
    EXPECT_EQ (e.target ({1119.0f, 350.0f}), DragMode::levelMin);
    EXPECT_EQ (e.target ({1120.0f, 350.0f}), DragMode::none);
}

TEST (BandEdgeEditingTargets, LegendReachIsWiderAtItsCentre)
{
    Editing e;
    e.set (id (0, "levelMin"), -60.0f); // legend y 341.5
    e.set (id (0, "levelMax"), 0.0f);   // legend y 22

    // At the centre a line is grabbed up to 18 px away...
    EXPECT_EQ (e.target ({legendCentreX, 341.5f + 17.5f}), DragMode::levelMin);
    EXPECT_EQ (e.target ({legendCentreX, 341.5f + 18.5f}), DragMode::none);
    // ...elsewhere within the margin up to 16 px vertically.
    EXPECT_EQ (e.target ({1020.0f, 341.5f + 15.5f}), DragMode::levelMin);
    EXPECT_EQ (e.target ({1020.0f, 341.5f + 17.5f}), DragMode::none);
    EXPECT_EQ (e.target ({1020.0f, 341.5f - 16.0f}), DragMode::levelMin);

    // The legend margin: 16 px left and right, 14 px above.
    EXPECT_EQ (e.target ({1014.0f, 341.5f}), DragMode::levelMin);
    EXPECT_EQ (e.target ({1013.9f, 341.5f}), DragMode::none);
    EXPECT_EQ (e.target ({legendCentreX, 8.0f}), DragMode::levelMax);
    EXPECT_EQ (e.target ({legendCentreX, 7.9f}), DragMode::none);
}

//==============================================================================
TEST (BandEdgeEditingDrag, FrequencyFollowsTheLogAxisAndTheEdgeJumpsToThePress)
{
    Editing e;
    const float yHigh = e.display->getLayout().yForFrequency (120.0f);

    // The press alone moves the edge to the pointer: 6 px above 120 Hz.
    e.press (plotX, yHigh - 6.0f);
    EXPECT_EQ (e.display->getEdgeEditor().getDragEdge(), DragMode::freqHigh);
    const float tPress = (448.0f - (yHigh - 6.0f)) / 426.0f;
    EXPECT_NEAR (e.value (id (0, "freqHigh")), 20.0f * std::pow (1000.0f, tPress), 0.01f);

    e.drag (plotX, 235.0f); // the plot's middle
    EXPECT_NEAR (e.value (id (0, "freqHigh")), 20.0f * std::sqrt (1000.0f), 0.05f);
    e.drag (plotX, -200.0f);
    EXPECT_FLOAT_EQ (e.value (id (0, "freqHigh")), 20000.0f);
    e.drag (plotX, 22.0f + 426.0f / 3.0f);
    EXPECT_NEAR (e.value (id (0, "freqHigh")), 2000.0f, 0.5f);
    e.release (plotX, 100.0f);
    EXPECT_NEAR (e.value (id (0, "freqHigh")), 2000.0f, 0.5f);

    EXPECT_FLOAT_EQ (e.value (id (0, "freqLow")), 20.0f);
}

TEST (BandEdgeEditingDrag, FrequencyEdgesStayTenHertzApart)
{
    Editing e; // band 1: 20 .. 120 Hz
    e.press (plotX, 447.0f);
    ASSERT_EQ (e.display->getEdgeEditor().getDragEdge(), DragMode::freqLow);
    e.drag (plotX, 30.0f);
    EXPECT_NEAR (e.value (id (0, "freqLow")), 110.0f, 0.05f);
    e.drag (plotX, -500.0f);
    EXPECT_NEAR (e.value (id (0, "freqLow")), 110.0f, 0.05f);
    e.release (plotX, -500.0f);
    EXPECT_FLOAT_EQ (e.value (id (0, "freqHigh")), 120.0f);

    // Band 2 (120 .. 600 Hz): its upper edge dragged to the bottom stops at 130 Hz.
    e.display->setSelectedBand (1);
    e.record();
    e.press (plotX, e.display->getLayout().yForFrequency (600.0f));
    ASSERT_EQ (e.display->getEdgeEditor().getDragEdge(), DragMode::freqHigh);
    e.drag (plotX, 448.0f);
    EXPECT_NEAR (e.value (id (1, "freqHigh")), 130.0f, 0.05f);
    e.drag (plotX, 900.0f);
    EXPECT_NEAR (e.value (id (1, "freqHigh")), 130.0f, 0.05f);
    e.release (plotX, 900.0f);
    EXPECT_FLOAT_EQ (e.value (id (1, "freqLow")), 120.0f);

    const auto touched = e.touchedParameters();
    ASSERT_EQ (touched.size(), 1u);
    EXPECT_EQ (touched[0], id (1, "freqHigh"));
}

TEST (BandEdgeEditingDrag, LevelEdgesKeepThreeDecibelsOnTheRangeGrid)
{
    Editing e;
    e.set (id (0, "levelMin"), -37.3f);

    // levelMax from 0 dB down past levelMin.
    e.press (legendCentreX, 22.0f);
    ASSERT_EQ (e.display->getEdgeEditor().getDragEdge(), DragMode::levelMax);
    EXPECT_FLOAT_EQ (e.value (id (0, "levelMax")), 0.0f);
    // A position between grid points is stored rounded to 0.1 dB: -12.34 dB reads -12.3.
    e.drag (legendCentreX, 448.0f - (67.66f / 80.0f) * 426.0f);
    EXPECT_NEAR (e.value (id (0, "levelMax")), -12.3f, 1.0e-4f);
    e.drag (legendCentreX, 440.0f);
    const float levelMax = e.value (id (0, "levelMax"));
    const float levelMin = e.value (id (0, "levelMin"));
    EXPECT_NEAR (levelMax, -34.3f, 1.0e-4f);
    EXPECT_TRUE (isOnTenthDbGrid (levelMax)) << levelMax;
    EXPECT_GE (levelMax - levelMin, 3.0f - 1.0e-4f);
    EXPECT_NEAR (levelMin, -37.3f, 1.0e-4f);
    e.release (legendCentreX, 440.0f);

    // levelMin up past levelMax; the opposite edge stays where it is.
    e.set (id (0, "levelMax"), -20.6f);
    e.press (legendCentreX, e.display->getLayout().yForLevel (-37.3f));
    ASSERT_EQ (e.display->getEdgeEditor().getDragEdge(), DragMode::levelMin);
    e.drag (legendCentreX, 448.0f - (29.96f / 80.0f) * 426.0f); // -50.04 dB
    EXPECT_NEAR (e.value (id (0, "levelMin")), -50.0f, 1.0e-4f);
    e.drag (legendCentreX, 30.0f);
    EXPECT_NEAR (e.value (id (0, "levelMin")), -23.6f, 1.0e-4f);
    EXPECT_TRUE (isOnTenthDbGrid (e.value (id (0, "levelMin"))));
    EXPECT_GE (e.value (id (0, "levelMax")) - e.value (id (0, "levelMin")), 3.0f - 1.0e-4f);
    e.release (legendCentreX, 30.0f);
    EXPECT_NEAR (e.value (id (0, "levelMax")), -20.6f, 1.0e-4f);

    const auto touched = e.touchedParameters();
    ASSERT_EQ (touched.size(), 1u);
    EXPECT_EQ (touched[0], id (0, "levelMin"));
}

TEST (BandEdgeEditingDrag, LevelsBeyondTheLegendStopAtTheScaleOrItsMargin)
{
    {
        Editing e; // 426 px scale: the 4 px margin is hidden behind the 3 dB gap
        e.press (legendCentreX, 22.0f);
        e.drag (legendCentreX, -100.0f);
        EXPECT_FLOAT_EQ (e.value (id (0, "levelMax")), 0.0f);
        e.release (legendCentreX, -100.0f);

        e.press (legendCentreX, 448.0f);
        ASSERT_EQ (e.display->getEdgeEditor().getDragEdge(), DragMode::levelMin);
        e.drag (legendCentreX, -100.0f);
        EXPECT_NEAR (e.value (id (0, "levelMin")), -3.0f, 1.0e-4f);
        e.drag (legendCentreX, 900.0f);
        EXPECT_FLOAT_EQ (e.value (id (0, "levelMin")), -80.0f);
        e.release (legendCentreX, 900.0f);
    }
    {
        // An 80 px scale (1 dB a pixel), where the 4 px margin is 4 dB and shows.
        Editing e (1128, 112);
        ASSERT_EQ (e.display->getLayout().legend, juce::Rectangle<int> (1030, 22, 30, 80));

        e.press (legendCentreX, 102.0f);
        ASSERT_EQ (e.display->getEdgeEditor().getDragEdge(), DragMode::levelMin);
        e.drag (legendCentreX, -100.0f);
        EXPECT_NEAR (e.value (id (0, "levelMin")), -4.0f, 1.0e-4f);
        e.drag (legendCentreX, 500.0f);
        EXPECT_FLOAT_EQ (e.value (id (0, "levelMin")), -80.0f);
        e.release (legendCentreX, 500.0f);

        e.press (legendCentreX, 22.0f);
        ASSERT_EQ (e.display->getEdgeEditor().getDragEdge(), DragMode::levelMax);
        e.drag (legendCentreX, 500.0f);
        EXPECT_NEAR (e.value (id (0, "levelMax")), -76.0f, 1.0e-4f);
        e.drag (legendCentreX, -100.0f);
        EXPECT_FLOAT_EQ (e.value (id (0, "levelMax")), 0.0f);
        e.release (legendCentreX, -100.0f);
    }
}

TEST (BandEdgeEditingDrag, DisplayWithoutVerticalRoomWritesNothing)
{
    Editing e (1128, 32); // content height 0
    e.press (legendCentreX, 22.0f);
    e.drag (legendCentreX, 10.0f);
    e.drag (plotX, 22.0f);
    e.release (legendCentreX, 10.0f);

    for (const auto& [paramId, r] : e.recorders)
    {
        EXPECT_TRUE (r->values.empty()) << paramId;
        EXPECT_EQ (r->gestureBegins, r->gestureEnds) << paramId;
    }
    EXPECT_FLOAT_EQ (e.value (id (0, "levelMin")), -80.0f);
    EXPECT_FLOAT_EQ (e.value (id (0, "levelMax")), 0.0f);
}

//==============================================================================
TEST (BandEdgeEditingGestures, EachDragIsOneGesturePairOnTheOneParameterThatMoves)
{
    struct Grab
    {
        const char* slot;
        DragMode mode;
    };
    for (const auto& grab : {Grab{"freqLow", DragMode::freqLow}, Grab{"freqHigh", DragMode::freqHigh},
                             Grab{"levelMin", DragMode::levelMin}, Grab{"levelMax", DragMode::levelMax}})
    {
        SCOPED_TRACE (grab.slot);
        Editing e;
        e.display->setSelectedBand (2); // band 3: 600 .. 2500 Hz, -80 .. 0 dB
        e.set (id (2, "levelMin"), -60.0f);
        e.set (id (2, "levelMax"), -20.0f);
        const auto badges = e.badges();

        juce::Point<float> start;
        if (grab.mode == DragMode::freqLow)
            start = {plotX, e.display->getLayout().yForFrequency (600.0f) + 3.0f};
        else if (grab.mode == DragMode::freqHigh)
            start = {plotX, e.display->getLayout().yForFrequency (2500.0f) - 3.0f};
        else
            start = (grab.mode == DragMode::levelMin ? badges.lower : badges.upper).getCentre().toFloat();

        e.press (start.x, start.y);
        ASSERT_EQ (e.display->getEdgeEditor().getDragEdge(), grab.mode);
        EXPECT_EQ (e.recorder (id (2, grab.slot)).gestureBegins, 1);
        EXPECT_EQ (e.recorder (id (2, grab.slot)).gestureEnds, 0);
        for (float y : {30.0f, 440.0f, -50.0f, 250.0f})
            e.drag (start.x + 7.0f, y);
        e.release (start.x, 250.0f);

        const auto& r = e.recorder (id (2, grab.slot));
        EXPECT_EQ (r.gestureBegins, 1);
        EXPECT_EQ (r.gestureEnds, 1);
        EXPECT_GE (r.values.size(), 5u);
        EXPECT_FALSE (r.valueChangedOutsideGesture);
        const auto touched = e.touchedParameters();
        ASSERT_EQ (touched.size(), 1u);
        EXPECT_EQ (touched[0], id (2, grab.slot));
        EXPECT_EQ (e.display->getEdgeEditor().getDragEdge(), DragMode::none);
    }
}

TEST (BandEdgeEditingGestures, PressOnAnEdgeWhileAGestureIsOpenClosesItFirst)
{
    Editing e;
    e.press (plotX, 447.0f); // freqLow
    auto& low = e.recorder (id (0, "freqLow"));
    auto& max = e.recorder (id (0, "levelMax"));
    ASSERT_EQ (low.gestureBegins, 1);

    // No release in between: the second press closes freqLow's gesture, then opens levelMax's.
    e.press (legendCentreX, 22.0f);
    EXPECT_EQ (low.gestureEnds, 1);
    EXPECT_EQ (max.gestureBegins, 1);
    EXPECT_EQ (max.gestureEnds, 0);
    const auto lowWrites = low.values.size();
    e.drag (legendCentreX, 200.0f);
    EXPECT_EQ (low.values.size(), lowWrites);
    e.release (legendCentreX, 200.0f);

    EXPECT_EQ (low.gestureBegins, 1);
    EXPECT_EQ (low.gestureEnds, 1);
    EXPECT_EQ (max.gestureBegins, 1);
    EXPECT_EQ (max.gestureEnds, 1);
    EXPECT_FALSE (low.valueChangedOutsideGesture);
    EXPECT_FALSE (max.valueChangedOutsideGesture);
}

TEST (BandEdgeEditingGestures, PressOnNothingLeavesAnOpenGestureAloneAndDragsNothing)
{
    Editing e;
    e.press (plotX, 447.0f); // freqLow
    auto& low = e.recorder (id (0, "freqLow"));
    const float lowValue = e.value (id (0, "freqLow"));

    e.press (plotX, 200.0f); // far from both lines
    EXPECT_EQ (e.display->getEdgeEditor().getDragEdge(), DragMode::none);
    EXPECT_EQ (low.gestureBegins, 1);
    EXPECT_EQ (low.gestureEnds, 0);
    e.drag (plotX, 440.0f);
    EXPECT_FLOAT_EQ (e.value (id (0, "freqLow")), lowValue);

    e.release (plotX, 440.0f);
    EXPECT_EQ (low.gestureEnds, 1);
    const auto touched = e.touchedParameters();
    ASSERT_EQ (touched.size(), 1u);
    EXPECT_EQ (touched[0], id (0, "freqLow"));
}

TEST (BandEdgeEditingGestures, DragOrReleaseWithoutAPressDoNothing)
{
    Editing e;
    e.drag (plotX, 447.0f);
    e.drag (legendCentreX, 22.0f);
    e.release (legendCentreX, 22.0f);
    EXPECT_TRUE (e.touchedParameters().empty());
}

TEST (BandEdgeEditingGestures, PressOnAnUnselectedBandChangesNothing)
{
    Editing e; // band 1 selected
    const float band3Low = e.display->getLayout().yForFrequency (600.0f);
    const float band3High = e.display->getLayout().yForFrequency (2500.0f);

    for (float y : {(band3Low + band3High) * 0.5f, band3Low, band3High})
    {
        e.press (plotX, y);
        e.drag (plotX, y - 40.0f);
        e.release (plotX, y - 40.0f);
    }

    EXPECT_EQ (e.display->getSelectedBand(), 0);
    EXPECT_TRUE (e.touchedParameters().empty());
    EXPECT_FLOAT_EQ (e.value (id (2, "freqLow")), 600.0f);
    EXPECT_FLOAT_EQ (e.value (id (2, "freqHigh")), 2500.0f);
}

TEST (BandEdgeEditingGestures, DestroyedMidDragClosesItsGesture)
{
    Editing e;
    e.press (legendCentreX, 22.0f);
    e.drag (legendCentreX, 200.0f);
    auto& max = e.recorder (id (0, "levelMax"));
    ASSERT_EQ (max.gestureBegins, 1);
    ASSERT_EQ (max.gestureEnds, 0);

    e.display.reset();
    EXPECT_EQ (max.gestureBegins, 1);
    EXPECT_EQ (max.gestureEnds, 1);
    EXPECT_FALSE (max.valueChangedOutsideGesture);
}

TEST (BandEdgeEditingGestures, SelectionChangedMidDragKeepsMovingTheGrabbedEdge)
{
    Editing e;
    e.press (plotX, e.display->getLayout().yForFrequency (120.0f)); // band 1 freqHigh
    ASSERT_EQ (e.display->getEdgeEditor().getDragEdge(), DragMode::freqHigh);

    e.display->setSelectedBand (3);
    e.drag (plotX, 235.0f);
    e.drag (plotX, 150.0f);
    e.release (plotX, 150.0f);

    const auto& r = e.recorder (id (0, "freqHigh"));
    EXPECT_EQ (r.gestureBegins, 1);
    EXPECT_EQ (r.gestureEnds, 1);
    EXPECT_FALSE (r.valueChangedOutsideGesture);
    EXPECT_NEAR (e.value (id (0, "freqHigh")), 20.0f * std::pow (1000.0f, (448.0f - 150.0f) / 426.0f), 0.5f);
    const auto touched = e.touchedParameters();
    ASSERT_EQ (touched.size(), 1u);
    EXPECT_EQ (touched[0], id (0, "freqHigh"));

    // The next press works on the newly selected band.
    e.press (plotX, e.display->getLayout().yForFrequency (2500.0f));
    EXPECT_EQ (e.display->getEdgeEditor().getDragEdge(), DragMode::freqLow);
    e.release (plotX, 0.0f);
    EXPECT_EQ (e.recorder (id (3, "freqLow")).gestureBegins, 1);
    EXPECT_EQ (e.recorder (id (3, "freqLow")).gestureEnds, 1);
}
