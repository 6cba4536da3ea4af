#include "helpers/TestHelpers.h"

#include <cmath>

namespace varnelle::test
{

std::unique_ptr<VarnelleAudioProcessor> makePreparedProcessor (int numChannels, double sampleRate,
                                                               int blockSize)
{
    auto processor = std::make_unique<VarnelleAudioProcessor>();
    const auto set = numChannels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (set);
    layout.outputBuses.add (set);
    processor->setBusesLayout (layout);
    processor->setRateAndBufferSizeDetails (sampleRate, blockSize);
    processor->prepareToPlay (sampleRate, blockSize);
    return processor;
}

void setParameter (VarnelleAudioProcessor& processor, const juce::String& id, float realValue)
{
    auto* parameter = processor.parameters.getParameter (id);
    jassert (parameter != nullptr);
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (realValue));
}

void processInBlocks (VarnelleAudioProcessor& processor, std::vector<std::vector<float>>& audio,
                      const std::vector<int>& blockSizes)
{
    const int numChannels = (int)audio.size();
    const int total = audio.empty() ? 0 : (int)audio[0].size();
    juce::MidiBuffer midi;

    int position = 0;
    size_t sizeIndex = 0;
    while (position < total)
    {
        const int n = juce::jmin (blockSizes[sizeIndex++ % blockSizes.size()], total - position);
        std::vector<float*> pointers;
        for (auto& channel : audio)
            pointers.push_back (channel.data() + position);
        juce::AudioBuffer<float> block (pointers.data(), numChannels, n);
        processor.processBlock (block, midi);
        position += n;
    }
}

std::vector<float> makeSine (double frequencyHz, double sampleRate, int numSamples, float amplitude)
{
    std::vector<float> out ((size_t)numSamples);
    for (int i = 0; i < numSamples; ++i)
        out[(size_t)i] = amplitude * (float)std::sin (2.0 * juce::MathConstants<double>::pi * frequencyHz *
                                                      i / sampleRate);
    return out;
}

std::vector<float> makeWhiteNoise (int numSamples, float amplitude, juce::int64 seed)
{
    juce::Random random (seed);
    std::vector<float> out ((size_t)numSamples);
    for (auto& x : out)
        x = amplitude * (random.nextFloat() * 2.0f - 1.0f);
    return out;
}

std::vector<float> makePinkNoise (int numSamples, float amplitude, juce::int64 seed)
{
    // Paul Kellet's economy filter: white noise shaped to about -3 dB per octave.
    juce::Random random (seed);
    std::vector<float> out ((size_t)numSamples);
    float b0 = 0, b1 = 0, b2 = 0;
    for (auto& x : out)
    {
        const float white = random.nextFloat() * 2.0f - 1.0f;
        b0 = 0.99765f * b0 + white * 0.0990460f;
        b1 = 0.96300f * b1 + white * 0.2965164f;
        b2 = 0.57000f * b2 + white * 1.0526913f;
        x = amplitude * 0.25f * (b0 + b1 + b2 + white * 0.1848f);
    }
    return out;
}

double rmsDb (const std::vector<float>& samples, int start, int end)
{
    double sum = 0.0;
    for (int i = start; i < end; ++i)
        sum += (double)samples[(size_t)i] * samples[(size_t)i];
    const double rms = std::sqrt (sum / juce::jmax (1, end - start));
    return 20.0 * std::log10 (rms + 1e-30);
}

juce::File createUniqueTemporaryFolder (const juce::String& prefix)
{
    const auto temp = juce::File::getSpecialLocation (juce::File::tempDirectory);
    for (int attempt = 0; attempt < 8; ++attempt)
    {
        const auto folder = temp.getChildFile (prefix + "-" + juce::Uuid().toString());
        if (!folder.exists() && folder.createDirectory().wasOk())
            return folder;
    }
    return {};
}

} // namespace varnelle::test
