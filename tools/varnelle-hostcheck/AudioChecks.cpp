#include "AudioChecks.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace varnelle::hostcheck
{

Signal makeTestSignal (int numChannels, int numSamples, double sampleRate, juce::int64 seed)
{
    juce::Random random (seed);
    Signal signal ((size_t)numChannels, std::vector<float> ((size_t)numSamples, 0.0f));

    const int quietStart = numSamples * 5 / 8;
    const int silenceStart = numSamples * 6 / 8;
    const int loudAgain = numSamples * 7 / 8;

    for (int ch = 0; ch < numChannels; ++ch)
    {
        const double frequency = ch == 0 ? 997.0 : 3203.0;
        auto& samples = signal[(size_t)ch];

        for (int i = 0; i < numSamples; ++i)
        {
            const float noise = random.nextFloat() * 2.0f - 1.0f;
            const float sine =
                (float)std::sin (2.0 * juce::MathConstants<double>::pi * frequency * i / sampleRate);
            float value = 0.35f * noise + 0.5f * sine;

            if (i >= quietStart && i < silenceStart)
                value *= 1.0e-33f;
            else if (i >= silenceStart && i < loudAgain)
                value = 0.0f;

            samples[(size_t)i] = value;
        }
    }

    return signal;
}

BlockPlan fixedBlocks (int size)
{
    return [size] (juce::int64) { return size; };
}

BlockPlan randomBlocks (int maxSize, juce::int64 seed)
{
    auto random = std::make_shared<juce::Random> (seed);
    return [random, maxSize] (juce::int64) { return 1 + random->nextInt (maxSize); };
}

Signal processThrough (juce::AudioProcessor& plugin, const Signal& input, const BlockPlan& plan,
                       int maxBlockSize, const std::function<void (juce::int64, int)>& beforeBlock)
{
    const int numChannels = (int)input.size();
    const auto length = (juce::int64) (input.empty() ? 0 : input[0].size());
    const int bufferChannels =
        std::max ({numChannels, plugin.getTotalNumInputChannels(), plugin.getTotalNumOutputChannels()});

    Signal output ((size_t)numChannels, std::vector<float> ((size_t)length, 0.0f));
    juce::AudioBuffer<float> work (bufferChannels, maxBlockSize);
    juce::MidiBuffer midi;

    for (juce::int64 position = 0; position < length;)
    {
        const int size =
            (int)std::min<juce::int64> (std::clamp (plan (position), 1, maxBlockSize), length - position);

        // Input channels the signal does not fill (a key bus a host cannot switch off) hear the
        // signal itself: Varnelle Key, keyed by its own input, measures what Varnelle does.
        const int inputChannels = plugin.getTotalNumInputChannels();
        for (int ch = 0; ch < bufferChannels; ++ch)
        {
            if (ch < numChannels)
                std::copy_n (input[(size_t)ch].data() + position, size, work.getWritePointer (ch));
            else if (ch < inputChannels && numChannels > 0)
                std::copy_n (input[(size_t)((ch - numChannels) % numChannels)].data() + position, size,
                             work.getWritePointer (ch));
            else
                work.clear (ch, 0, size);
        }

        if (beforeBlock)
            beforeBlock (position, size);

        // Refers to the work buffer's channels; for up to 32 channels this allocates nothing.
        juce::AudioBuffer<float> block (work.getArrayOfWritePointers(), bufferChannels, size);
        midi.clear();
        plugin.processBlock (block, midi);

        for (int ch = 0; ch < numChannels; ++ch)
            std::copy_n (work.getReadPointer (ch), size, output[(size_t)ch].data() + position);

        position += size;
    }

    return output;
}

juce::String OutputStats::describeProblems() const
{
    juce::StringArray problems;
    if (nonFinite > 0)
        problems.add (juce::String (nonFinite) + " NaN/Inf samples");
    if (subnormal > 0)
        problems.add (juce::String (subnormal) + " subnormal samples");
    return problems.joinIntoString (", ");
}

OutputStats analyse (const Signal& output)
{
    OutputStats stats;

    for (const auto& channel : output)
    {
        for (const float v : channel)
        {
            const int kind = std::fpclassify (v);
            if (kind == FP_NAN || kind == FP_INFINITE)
                ++stats.nonFinite;
            else if (kind == FP_SUBNORMAL)
                ++stats.subnormal;
            else
                stats.peak = std::max (stats.peak, std::abs (v));
        }
    }

    return stats;
}

DelayComparison compareDelayed (const Signal& output, const Signal& input, int delay, int settle,
                                float tolerance)
{
    DelayComparison result;

    for (size_t ch = 0; ch < output.size() && ch < input.size(); ++ch)
    {
        const auto& out = output[ch];
        const auto& in = input[ch];

        for (size_t i = (size_t)(delay + settle); i < out.size() && i - (size_t)delay < in.size(); ++i)
        {
            const float error = std::abs (out[i] - in[i - (size_t)delay]);

            // A NaN compares false everywhere; count it as the worst error.
            if (!(error <= tolerance) && result.firstBadSample < 0)
            {
                result.firstBadSample = (juce::int64)i;
                result.badChannel = (int)ch;
            }

            if (!(error <= result.maxError))
                result.maxError = std::isfinite (error) ? error : std::numeric_limits<float>::infinity();
        }
    }

    return result;
}

bool writeFloatWav (const juce::File& file, const Signal& signal, double sampleRate, juce::String& error)
{
    file.deleteFile();
    auto stream = file.createOutputStream();
    if (stream == nullptr)
    {
        error = "cannot write " + file.getFullPathName();
        return false;
    }

    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (
        wav.createWriterFor (stream.get(), sampleRate, (unsigned int)signal.size(), 32, {}, 0));
    if (writer == nullptr)
    {
        error = "cannot create a float WAV writer";
        return false;
    }
    stream.release(); // owned by the writer now

    std::vector<const float*> channels;
    for (const auto& ch : signal)
        channels.push_back (ch.data());

    // 32-bit WAV writers take floats when the format is floating point.
    if (!writer->writeFromFloatArrays (channels.data(), (int)channels.size(), (int)signal[0].size()))
    {
        error = "cannot write the samples of " + file.getFullPathName();
        return false;
    }

    return true;
}

bool readWav (const juce::File& file, Signal& signal, double& sampleRate, juce::String& error)
{
    juce::WavAudioFormat wav;
    auto stream = file.createInputStream();
    std::unique_ptr<juce::AudioFormatReader> reader (
        stream != nullptr ? wav.createReaderFor (stream.release(), true) : nullptr);
    if (reader == nullptr)
    {
        error = "cannot read " + file.getFullPathName();
        return false;
    }

    const int numChannels = (int)reader->numChannels;
    const int length = (int)reader->lengthInSamples;
    juce::AudioBuffer<float> buffer (numChannels, length);
    if (!reader->read (&buffer, 0, length, 0, true, true))
    {
        error = "cannot read the samples of " + file.getFullPathName();
        return false;
    }

    signal.assign ((size_t)numChannels, std::vector<float> ((size_t)length));
    for (int ch = 0; ch < numChannels; ++ch)
        std::copy_n (buffer.getReadPointer (ch), length, signal[(size_t)ch].data());

    sampleRate = reader->sampleRate;
    return true;
}

} // namespace varnelle::hostcheck
