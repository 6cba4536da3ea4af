// The bands as a listener hears them: whole-processor renders of steady signals.

#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace varnelle;

namespace
{
constexpr double rate = 48000.0;
constexpr int length = 96000; // two seconds: every band has long settled in the second one

std::vector<float> renderMono (VarnelleAudioProcessor& processor, std::vector<float> input)
{
    std::vector<std::vector<float>> audio{std::move (input)};
    test::processInBlocks (processor, audio, {512});
    return audio[0];
}

/** dB change between input and output over the settled second half (output is 2048 late). */
double settledChangeDb (const std::vector<float>& input, const std::vector<float>& output)
{
    const int start = length / 2, end = length - 4096;
    std::vector<float> delayed (input.size(), 0.0f);
    for (size_t i = (size_t)latencySamples; i < input.size(); ++i)
        delayed[i] = input[i - (size_t)latencySamples];
    return test::rmsDb (output, start, end) - test::rmsDb (delayed, start, end);
}

double changeForSine (double frequencyHz, float amplitude,
                      const std::vector<std::pair<const char*, float>>& settings)
{
    auto processor = test::makePreparedProcessor (1, rate);
    for (const auto& [id, value] : settings)
        test::setParameter (*processor, id, value);
    const auto input = test::makeSine (frequencyHz, rate, length, amplitude);
    return settledChangeDb (input, renderMono (*processor, input));
}
} // namespace

TEST (BandBehaviour, ASineInsideABandTakesTheBandGainAndOthersPassUnchanged)
{
    EXPECT_NEAR (changeForSine (1000.0, 0.5f, {{"band3_gain", -12.0f}}), -12.0, 0.1);
    EXPECT_NEAR (changeForSine (1000.0, 0.5f, {{"band3_gain", 9.0f}}), 9.0, 0.1);
    EXPECT_NEAR (changeForSine (5000.0, 0.5f, {{"band3_gain", -12.0f}}), 0.0, 0.01);
    EXPECT_NEAR (changeForSine (80.0, 0.5f, {{"band3_gain", -12.0f}}), 0.0, 0.01);
}

TEST (BandBehaviour, ASineHalfAnEdgeRampOutsideTheBandGetsHalfTheLinearChange)
{
    // 1031.25 Hz sits on bin 44 at 48 kHz; the band starts 75 Hz above it, half-way up the
    // 150 Hz ramp, so the target gain is half-way between unity and the band gain.
    const float gainDb = -12.0f;
    const double halfway = 20.0 * std::log10 (1.0 + 0.5 * (std::pow (10.0, gainDb / 20.0) - 1.0));
    const double change =
        changeForSine (1031.25, 0.5f, {{"band3_freqLow", 1106.25f}, {"band3_gain", gainDb}});
    EXPECT_NEAR (change, halfway, 0.1);
}

TEST (BandBehaviour, TheLevelRangeDecidesWhichSignalsABandActsOn)
{
    // Only material between -40 and 0 dB is cut: a loud sine is, a quiet one is not.
    const std::vector<std::pair<const char*, float>> settings{{"band3_gain", -12.0f},
                                                              {"band3_levelMin", -40.0f}};
    EXPECT_NEAR (changeForSine (1000.0, 0.5f, settings), -12.0, 0.1);
    EXPECT_NEAR (changeForSine (1000.0, 0.005f, settings), 0.0, 0.01);

    // A soft lower knee acts gradually; the quiet sine ends up between the two.
    auto softer = settings;
    softer.push_back ({"band3_levelMin", -60.0f});
    softer.push_back ({"band3_lowerKneeDb", 24.0f});
    const double partial = changeForSine (1000.0, 0.005f, softer);
    EXPECT_LT (partial, -0.5);
    EXPECT_GT (partial, -11.5);
}

TEST (BandBehaviour, StereoChannelsAreNotLinked)
{
    auto processor = test::makePreparedProcessor (2, rate);
    test::setParameter (*processor, "band3_gain", -12.0f);
    test::setParameter (*processor, "band3_levelMin", -40.0f);
    const auto loud = test::makeSine (1000.0, rate, length, 0.5f);
    const auto quiet = test::makeSine (1000.0, rate, length, 0.005f);
    std::vector<std::vector<float>> audio{loud, quiet};
    test::processInBlocks (*processor, audio, {512});
    EXPECT_NEAR (settledChangeDb (loud, audio[0]), -12.0, 0.1);
    EXPECT_NEAR (settledChangeDb (quiet, audio[1]), 0.0, 0.01);
}

TEST (BandBehaviour, BypassingABandRestoresTheUnchangedSignal)
{
    const auto input = test::makePinkNoise (length, 0.5f, 21);
    auto unity = test::makePreparedProcessor (1, rate);
    const auto reference = renderMono (*unity, input);

    auto processor = test::makePreparedProcessor (1, rate);
    test::setParameter (*processor, "band3_gain", -20.0f);
    test::setParameter (*processor, "band3_releaseMs", 2500.0f);
    std::vector<std::vector<float>> audio{input};
    std::vector<float> first (input.begin(), input.begin() + length / 2);
    std::vector<float> second (input.begin() + length / 2, input.end());
    const auto out1 = renderMono (*processor, first);
    test::setParameter (*processor, "band3_bypass", 1.0f);
    const auto out2 = renderMono (*processor, second);

    // Band 3 holds about a fifth of the pink noise energy: cutting it lowers the level audibly.
    EXPECT_LT (test::rmsDb (out1, length / 4, length / 2),
               test::rmsDb (reference, length / 4, length / 2) - 0.5);
    // Once every frame that saw the cut has left the overlap-add, the output is bit-identical
    // to the unprocessed render: no release tail.
    for (int i = 2 * 2048; i < length / 2; ++i)
        ASSERT_EQ (out2[(size_t)i], reference[(size_t)(length / 2 + i)]) << i;
}

TEST (BandBehaviour, StrongBoostsDoNotBurstAtTheStart)
{
    auto processor = test::makePreparedProcessor (1, rate);
    test::setParameter (*processor, "band2_gain", 24.0f);
    test::setParameter (*processor, "band4_gain", 24.0f);
    test::setParameter (*processor, "band3_gain", -60.0f);
    for (const char* id : {"band2_attackMs", "band3_attackMs", "band4_attackMs"})
        test::setParameter (*processor, id, 1.0f);
    for (const char* id : {"band2_lookaheadMs", "band3_lookaheadMs", "band4_lookaheadMs"})
        test::setParameter (*processor, id, 0.0f);

    const auto input = test::makePinkNoise (length, 0.5f, 99);
    for (int pass = 0; pass < 2; ++pass)
    {
        const auto out = renderMono (*processor, input);
        float steadyPeak = 0.0f;
        for (int i = length / 2; i < length; ++i)
            steadyPeak = std::max (steadyPeak, std::abs (out[(size_t)i]));
        float startPeak = 0.0f;
        for (int i = 2048; i < 4096; ++i)
            startPeak = std::max (startPeak, std::abs (out[(size_t)i]));

        ASSERT_GT (steadyPeak, 0.0f);
        EXPECT_LE (startPeak, steadyPeak) << "pass " << pass;
        processor->releaseResources(); // the second pass starts from a reset, as at a transport start
    }
}
