#include "editor/ActivityMeters.h"
#include "editor/VarnelleAudioProcessorEditor.h"
#include "helpers/EditorTestHelpers.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

using namespace varnelle;
using editor::ActivityMeter;

namespace
{
int countDifferences (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> inside, int& outside)
{
    int within = 0;
    outside = 0;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                ++(inside.contains (x, y) ? within : outside);
    return within;
}

void play (VarnelleAudioProcessor& processor, float seconds)
{
    std::vector<std::vector<float>> audio{test::makePinkNoise ((int)(48000.0f * seconds), 0.5f, 3)};
    test::processInBlocks (processor, audio, {512});
}
} // namespace

TEST (ActivityMeters, DrawNothingWhileNothingChangesAndOnlyInTheirCardWhileABandWorks)
{
    auto processor = test::makePreparedProcessor (1);
    VarnelleAudioProcessorEditor window (*processor, false);
    auto& meters = window.getActivityMeters();

    // Every band at 0 dB: the meters stay out of the picture entirely.
    play (*processor, 0.5f);
    meters.poll (0.0);
    const auto withMeters = varnelle::test::renderComponent (window);
    for (int band = 0; band < 5; ++band)
    {
        EXPECT_FALSE (meters.getMeter (band).isShowing());
        meters.getMeter (band).setVisible (false);
    }
    int outside = 0;
    EXPECT_EQ (countDifferences (withMeters, varnelle::test::renderComponent (window), {}, outside), 0);
    EXPECT_EQ (outside, 0);
    for (int band = 0; band < 5; ++band)
        meters.getMeter (band).setVisible (true);

    // A cut in band 3: its meter reads it, drawn within its own bounds, and reads out.
    test::setParameter (*processor, "band3_gain", -12.0f);
    play (*processor, 1.0f);
    meters.poll (1000.0);
    auto& meter = meters.getMeter (2);
    EXPECT_NEAR (meter.getActivity(), -12.0f, 0.1f);
    EXPECT_EQ (meter.getValueText(), juce::String (juce::CharPointer_UTF8 ("\xe2\x88\x92")) + "12.0 dB");
    const auto working = varnelle::test::renderComponent (window);
    meter.setVisible (false);
    EXPECT_GT (
        countDifferences (varnelle::test::renderComponent (window), working, meter.getBounds(), outside),
        100);
    EXPECT_EQ (outside, 0);
    meter.setVisible (true);
    for (const int band : {0, 1, 3, 4})
        EXPECT_FALSE (meters.getMeter (band).isShowing()) << "band " << band;

    // What a screen reader says: "Band 3 Activity, −12.0 dB".
    const auto handler = meter.createAccessibilityHandler();
    ASSERT_NE (handler, nullptr);
    EXPECT_EQ (handler->getTitle(), "Band 3 Activity");
    ASSERT_NE (handler->getValueInterface(), nullptr);
    EXPECT_EQ (handler->getValueInterface()->getCurrentValueAsString(), meter.getValueText());
}

TEST (ActivityMeters, APeakHoldKeepsABriefCutReadableAndThenLetsGo)
{
    ActivityMeter meter (1);
    meter.setBounds (0, 0, 60, 24);
    meter.setActivity (-9.5f, 0.0);
    meter.setActivity (-0.02f, 100.0); // the cut is over at once
    EXPECT_TRUE (meter.isShowing());
    EXPECT_EQ (meter.getHeldPeak(), -9.5f);
    meter.setActivity (-3.0f, 1000.0); // a smaller cut does not replace the held one
    EXPECT_EQ (meter.getHeldPeak(), -9.5f);
    meter.setActivity (4.0f, 1200.0); // nor does a smaller boost
    EXPECT_EQ (meter.getHeldPeak(), -9.5f);

    meter.setActivity (0.0f, 1600.0); // past the hold, with nothing happening: gone
    EXPECT_EQ (meter.getHeldPeak(), 0.0f);
    EXPECT_FALSE (meter.isShowing());
    EXPECT_EQ (meter.getValueText(), "0.0 dB");

    meter.setActivity (std::numeric_limits<float>::quiet_NaN(), 2000.0);
    EXPECT_FALSE (meter.isShowing());
}
