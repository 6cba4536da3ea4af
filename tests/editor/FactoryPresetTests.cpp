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

double gainOf (double db)
{
    return std::pow (10.0, db / 20.0);
}

/** Sines at `frequencies` (whole hertz) with fixed random phases, `rmsDb` together. */
std::vector<float> makeTones (const std::vector<double>& frequencies, double rmsDb, int numSamples)
{
    const auto amplitude = gainOf (rmsDb) * std::sqrt (2.0 / (double)frequencies.size());
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

std::vector<float> concatenate (std::vector<float> a, const std::vector<float>& b)
{
    a.insert (a.end(), b.begin(), b.end());
    return a;
}

std::vector<float> mix (std::vector<float> a, const std::vector<float>& b)
{
    for (size_t i = 0; i < a.size(); ++i)
        a[i] += b[i];
    return a;
}

/** Pink noise at `rmsDb`, the bed that stands for the rest of a mix. */
std::vector<float> makeBed (double rmsDb, int numSamples)
{
    auto bed = varnelle::test::makePinkNoise (numSamples, 1.0f, 3);
    const auto scale = gainOf (rmsDb - varnelle::test::rmsDb (bed, 0, numSamples));
    for (auto& s : bed)
        s = (float)(s * scale);
    return bed;
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

/** `input` through a fresh mono processor at 48 kHz with factory preset `index` loaded, the
    latency removed so that the output lines up with the input. */
std::vector<float> renderWithFactoryPreset (int index, const std::vector<float>& input)
{
    auto processor = varnelle::test::makePreparedProcessor (1, sampleRate);
    PresetManager manager (*processor);
    EXPECT_TRUE (manager.loadFactoryPreset (index));

    std::vector<std::vector<float>> audio{input};
    audio[0].resize (input.size() + latency, 0.0f);
    varnelle::test::processInBlocks (*processor, audio, {512});
    return {audio[0].begin() + latency, audio[0].end()};
}

/** How far each segment's tones at `frequencies` moved, in dB (output minus input). */
std::array<double, 2> changeDb (int presetIndex, const std::vector<float>& input,
                                const std::vector<double>& frequencies)
{
    const auto output = renderWithFactoryPreset (presetIndex, input);
    return {tonesDb (output, 0, frequencies) - tonesDb (input, 0, frequencies),
            tonesDb (output, 1, frequencies) - tonesDb (input, 1, frequencies)};
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
// after half a second of each has passed.

TEST (FactoryPresets, TameHarshPeaksLowersALoud4kHzResonanceOnly)
{
    const auto resonance = concatenate (varnelle::test::makeSine (4000.0, sampleRate, segment, 0.25f),
                                        varnelle::test::makeSine (4000.0, sampleRate, segment, 0.008f));
    const auto input = mix (makeBed (-30.0, 2 * segment), resonance);

    const auto change = changeDb (0, input, {4000.0});
    EXPECT_LT (change[0], -4.0);       // loud (-12 dBFS peak)
    EXPECT_NEAR (change[1], 0.0, 0.3); // quiet (-42 dBFS peak)
}

TEST (FactoryPresets, ClearLowMidBuildUpLowersOnlyABuildUp)
{
    const auto lowMid = hertzFromTo (250.0, 400.0, 5.0);
    const auto bed = makeBed (-30.0, 2 * segment);
    const auto input =
        mix (bed, concatenate (std::vector<float> ((size_t)segment), makeTones (lowMid, -18.0, segment)));

    const auto change = changeDb (1, input, lowMid);
    EXPECT_NEAR (change[0], 0.0, 0.3); // the bed alone
    EXPECT_LT (change[1], -3.0);       // the bed with a build-up 12 dB above it
}

TEST (FactoryPresets, LiftQuietAirRaisesQuietHighDetailOnly)
{
    const auto air = hertzFromTo (9000.0, 14000.0, 20.0);
    const auto detail = concatenate (makeTones (air, -50.0, segment), makeTones (air, -20.0, segment));
    const auto input = mix (varnelle::test::makeSine (1000.0, sampleRate, 2 * segment, 0.1f), detail);

    const auto change = changeDb (2, input, air);
    EXPECT_GT (change[0], 3.0);        // quiet (-50 dBFS)
    EXPECT_NEAR (change[1], 0.0, 0.3); // loud (-20 dBFS)
    EXPECT_NEAR (changeDb (2, input, {1000.0})[0], 0.0, 0.1);
}

TEST (FactoryPresets, SoftenSibilanceLowersLoudSibilanceOnly)
{
    const auto sibilance = hertzFromTo (5000.0, 9000.0, 20.0);
    const auto esses =
        concatenate (makeTones (sibilance, -18.0, segment), makeTones (sibilance, -42.0, segment));
    const auto input = mix (varnelle::test::makeSine (1000.0, sampleRate, 2 * segment, 0.1f), esses);

    const auto change = changeDb (3, input, sibilance);
    EXPECT_LT (change[0], -5.0);       // loud (-18 dBFS)
    EXPECT_NEAR (change[1], 0.0, 0.3); // quiet (-42 dBFS)
    EXPECT_NEAR (changeDb (3, input, {1000.0})[0], 0.0, 0.1);
}

TEST (FactoryPresets, SteadyLowEndNarrowsTheSwingBetweenLoudAndQuietBass)
{
    const auto bass = concatenate (varnelle::test::makeSine (70.0, sampleRate, segment, 0.4f),
                                   varnelle::test::makeSine (70.0, sampleRate, segment, 0.025f));
    const auto input = mix (varnelle::test::makeSine (1000.0, sampleRate, 2 * segment, 0.1f), bass);

    const auto change = changeDb (4, input, {70.0});
    EXPECT_LT (change[0], -3.0); // loud (-8 dBFS peak)
    EXPECT_GT (change[1], 2.0);  // quiet (-32 dBFS peak)
    EXPECT_NEAR (changeDb (4, input, {1000.0})[0], 0.0, 0.1);
}
