// Varnelle Key: the bands measure the key, the gains go to the input.

#include "helpers/TestHelpers.h"

#include <juce_dsp/juce_dsp.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace varnelle;
using Variant = VarnelleAudioProcessor::Variant;

namespace
{
constexpr double rate = 48000.0;

juce::AudioProcessor::BusesLayout makeKeyedLayout (const juce::AudioChannelSet& main,
                                                   const juce::AudioChannelSet& key)
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (main);
    layout.inputBuses.add (key);
    layout.outputBuses.add (main);
    return layout;
}

std::unique_ptr<VarnelleAudioProcessor>
makeKeyedProcessor (const juce::AudioChannelSet& main, const juce::AudioChannelSet& key, int blockSize = 512)
{
    auto processor = std::make_unique<VarnelleAudioProcessor> (Variant::keyed);
    EXPECT_TRUE (processor->setBusesLayout (makeKeyedLayout (main, key)));
    processor->setRateAndBufferSizeDetails (rate, blockSize);
    processor->prepareToPlay (rate, blockSize);
    return processor;
}

// Band 3 (600-2500 Hz) cuts by 24 dB wherever its bins sound, quickly.
void cutBand3 (VarnelleAudioProcessor& processor)
{
    test::setParameter (processor, "band3_gain", -24.0f);
    test::setParameter (processor, "band3_attackMs", 1.0f);
    test::setParameter (processor, "band3_releaseMs", 10.0f);
}

// Main channels then key channels, as a host's buffer holds them; returns the main channels.
std::vector<std::vector<float>> processWithKey (VarnelleAudioProcessor& processor,
                                                std::vector<std::vector<float>> main,
                                                const std::vector<std::vector<float>>& key,
                                                int blockSize = 512)
{
    auto audio = main;
    audio.insert (audio.end(), key.begin(), key.end());
    test::processInBlocks (processor, audio, {blockSize, blockSize / 3, blockSize + 77});
    audio.resize (main.size());
    return audio;
}

// RMS in dB of samples [start, end) around `centreHz`, through two band-passes of Q 2 in a row.
double regionDb (const std::vector<float>& samples, int start, int end, double centreHz = 1500.0)
{
    const auto coefficients = juce::dsp::IIR::Coefficients<float>::makeBandPass (rate, centreHz, 2.0);
    juce::dsp::IIR::Filter<float> first (coefficients), second (coefficients);
    std::vector<float> filtered (samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        filtered[i] = second.processSample (first.processSample (samples[i]));
    return test::rmsDb (filtered, start, end);
}
} // namespace

TEST (VarnelleKey, IdentityAndBusesAsTheHostSeesThem)
{
    VarnelleAudioProcessor plain;
    VarnelleAudioProcessor keyed (Variant::keyed);
    EXPECT_EQ (plain.getName(), "Varnelle");
    EXPECT_EQ (keyed.getName(), "Varnelle Key");
    EXPECT_EQ (plain.getBusCount (true), 1);
    ASSERT_EQ (keyed.getBusCount (true), 2);
    EXPECT_EQ (keyed.getBus (true, 1)->getName(), "Key");
    EXPECT_FALSE (keyed.getBus (true, 1)->isEnabled()); // the host switches it on
    EXPECT_EQ (keyed.getLatencySamples(), 2048);
    EXPECT_EQ (keyed.getParameters().size(), plain.getParameters().size());

    const auto mono = juce::AudioChannelSet::mono();
    const auto stereo = juce::AudioChannelSet::stereo();
    const auto off = juce::AudioChannelSet::disabled();
    for (const auto& key : {off, mono, stereo})
    {
        EXPECT_TRUE (keyed.checkBusesLayoutSupported (makeKeyedLayout (stereo, key)));
        EXPECT_TRUE (keyed.checkBusesLayoutSupported (makeKeyedLayout (mono, key)));
    }
    EXPECT_FALSE (
        keyed.checkBusesLayoutSupported (makeKeyedLayout (stereo, juce::AudioChannelSet::create5point1())));
    auto mismatched = makeKeyedLayout (stereo, stereo);
    mismatched.outputBuses.getReference (0) = mono;
    EXPECT_FALSE (keyed.checkBusesLayoutSupported (mismatched));
}

