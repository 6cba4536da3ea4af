#pragma once

#include "engine/VarnelleAudioProcessor.h"

#include <memory>
#include <vector>

namespace varnelle::test
{

/** A processor with matching mono or stereo buses, prepared at `sampleRate`. */
std::unique_ptr<VarnelleAudioProcessor> makePreparedProcessor (int numChannels, double sampleRate = 48000.0,
                                                               int blockSize = 512);

/** Sets a parameter in real units the way a host does (normalised, with notification). */
void setParameter (VarnelleAudioProcessor& processor, const juce::String& id, float realValue);

/** Runs `audio` (one vector per channel, modified in place) through the processor in blocks
    of the given sizes, cycling through `blockSizes`. */
void processInBlocks (VarnelleAudioProcessor& processor, std::vector<std::vector<float>>& audio,
                      const std::vector<int>& blockSizes);

std::vector<float> makeSine (double frequencyHz, double sampleRate, int numSamples, float amplitude = 0.5f);
std::vector<float> makeWhiteNoise (int numSamples, float amplitude, juce::int64 seed);
std::vector<float> makePinkNoise (int numSamples, float amplitude, juce::int64 seed);

/** RMS level in dB of samples [start, end). */
double rmsDb (const std::vector<float>& samples, int start, int end);

/** A new, empty folder under the system's temporary folder, named `prefix` plus a random part.
    ctest runs test processes in parallel, so a name that merely does not exist yet could be
    taken by another test between the check and the creation. Invalid if it cannot be made. */
juce::File createUniqueTemporaryFolder (const juce::String& prefix);

} // namespace varnelle::test
