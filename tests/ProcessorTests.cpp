#include "editor/VarnelleAudioProcessorEditor.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

using namespace varnelle;

namespace
{
juce::AudioProcessor::BusesLayout makeLayout (const juce::AudioChannelSet& in,
                                              const juce::AudioChannelSet& out)
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (in);
    layout.outputBuses.add (out);
    return layout;
}
} // namespace

TEST (ProcessorCore, IdentityAsTheHostSeesIt)
{
    VarnelleAudioProcessor processor;
    EXPECT_EQ (processor.getName(), "Varnelle");
    EXPECT_EQ (processor.getNumPrograms(), 1);
    EXPECT_EQ (processor.getCurrentProgram(), 0);
    EXPECT_EQ (processor.getProgramName (0), "");
    EXPECT_EQ (processor.getProgramName (5), "");
    EXPECT_EQ (processor.getTailLengthSeconds(), 0.0);
    EXPECT_FALSE (processor.acceptsMidi());
    EXPECT_FALSE (processor.producesMidi());
    EXPECT_TRUE (processor.hasEditor());
    EXPECT_EQ (processor.getLatencySamples(), 2048);
    EXPECT_EQ (processor.getCurrentSampleRate(), 44100.0);

    EXPECT_STREQ (JucePlugin_Name, "Varnelle");
    EXPECT_STREQ (JucePlugin_Manufacturer, "Quorvane Audio");
    EXPECT_STREQ (JucePlugin_VersionString, "1.2.0");
    EXPECT_EQ (JucePlugin_VersionCode, 0x010200);
    EXPECT_EQ (JucePlugin_ManufacturerCode, 0x4D616E75);
    EXPECT_EQ (JucePlugin_PluginCode, 0x56524E4C);
    EXPECT_EQ (JucePlugin_AAXCategory, 2);

    ASSERT_EQ (processor.getBusCount (true), 1);
    ASSERT_EQ (processor.getBusCount (false), 1);
    EXPECT_EQ (processor.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (processor.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (processor.getTotalNumInputChannels(), 2);
    EXPECT_EQ (processor.getTotalNumOutputChannels(), 2);
}

TEST (ProcessorCore, AcceptsOnlyMatchingMonoOrStereoLayouts)
{
    VarnelleAudioProcessor processor;
    const auto mono = juce::AudioChannelSet::mono();
    const auto stereo = juce::AudioChannelSet::stereo();
    const auto surround = juce::AudioChannelSet::create5point1();
    const auto disabled = juce::AudioChannelSet::disabled();

    EXPECT_TRUE (processor.checkBusesLayoutSupported (makeLayout (mono, mono)));
    EXPECT_TRUE (processor.checkBusesLayoutSupported (makeLayout (stereo, stereo)));
    EXPECT_FALSE (processor.checkBusesLayoutSupported (makeLayout (mono, stereo)));
    EXPECT_FALSE (processor.checkBusesLayoutSupported (makeLayout (stereo, mono)));
    EXPECT_FALSE (processor.checkBusesLayoutSupported (makeLayout (stereo, disabled)));
    EXPECT_FALSE (processor.checkBusesLayoutSupported (makeLayout (disabled, disabled)));
    EXPECT_FALSE (processor.checkBusesLayoutSupported (makeLayout (surround, surround)));
}

TEST (ProcessorCore, PrepareStoresTheRateAndReportsTheLatencyAgain)
{
    VarnelleAudioProcessor processor;
    processor.setLatencySamples (0);
    processor.prepareToPlay (0.0, 512);
    EXPECT_EQ (processor.getCurrentSampleRate(), 44100.0);
    EXPECT_EQ (processor.getLatencySamples(), 2048);

    processor.prepareToPlay (-1.0, 512);
    EXPECT_EQ (processor.getCurrentSampleRate(), 44100.0);

    processor.prepareToPlay (48000.0, 512);
    EXPECT_EQ (processor.getCurrentSampleRate(), 48000.0);
    EXPECT_EQ (processor.getEngine().getNumChannels(), 2);

    const auto& window = processor.getEngine().getAnalysisWindow();
    ASSERT_EQ (window.size(), 2048u);
    EXPECT_EQ (window[0], 0.0f);
    EXPECT_EQ (window[2047], 0.0f);
    EXPECT_NEAR (window[1023], 1.0f, 1e-6f);
    EXPECT_NEAR (window[100], window[1947], 1e-6f); // symmetric up to single-precision rounding
}

TEST (ProcessorCore, CreatesItsOwnEditor)
{
    VarnelleAudioProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());
    ASSERT_NE (dynamic_cast<VarnelleAudioProcessorEditor*> (editor.get()), nullptr);
    EXPECT_EQ (editor->getWidth(), 1140);
    EXPECT_EQ (editor->getHeight(), 760);
}

TEST (ProcessorCore, ProcessBlockBeforePrepareIsSilentAndSafe)
{
    VarnelleAudioProcessor processor;
    juce::AudioBuffer<float> buffer (2, 256);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 256; ++i)
            buffer.setSample (ch, i, 0.5f);
    juce::MidiBuffer midi;
    processor.processBlock (buffer, midi);
    EXPECT_EQ (buffer.getMagnitude (0, 256), 0.0f);

    // Once prepared, the same processor works normally.
    processor.prepareToPlay (44100.0, 256);
    std::vector<std::vector<float>> audio{test::makeSine (440.0, 44100.0, 8192),
                                          test::makeSine (440.0, 44100.0, 8192)};
    const auto input = audio[0];
    test::processInBlocks (processor, audio, {256});
    EXPECT_NEAR (audio[0][6000], input[6000 - 2048], 1e-5f);
}