// Without a key, or with the input as its own key, Varnelle Key is Varnelle, bit for bit: the
// key's frames are the input's frames, at the same moments.
TEST (VarnelleKey, WithoutAKeyOrKeyedByItsInputItIsVarnelle)
{
    const int n = 48000;
    const std::vector<std::vector<float>> input{test::makePinkNoise (n, 0.3f, 1),
                                                test::makePinkNoise (n, 0.3f, 2)};

    // A narrow level range around the noise's bin levels, so that most bins cross its edges and
    // any other measurement would show.
    const auto narrowCut = [] (VarnelleAudioProcessor& processor)
    {
        cutBand3 (processor);
        test::setParameter (processor, "band3_levelMin", -50.0f);
        test::setParameter (processor, "band3_levelMax", -44.0f);
    };
    auto plain = test::makePreparedProcessor (2, rate);
    narrowCut (*plain);
    auto expected = input;
    test::processInBlocks (*plain, expected, {512, 512 / 3, 512 + 77});

    auto keyOff = makeKeyedProcessor (juce::AudioChannelSet::stereo(), juce::AudioChannelSet::disabled());
    narrowCut (*keyOff);
    EXPECT_EQ (processWithKey (*keyOff, input, {}), expected);
    EXPECT_EQ (keyOff->getKeyStatus(), VarnelleAudioProcessor::KeyStatus::none);

    auto selfKeyed = makeKeyedProcessor (juce::AudioChannelSet::stereo(), juce::AudioChannelSet::stereo());
    narrowCut (*selfKeyed);
    EXPECT_EQ (processWithKey (*selfKeyed, input, input), expected);

    // The channels' keys swapped: another measurement, another sound.
    auto swapped = makeKeyedProcessor (juce::AudioChannelSet::stereo(), juce::AudioChannelSet::stereo());
    narrowCut (*swapped);
    EXPECT_NE (processWithKey (*swapped, input, {input[1], input[0]}), expected);
}

// Key channel c decides for channel c; a mono key decides for both.
TEST (VarnelleKey, EachKeyChannelDecidesForItsOwnChannel)
{
    const int n = 48000;
    const std::vector<std::vector<float>> input{test::makeWhiteNoise (n, 0.3f, 1),
                                                test::makeWhiteNoise (n, 0.3f, 2)};
    const auto burst = test::makeWhiteNoise (n, 0.3f, 3);
    const std::vector<float> silence ((size_t)n, 0.0f);
    const auto changeDb = [&] (const std::vector<std::vector<float>>& out, int ch)
    {
        const auto& in = input[(size_t)ch];
        std::vector<float> delayed ((size_t)n, 0.0f);
        std::copy (in.begin(), in.end() - 2048, delayed.begin() + 2048);
        return regionDb (out[(size_t)ch], n / 2, n) - regionDb (delayed, n / 2, n);
    };

    auto stereoKey = makeKeyedProcessor (juce::AudioChannelSet::stereo(), juce::AudioChannelSet::stereo());
    cutBand3 (*stereoKey);
    const auto leftKeyed = processWithKey (*stereoKey, input, {burst, silence});
    EXPECT_LT (changeDb (leftKeyed, 0), -12.0);
    EXPECT_NEAR (changeDb (leftKeyed, 1), 0.0, 0.05);

    auto monoKey = makeKeyedProcessor (juce::AudioChannelSet::stereo(), juce::AudioChannelSet::mono());
    cutBand3 (*monoKey);
    const auto bothKeyed = processWithKey (*monoKey, input, {burst});
    EXPECT_LT (changeDb (bothKeyed, 0), -12.0);
    EXPECT_LT (changeDb (bothKeyed, 1), -12.0);
}

// Steady noise keyed by a burst of other noise: the band takes its region down while the burst
// sounds (2048 samples later, the latency), and leaves everything as it is otherwise.
TEST (VarnelleKey, TheKeyDecidesWhereAndWhenTheBandActs)
{
    const int n = 4 * 48000;
    const auto noise = test::makeWhiteNoise (n, 0.3f, 7);
    auto burst = test::makeWhiteNoise (n, 0.3f, 8);
    for (int i = 0; i < n; ++i)
        if (i < n / 4 || i >= n / 2)
            burst[(size_t)i] = 0.0f;

    auto processor = makeKeyedProcessor (juce::AudioChannelSet::mono(), juce::AudioChannelSet::mono());
    cutBand3 (*processor);
    const auto out = processWithKey (*processor, {noise}, {burst})[0];

    std::vector<float> delayed ((size_t)n, 0.0f);
    std::copy (noise.begin(), noise.end() - 2048, delayed.begin() + 2048);
    const int settle = 4800; // 100 ms: the frames reach over 43 ms, the release takes 10 ms
    const auto change = [&] (int from, int to, double hz = 1500.0)
    { return regionDb (out, from, to, hz) - regionDb (delayed, from, to, hz); };
    EXPECT_LT (change (n / 4 + 2048 + settle, n / 2 + 2048), -12.0);
    EXPECT_NEAR (change (n / 4 + 2048 + settle, n / 2 + 2048, 12000.0), 0.0, 0.05);
    // A frame reaches 2048 samples to either side of an output sample.
    EXPECT_NEAR (change (settle + 2048, n / 4 - settle), 0.0, 0.05);
    EXPECT_NEAR (change (n / 2 + 4096 + settle, n), 0.0, 0.05);
}

