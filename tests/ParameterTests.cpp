#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

using namespace varnelle;

namespace
{
juce::RangedAudioParameter* parameterAt (VarnelleAudioProcessor& processor, int index)
{
    return dynamic_cast<juce::RangedAudioParameter*> (processor.getParameters()[index]);
}

float valueOf (VarnelleAudioProcessor& processor, const juce::String& id)
{
    return processor.parameters.getRawParameterValue (id)->load();
}
} // namespace

TEST (BandParameters, HostSeesFiftyFiveParametersInBandThenSlotOrder)
{
    VarnelleAudioProcessor processor;
    const auto& params = processor.getParameters();
    ASSERT_EQ (params.size(), 55);

    const char* slotNames[] = {"freqLow",   "freqHigh",    "levelMin",    "levelMax",    "gain",  "attackMs",
                               "releaseMs", "lookaheadMs", "upperKneeDb", "lowerKneeDb", "bypass"};
    const char* suffixes[] = {" Frequency Low", " Frequency High", " Level Min", " Level Max",
                              " Gain",          " Attack",         " Release",   " Lookahead",
                              " Upper Knee",    " Lower Knee",     " Bypass"};

    for (int band = 1; band <= 5; ++band)
    {
        for (int slot = 0; slot < 11; ++slot)
        {
            auto* p = parameterAt (processor, (band - 1) * 11 + slot);
            ASSERT_NE (p, nullptr);
            EXPECT_EQ (p->paramID, "band" + juce::String (band) + "_" + slotNames[slot]);
            EXPECT_EQ (p->getName (100), "Band " + juce::String (band) + suffixes[slot]);
            EXPECT_TRUE (p->isAutomatable());
            EXPECT_FALSE (p->isMetaParameter());
            EXPECT_EQ (p->getLabel(), "");
            EXPECT_EQ (p->getVersionHint(), 1);
            if (slot == 10)
                EXPECT_NE (dynamic_cast<juce::AudioParameterBool*> (p), nullptr);
            else
                EXPECT_NE (dynamic_cast<juce::AudioParameterFloat*> (p), nullptr);
        }
    }

    EXPECT_EQ (parameterAt (processor, 0)->paramID, "band1_freqLow");
    EXPECT_EQ (parameterAt (processor, 10)->getName (100), "Band 1 Bypass");
    EXPECT_EQ (parameterAt (processor, 11)->paramID, "band2_freqLow");
    EXPECT_EQ (parameterAt (processor, 54)->getName (100), "Band 5 Bypass");
    EXPECT_NE (processor.parameters.getParameter ("band2_upperKneeDb"), nullptr);
    EXPECT_EQ (processor.parameters.getParameter ("Band2_upperKneeDb"), nullptr);
    EXPECT_EQ (processor.parameters.getParameter ("band_2_upperKneeDb"), nullptr);
}

TEST (BandParameters, DefaultsTileTheSpectrumAndLeaveTheSignalAlone)
{
    VarnelleAudioProcessor processor;
    const float edges[] = {20, 120, 600, 2500, 7000, 20000};
    for (int band = 1; band <= 5; ++band)
    {
        const juce::String b = "band" + juce::String (band) + "_";
        EXPECT_FLOAT_EQ (valueOf (processor, b + "freqLow"), edges[band - 1]);
        EXPECT_FLOAT_EQ (valueOf (processor, b + "freqHigh"), edges[band]);
        EXPECT_FLOAT_EQ (valueOf (processor, b + "levelMin"), -80.0f);
        EXPECT_FLOAT_EQ (valueOf (processor, b + "levelMax"), 0.0f);
        EXPECT_FLOAT_EQ (valueOf (processor, b + "gain"), 0.0f);
        EXPECT_FLOAT_EQ (valueOf (processor, b + "attackMs"), 25.0f);
        EXPECT_FLOAT_EQ (valueOf (processor, b + "releaseMs"), 250.0f);
        EXPECT_FLOAT_EQ (valueOf (processor, b + "lookaheadMs"), 10.0f);
        EXPECT_FLOAT_EQ (valueOf (processor, b + "upperKneeDb"), 0.0f);
        EXPECT_FLOAT_EQ (valueOf (processor, b + "lowerKneeDb"), 0.0f);
        EXPECT_FLOAT_EQ (valueOf (processor, b + "bypass"), 0.0f);
    }
}