TEST (ProcessorCore, MoreInputChannelsThanPreparedGrowsTheRecords)
{
    auto processor = test::makePreparedProcessor (1, 44100.0);
    ASSERT_EQ (processor->getEngine().getNumChannels(), 1);

    // The host switches to stereo without preparing again.
    processor->setBusesLayout (makeLayout (juce::AudioChannelSet::stereo(), juce::AudioChannelSet::stereo()));

    const int n = 8192;
    std::vector<std::vector<float>> audio{test::makeSine (300.0, 44100.0, n),
                                          test::makeSine (1700.0, 44100.0, n)};
    const auto input = audio;
    test::processInBlocks (*processor, audio, {512});
    EXPECT_EQ (processor->getEngine().getNumChannels(), 2);

    for (int ch = 0; ch < 2; ++ch)
    {
        for (int i = 0; i < 2048; ++i)
            ASSERT_EQ (audio[(size_t)ch][(size_t)i], 0.0f);
        for (int i = 4096; i < n; ++i)
            ASSERT_NEAR (audio[(size_t)ch][(size_t)i], input[(size_t)ch][(size_t)(i - 2048)], 1e-5f);
    }
}

TEST (ProcessorCore, MidiIsLeftUntouched)
{
    auto processor = test::makePreparedProcessor (2);
    juce::AudioBuffer<float> buffer (2, 64);
    buffer.clear();
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, 0.5f), 3);
    processor->processBlock (buffer, midi);
    EXPECT_EQ (midi.getNumEvents(), 1);
}

TEST (ProcessorCore, HostBypassDelaysTheInputExactlyAndKeepsTheEngineCurrent)
{
    // The host still compensates 2048 samples while it bypasses the plug-in, and must not hear
    // audio from before the bypass when it switches back. Noise until `silenceFrom`, then
    // silence; bypassed from around `bypassFrom` to around `bypassUntil`, switched at the
    // start of blocks of odd sizes.
    constexpr int total = 90000, silenceFrom = 40000, bypassFrom = 20000, bypassUntil = 60000;
    const std::vector<int> blockSizes{317, 1001, 64, 1, 773};
    const int crossfade = 480; // 10 ms at 48 kHz

    VarnelleAudioProcessor processor;
    processor.setRateAndBufferSizeDetails (48000.0, 1001);
    processor.prepareToPlay (48000.0, 1001);
    test::setParameter (processor, "band2_gain", 12.0f);
    test::setParameter (processor, "band3_gain", -30.0f);
    test::setParameter (processor, "band4_gain", -12.0f);

    std::vector<std::vector<float>> input{test::makeWhiteNoise (total, 0.5f, 1),
                                          test::makeWhiteNoise (total, 0.5f, 2)};
    for (auto& channel : input)
        std::fill (channel.begin() + silenceFrom, channel.end(), 0.0f);

    auto output = input;
    juce::MidiBuffer midi;
    int bypassedFrom = -1, bypassedUntil = -1;
    for (int start = 0, block = 0; start < total; ++block)
    {
        const int n = std::min (blockSizes[(size_t)block % blockSizes.size()], total - start);
        float* channels[] = {output[0].data() + start, output[1].data() + start};
        juce::AudioBuffer<float> buffer (channels, 2, n);
        const bool bypassed = start >= bypassFrom && start < bypassUntil;
        if (bypassed)
        {
            bypassedFrom = bypassedFrom < 0 ? start : bypassedFrom;
            processor.processBlockBypassed (buffer, midi);
        }
        else
        {
            bypassedUntil = bypassedFrom >= 0 && bypassedUntil < 0 ? start : bypassedUntil;
            processor.processBlock (buffer, midi);
        }
        start += n;
    }
    ASSERT_GT (bypassedFrom, 0);
    ASSERT_GT (bypassedUntil, bypassedFrom);

    for (size_t ch = 0; ch < 2; ++ch)
    {
        for (int i = bypassedFrom + crossfade; i < bypassedUntil; ++i)
            ASSERT_EQ (output[ch][(size_t)i], input[ch][(size_t)(i - latencySamples)])
                << "channel " << ch << ", sample " << i;

        // The engine heard the silence while bypassed: nothing from before comes back.
        for (int i = bypassedUntil; i < total; ++i)
            ASSERT_EQ (output[ch][(size_t)i], 0.0f) << "channel " << ch << ", sample " << i;

        // The processed sound before the bypass really differs from the delayed input.
        double difference = 0.0;
        for (int i = bypassedFrom - 4000; i < bypassedFrom; ++i)
            difference += std::abs (output[ch][(size_t)i] - input[ch][(size_t)(i - latencySamples)]);
        EXPECT_GT (difference / 4000.0, 0.05);
    }
}