// A silent key, or one made of NaN and infinities, leaves the input unchanged; a mono input
// with a stereo key hears the mean of the key's channels.
TEST (VarnelleKey, SilentOrNonFiniteKeysChangeNothingAndStereoKeysMixForMonoInputs)
{
    const int n = 30000;
    const auto input = test::makeWhiteNoise (n, 0.3f, 3);
    const auto tone = test::makeSine (1000.0, rate, n, 0.25f);

    const auto render = [&] (const std::vector<std::vector<float>>& key)
    {
        auto processor = makeKeyedProcessor (juce::AudioChannelSet::mono(),
                                             key.size() == 2 ? juce::AudioChannelSet::stereo()
                                                             : juce::AudioChannelSet::mono());
        cutBand3 (*processor);
        return processWithKey (*processor, {input}, key)[0];
    };

    auto unity = test::makePreparedProcessor (1, rate);
    std::vector<std::vector<float>> expected{input};
    test::processInBlocks (*unity, expected, {512, 512 / 3, 512 + 77});

    std::vector<float> nonFinite ((size_t)n, std::numeric_limits<float>::quiet_NaN());
    for (size_t i = 0; i < nonFinite.size(); i += 3)
        nonFinite[i] = std::numeric_limits<float>::infinity();
    EXPECT_EQ (render ({std::vector<float> ((size_t)n, 0.0f)}), expected[0]);
    EXPECT_EQ (render ({nonFinite}), expected[0]);

    std::vector<float> doubled (tone.size());
    for (size_t i = 0; i < tone.size(); ++i)
        doubled[i] = 2.0f * tone[i];
    const auto keyedByTone = render ({tone});
    EXPECT_NE (keyedByTone, expected[0]);
    EXPECT_EQ (render ({doubled, std::vector<float> ((size_t)n, 0.0f)}), keyedByTone);
    EXPECT_EQ (render ({tone, nonFinite}), render ({std::vector<float> (tone.size()), tone}));
}

// While the input is silent the key still moves the gains, so that the input's return meets
// the gains the key asked for: skipping silent frames changes no output sample.
TEST (VarnelleKey, AKeyOverSilentInputIsHonouredAsWithoutSkipping)
{
    const int n = 6 * 16384;
    auto input = test::makeWhiteNoise (n, 0.3f, 5);
    auto key = test::makeWhiteNoise (n, 0.3f, 6);
    for (int i = 0; i < n; ++i)
    {
        if ((i / 16384) % 2 == 1) // long silences in the input
            input[(size_t)i] = 0.0f;
        if ((i / 12000) % 3 == 1) // and in the key, ending while the input is silent
            key[(size_t)i] = 0.0f;
    }

    VarnelleAudioProcessor holder; // owns the parameters the engines read
    test::setParameter (holder, "band3_gain", -24.0f);
    test::setParameter (holder, "band3_attackMs", 1.0f);
    const auto& params = holder.getBandParams();
    const auto run = [&] (bool skip)
    {
        StftEngine engine (params, nullptr);
        engine.prepare (rate, 1);
        engine.setSkipsSilence (skip);
        auto samples = input;
        for (int done = 0; done < n; done += 1000)
        {
            const int count = std::min (1000, n - done);
            engine.processChannel (0, samples.data() + done, count, key.data() + done);
        }
        return samples;
    };
    const auto skipping = run (true);
    EXPECT_EQ (skipping, run (false));
    EXPECT_LT (regionDb (skipping, 40000, 50000), regionDb (input, 40000 - 2048, 50000 - 2048) - 10.0);
}

TEST (VarnelleKey, SaysWhenTheKeyHasBeenSilentForASecond)
{
    auto processor = makeKeyedProcessor (juce::AudioChannelSet::stereo(), juce::AudioChannelSet::mono());
    const auto status = [&] (float keyValue, int samples)
    {
        processWithKey (
            *processor,
            {std::vector<float> ((size_t)samples, 0.1f), std::vector<float> ((size_t)samples, 0.1f)},
            {std::vector<float> ((size_t)samples, keyValue)});
        return processor->getKeyStatus();
    };
    using Status = VarnelleAudioProcessor::KeyStatus;
    EXPECT_EQ (status (0.5f, 1000), Status::sounding);
    EXPECT_EQ (status (0.0f, 47000), Status::sounding);
    EXPECT_EQ (status (0.0f, 1000), Status::silent);
    EXPECT_EQ (status (0.5f, 10), Status::sounding);

    auto plain = test::makePreparedProcessor (2, rate);
    std::vector<std::vector<float>> audio (2, std::vector<float> (48000 * 2, 0.0f));
    test::processInBlocks (*plain, audio, {512});
    EXPECT_EQ (plain->getKeyStatus(), Status::none);
}
