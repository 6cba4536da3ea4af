#include "editor/PresetManager.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>

using varnelle::editor::PresetManager;

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int second = 48000;
constexpr int segment = 2 * second; // the material holds two segments, loud then quiet or back
constexpr int latency = 2048;

/** Sines at `frequencies` (whole hertz) with fixed random phases, `rmsDb` together. */
std::vector<float> makeTones (const std::vector<double>& frequencies, double rmsDb, int numSamples)
{
    const auto amplitude =
        juce::Decibels::decibelsToGain (rmsDb) * std::sqrt (2.0 / (double)frequencies.size());
    juce::Random random (7);
    std::vector<double> sum ((size_t)numSamples, 0.0);
    for (const auto f : frequencies)
    {
        const auto step = std::polar (1.0, juce::MathConstants<double>::twoPi * f / sampleRate);
        auto phasor = std::polar (amplitude, juce::MathConstants<double>::twoPi * random.nextDouble());
        for (auto& s : sum)
        {
            s += phasor.imag();
            phasor *= step;
        }
    }
    return {sum.begin(), sum.end()};
}

std::vector<double> hertzFromTo (double from, double to, double step)
{
    std::vector<double> frequencies;
    for (auto f = from; f <= to; f += step)
        frequencies.push_back (f);
    return frequencies;
}

/** `earlier` (segment 0) then `later` (segment 1), plus `under` (the whole length) if given. */
std::vector<float> segments (std::vector<float> earlier, const std::vector<float>& later,
                             const std::vector<float>& under = {})
{
    earlier.insert (earlier.end(), later.begin(), later.end());
    for (size_t i = 0; i < under.size(); ++i)
        earlier[i] += under[i];
    return earlier;
}

/** Pink noise at -30 dBFS RMS: the rest of a mix, under the material of each job. */
std::vector<float> makeBed()
{
    auto bed = varnelle::test::makePinkNoise (2 * segment, 1.0f, 3);
    const auto gain = juce::Decibels::decibelsToGain (-30.0 - varnelle::test::rmsDb (bed, 0, 2 * segment));
    for (auto& s : bed)
        s = (float)(s * gain);
    return bed;
}

std::vector<float> sine (double hertz, float amplitude, int numSamples = segment)
{
    return varnelle::test::makeSine (hertz, sampleRate, numSamples, amplitude);
}

/** The summed level of the tones at `frequencies` (whole hertz, so orthogonal over a second) in
    the second of `signal` that starts half a second into segment `segmentIndex`, in dB RMS. */
double tonesDb (const std::vector<float>& signal, int segmentIndex, const std::vector<double>& frequencies)
{
    const auto start = (size_t)(segmentIndex * segment + second / 2);
    double meanSquare = 0.0;
    for (const auto f : frequencies)
    {
        const auto step = std::polar (1.0, -juce::MathConstants<double>::twoPi * f / sampleRate);
        std::complex<double> phasor (1.0), sum (0.0);
        for (size_t i = start; i < start + (size_t)second; ++i)
        {
            sum += (double)signal[i] * phasor;
            phasor *= step;
        }
        meanSquare += 2.0 * std::norm (sum) / ((double)second * second);
    }
    return 10.0 * std::log10 (meanSquare + 1.0e-30);
}

/** How far each segment's tones at `frequencies` move, in dB, when `input` goes through a fresh
    mono processor at 48 kHz with factory preset `index` loaded (latency removed). */
std::array<double, 2> changeDb (int index, const std::vector<float>& input,
                                const std::vector<double>& frequencies)
{
    auto processor = varnelle::test::makePreparedProcessor (1, sampleRate);
    EXPECT_TRUE (PresetManager (*processor).loadFactoryPreset (index));

    std::vector<std::vector<float>> audio{input};
    audio[0].resize (input.size() + latency, 0.0f);
    varnelle::test::processInBlocks (*processor, audio, {512});
    audio[0].erase (audio[0].begin(), audio[0].begin() + latency);

    return {tonesDb (audio[0], 0, frequencies) - tonesDb (input, 0, frequencies),
            tonesDb (audio[0], 1, frequencies) - tonesDb (input, 1, frequencies)};
}

std::vector<float> parameterValues (juce::AudioProcessor& processor)
{
    std::vector<float> values;
    for (auto* parameter : processor.getParameters())
        values.push_back (parameter->getValue());
    return values;
}

} // namespace

