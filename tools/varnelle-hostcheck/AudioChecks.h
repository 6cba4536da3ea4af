#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>
#include <vector>

// Signals, block plans and output analysis shared by the processing checks.
namespace varnelle::hostcheck
{

using Signal = std::vector<std::vector<float>>; // [channel][sample]

/** A test signal: noise and a sine per channel, with a quiet stretch (values far below 1e-30,
    where careless arithmetic turns subnormal) and a stretch of silence in the second half. */
Signal makeTestSignal (int numChannels, int numSamples, double sampleRate, juce::int64 seed);

/** Length of the next block, given how many samples have been processed so far. */
using BlockPlan = std::function<int (juce::int64 position)>;

BlockPlan fixedBlocks (int size);

/** Sizes drawn from 1..maxSize (a fixed sequence per seed); the plan owns its generator. */
BlockPlan randomBlocks (int maxSize, juce::int64 seed);

/** Runs `input` through `plugin` in place, block by block, with one buffer allocated up front.
    `beforeBlock` (if set) runs before every block with the block's start and length. The
    plug-in must be prepared for the signal's channel count; input channels beyond the
    signal's (a key bus that cannot be switched off) get the signal's channels again. Calling thread = audio
   thread. */
Signal processThrough (juce::AudioProcessor& plugin, const Signal& input, const BlockPlan& plan,
                       int maxBlockSize,
                       const std::function<void (juce::int64 start, int length)>& beforeBlock = {});

struct OutputStats
{
    juce::int64 nonFinite = 0;
    juce::int64 subnormal = 0;
    float peak = 0.0f;

    bool isClean() const noexcept { return nonFinite == 0 && subnormal == 0; }
    juce::String describeProblems() const;
};

OutputStats analyse (const Signal& output);

/** Largest |output[ch][i] - input[ch][i - delay]| for i from delay + settle on, and the first
    sample (output index) where it exceeds `tolerance`, or -1. */
struct DelayComparison
{
    float maxError = 0.0f;
    juce::int64 firstBadSample = -1;
    int badChannel = -1;
};

DelayComparison compareDelayed (const Signal& output, const Signal& input, int delay, int settle,
                                float tolerance);

/** Writes a 32-bit float WAV. */
bool writeFloatWav (const juce::File& file, const Signal& signal, double sampleRate, juce::String& error);

/** Reads a WAV into `signal`; false with the reason on failure. */
bool readWav (const juce::File& file, Signal& signal, double& sampleRate, juce::String& error);

} // namespace varnelle::hostcheck