TEST (BandParameters, RangesIntervalsAndTheFrequencySkew)
{
    VarnelleAudioProcessor processor;

    struct Expected
    {
        const char* slot;
        float start, end, interval;
    };
    const Expected linear[] = {{"levelMin", -80, 0, 0.1f},    {"levelMax", -80, 0, 0.1f},
                               {"gain", -60, 24, 0.1f},       {"attackMs", 1, 300, 0.1f},
                               {"releaseMs", 10, 2500, 0.1f}, {"lookaheadMs", 0, 20, 0.1f},
                               {"upperKneeDb", 0, 24, 0.1f},  {"lowerKneeDb", 0, 24, 0.1f}};

    for (int band = 1; band <= 5; ++band)
    {
        for (const auto& e : linear)
        {
            auto* p = processor.parameters.getParameter ("band" + juce::String (band) + "_" + e.slot);
            const auto& range = p->getNormalisableRange();
            EXPECT_FLOAT_EQ (range.start, e.start) << e.slot;
            EXPECT_FLOAT_EQ (range.end, e.end) << e.slot;
            EXPECT_FLOAT_EQ (range.interval, e.interval) << e.slot;
            EXPECT_FLOAT_EQ (range.skew, 1.0f) << e.slot;
        }

        for (const char* slot : {"freqLow", "freqHigh"})
        {
            auto* p = processor.parameters.getParameter ("band" + juce::String (band) + "_" + slot);
            const auto& range = p->getNormalisableRange();
            EXPECT_FLOAT_EQ (range.start, 20.0f);
            EXPECT_FLOAT_EQ (range.end, 20000.0f);
            EXPECT_FLOAT_EQ (range.interval, 0.0f);
            EXPECT_NEAR (range.skew, 0.2299045f, 1e-6f);
        }
    }

    const auto& freq = processor.parameters.getParameter ("band1_freqLow")->getNormalisableRange();
    EXPECT_NEAR (freq.convertFrom0to1 (0.5f), 1000.0f, 0.05f);
    EXPECT_FLOAT_EQ (freq.convertFrom0to1 (0.0f), 20.0f);
    EXPECT_FLOAT_EQ (freq.convertFrom0to1 (1.0f), 20000.0f);
    EXPECT_NEAR (freq.convertTo0to1 (120.0f), 0.2959f, 1e-4f);
    EXPECT_NEAR (freq.convertTo0to1 (600.0f), 0.4432f, 1e-4f);
    EXPECT_NEAR (freq.convertTo0to1 (2500.0f), 0.6190f, 1e-4f);
    EXPECT_NEAR (freq.convertTo0to1 (7000.0f), 0.7852f, 1e-4f);

    // Hosts show plain numbers: seven decimals for continuous ranges, one for 0.1 steps.
    EXPECT_EQ (processor.parameters.getParameter ("band1_gain")->getCurrentValueAsText(), "0.0");
    EXPECT_EQ (processor.parameters.getParameter ("band1_freqLow")->getCurrentValueAsText(), "20.0000000");
}

TEST (BandParameters, OfferedValuesAreLimitedAndSnappedButPairsStayIndependent)
{
    VarnelleAudioProcessor processor;
    test::setParameter (processor, "band1_attackMs", 0.5f);
    EXPECT_FLOAT_EQ (valueOf (processor, "band1_attackMs"), 1.0f);
    test::setParameter (processor, "band1_releaseMs", 3000.0f);
    EXPECT_FLOAT_EQ (valueOf (processor, "band1_releaseMs"), 2500.0f);
    test::setParameter (processor, "band1_gain", 3.04f);
    EXPECT_NEAR (valueOf (processor, "band1_gain"), 3.0f, 1e-5f);

    test::setParameter (processor, "band1_freqLow", 5000.0f);
    EXPECT_NEAR (valueOf (processor, "band1_freqLow"), 5000.0f, 0.01f);
    EXPECT_FLOAT_EQ (valueOf (processor, "band1_freqHigh"), 120.0f);

    test::setParameter (processor, "band2_levelMin", -3.0f);
    test::setParameter (processor, "band2_levelMax", -40.0f);
    EXPECT_NEAR (valueOf (processor, "band2_levelMin"), -3.0f, 1e-5f);
    EXPECT_NEAR (valueOf (processor, "band2_levelMax"), -40.0f, 1e-5f);
}

TEST (BandParameters, CachedPointersAreTheLiveValues)
{
    VarnelleAudioProcessor processor;
    const auto& table = processor.getBandParams();
    for (int band = 0; band < numBands; ++band)
    {
        for (int slot = 0; slot < paramsPerBand; ++slot)
        {
            const auto id = getBandParameterId (band, static_cast<BandParam> (slot));
            auto* pointer = table[(size_t)band][(size_t)slot];
            ASSERT_NE (pointer, nullptr) << id;
            EXPECT_EQ (pointer, processor.parameters.getRawParameterValue (id)) << id;
        }
    }

    test::setParameter (processor, "band4_releaseMs", 1234.5f);
    EXPECT_NEAR (table[3][(size_t)slotIndex (BandParam::releaseMs)]->load(), 1234.5f, 1e-3f);
    test::setParameter (processor, "band5_bypass", 1.0f);
    EXPECT_FLOAT_EQ (table[4][(size_t)slotIndex (BandParam::bypass)]->load(), 1.0f);
}