TEST (FactoryPresets, EachLoadsFullyFromAnyStateAndRoundTripsThroughTheStateBlock)
{
    VarnelleAudioProcessor fresh;
    const auto defaults = parameterValues (fresh);
    juce::StringArray names;

    for (int i = 0; i < PresetManager::numFactoryPresets; ++i)
    {
        names.add (PresetManager::getFactoryPresetName (i));

        VarnelleAudioProcessor processor;
        PresetManager manager (processor);
        ASSERT_TRUE (manager.loadFactoryPreset (i));
        const auto loaded = parameterValues (processor);
        EXPECT_NE (loaded, defaults) << names[i];

        // Loaded over another preset's settings, it sets every parameter all the same.
        VarnelleAudioProcessor other;
        PresetManager otherManager (other);
        otherManager.loadFactoryPreset ((i + 1) % PresetManager::numFactoryPresets);
        varnelle::test::setParameter (other, "band3_gain", -30.0f);
        varnelle::test::setParameter (other, "band5_bypass", 1.0f);
        otherManager.loadFactoryPreset (i);
        EXPECT_EQ (parameterValues (other), loaded) << names[i];

        juce::MemoryBlock state;
        processor.getStateInformation (state);
        VarnelleAudioProcessor restored;
        restored.setStateInformation (state.getData(), (int)state.getSize());
        EXPECT_EQ (parameterValues (restored), loaded) << names[i];
    }

    EXPECT_EQ (names.joinIntoString ("|"),
               "Tame Harsh Peaks|Clear Low-Mid Build-Up|Lift Quiet Air|Soften Sibilance|Steady Low End");
    EXPECT_FALSE (PresetManager (fresh).loadFactoryPreset (PresetManager::numFactoryPresets));
    EXPECT_FALSE (PresetManager (fresh).loadFactoryPreset (-1));
    EXPECT_EQ (parameterValues (fresh), defaults);
}

// Each preset on material that shows its job: segment 0 then segment 1, 2 s each, measured
// after half a second of each. The rest of the signal (a 1 kHz tone) stays as it was.

TEST (FactoryPresets, TameHarshPeaksLowersALoud4kHzResonanceOnly)
{
    const auto change =
        changeDb (0, segments (sine (4000.0, 0.25f), sine (4000.0, 0.008f), makeBed()), {4000.0});
    EXPECT_LT (change[0], -4.0);       // loud (-12 dBFS peak)
    EXPECT_NEAR (change[1], 0.0, 0.3); // quiet (-42 dBFS peak)
}

TEST (FactoryPresets, ClearLowMidBuildUpLowersOnlyABuildUp)
{
    const auto lowMid = hertzFromTo (250.0, 400.0, 5.0);
    const auto change = changeDb (
        1, segments (std::vector<float> (segment), makeTones (lowMid, -18.0, segment), makeBed()), lowMid);
    EXPECT_NEAR (change[0], 0.0, 0.3); // the bed alone
    EXPECT_LT (change[1], -3.0);       // the bed with a build-up well above it
}

TEST (FactoryPresets, LiftQuietAirRaisesQuietHighDetailOnly)
{
    const auto air = hertzFromTo (9000.0, 14000.0, 20.0);
    const auto input = segments (makeTones (air, -50.0, segment), makeTones (air, -20.0, segment),
                                 sine (1000.0, 0.1f, 2 * segment));
    const auto change = changeDb (2, input, air);
    EXPECT_GT (change[0], 3.0);        // quiet (-50 dBFS)
    EXPECT_NEAR (change[1], 0.0, 0.3); // loud (-20 dBFS)
    EXPECT_NEAR (changeDb (2, input, {1000.0})[0], 0.0, 0.1);
}

TEST (FactoryPresets, SoftenSibilanceLowersLoudSibilanceOnly)
{
    const auto esses = hertzFromTo (5000.0, 9000.0, 20.0);
    const auto input = segments (makeTones (esses, -18.0, segment), makeTones (esses, -42.0, segment),
                                 sine (1000.0, 0.1f, 2 * segment));
    const auto change = changeDb (3, input, esses);
    EXPECT_LT (change[0], -5.0);       // loud (-18 dBFS)
    EXPECT_NEAR (change[1], 0.0, 0.3); // quiet (-42 dBFS)
    EXPECT_NEAR (changeDb (3, input, {1000.0})[0], 0.0, 0.1);
}

TEST (FactoryPresets, SteadyLowEndNarrowsTheSwingBetweenLoudAndQuietBass)
{
    const auto input = segments (sine (70.0, 0.4f), sine (70.0, 0.025f), sine (1000.0, 0.1f, 2 * segment));
    const auto change = changeDb (4, input, {70.0});
    EXPECT_LT (change[0], -3.0); // loud (-8 dBFS peak)
    EXPECT_GT (change[1], 2.0);  // quiet (-32 dBFS peak)
    EXPECT_NEAR (changeDb (4, input, {1000.0})[0], 0.0, 0.1);
}
