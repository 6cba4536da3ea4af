#include "StftEngine.h"

#include "SpectrumExchange.h"

#include <cmath>

namespace varnelle
{
namespace
{
// Right after a reset only one or two frames cover a sample, so its window-square sum is
// tiny; dividing by it would amplify the frame edges by up to 40 dB once the bands change
// the spectrum. Flooring the divisor fades the output in instead. Steady state (≈1.499) is
// unaffected.
constexpr float normaliserFloor = 0.5f;
constexpr float windowSumThreshold = 1.0e-6f;

size_t accumulatorIndex (std::int64_t sampleIndex) noexcept
{
    auto idx = sampleIndex % accumulatorSize;
    if (idx < 0)
        idx += accumulatorSize;
    return (size_t)idx;
}
} // namespace

std::vector<float> makeHannWindow()
{
    std::vector<float> window ((size_t)fftSize);
    for (int i = 0; i < fftSize; ++i)
        window[(size_t)i] = (1.0f - std::cos ((float)i * 6.2831855f / (float)(fftSize - 1))) * 0.5f;
    return window;
}

StftEngine::StftEngine (const BandParamPointers& params, SpectrumExchange* analyzerToFeed)
    : bandParams (params), analyzer (analyzerToFeed)
{
}

void StftEngine::prepare (double sampleRate, int numChannels)
{
    currentSampleRate = sampleRate > 0.0 ? sampleRate : defaultSampleRate;
    analysisWindow = makeHannWindow();
    synthesisWindow = analysisWindow;

    channelStates.clear();
    channelStates.resize ((size_t)juce::jmax (0, numChannels));
    for (auto& state : channelStates)
        initChannelState (state);
}

void StftEngine::reset() noexcept
{
    for (auto& state : channelStates)
        resetChannelState (state);
}

void StftEngine::ensureChannels (int numChannels)
{
    const auto oldSize = channelStates.size();
    if ((size_t)numChannels <= oldSize)
        return;

    channelStates.resize ((size_t)numChannels);
    for (auto i = oldSize; i < channelStates.size(); ++i)
        initChannelState (channelStates[i]);
}

void StftEngine::processChannel (int channel, float* samples, int numSamples) noexcept
{
    if (!isPrepared() || channel < 0 || channel >= getNumChannels())
    {
        std::fill (samples, samples + juce::jmax (0, numSamples), 0.0f);
        return;
    }

    auto& state = channelStates[(size_t)channel];
    const bool publish = channel == 0;
    for (int i = 0; i < numSamples; ++i)
        processSample (state, samples[i], publish);
}

void StftEngine::processSample (ChannelState& state, float& sample, bool publishAnalyzer) noexcept
{
    // A NaN or infinity from upstream would stay in the ring and every frame for 2048
    // samples, and in the smoothed gains for good: it enters as silence instead.
    state.inputRing[(size_t)state.writePosition] = std::isfinite (sample) ? sample : 0.0f;
    state.writePosition = (state.writePosition + 1) % fftSize;

    const auto stored = state.samplesWritten + 1;
    if (stored >= fftSize && (stored - fftSize) % hopSize == 0)
        processFrame (state, publishAnalyzer);

    float output = 0.0f;
    const auto outputIndex = state.samplesWritten - latencySamples;
    if (outputIndex >= 0)
    {
        const auto idx = accumulatorIndex (outputIndex);
        const float windowSum = state.windowSumAccumulator[idx];
        if (windowSum > windowSumThreshold)
            output = state.outputAccumulator[idx] / juce::jmax (windowSum, normaliserFloor);
        state.outputAccumulator[idx] = 0.0f;
        state.windowSumAccumulator[idx] = 0.0f;
    }

    sample = output;
    ++state.samplesWritten;
}

void StftEngine::processFrame (ChannelState& state, bool publishAnalyzer) noexcept
{
    const auto frameStart = state.samplesWritten - (fftSize - 1);
    if (frameStart < 0)
        return;

    const auto settings = computeBandSettings (bandParams, currentSampleRate);

    for (int k = 0; k < fftSize; ++k)
    {
        const auto ringIndex = (size_t)((state.writePosition + k) % fftSize);
        state.timeBuffer[(size_t)k] = {state.inputRing[ringIndex] * analysisWindow[(size_t)k], 0.0f};
    }

    fft.perform (state.timeBuffer.data(), state.spectrumBuffer.data(), false);

    const bool publish = publishAnalyzer && analyzer != nullptr;
    float before[numDisplayBins];
    float after[numDisplayBins];
    if (publish)
        computeDisplaySpectrum (state.spectrumBuffer.data(), before);

    applyBandGains (state.spectrumBuffer.data(), state.bandGains, settings, currentSampleRate);

    if (publish)
    {
        computeDisplaySpectrum (state.spectrumBuffer.data(), after);
        analyzer->publish (before, after);
    }

    // JUCE scales the inverse by 1/fftSize, so an untouched spectrum gives the windowed frame back.
    fft.perform (state.spectrumBuffer.data(), state.timeBuffer.data(), true);

    for (int k = 0; k < fftSize; ++k)
    {
        const auto idx = accumulatorIndex (frameStart + k);
        const auto w = synthesisWindow[(size_t)k];
        state.outputAccumulator[idx] += w * state.timeBuffer[(size_t)k].real();
        state.windowSumAccumulator[idx] += w * analysisWindow[(size_t)k];
    }
}

} // namespace varnelle
