#include "ReferenceEngine.h"

#include <algorithm>
#include <cmath>

namespace varnelle::reference
{
namespace
{
constexpr float minGain = 1.0e-6f;
constexpr float maxGain = 32.0f;
constexpr float floorDb = -160.0f;

float clampTo (float v, float lo, float hi) noexcept
{
    return v < lo ? lo : std::min (v, hi);
}

float smoothStep (float t) noexcept
{
    return t * t * (3.0f - 2.0f * t);
}

// 1 inside the band's frequency edges, falling linearly to 0 over edgeWidthHz outside them.
float frequencyWeight (const BandFrameSettings& s, float binHz) noexcept
{
    if (!(s.freqLo < s.freqHi))
        return 0.0f;
    const float width = std::max (s.edgeWidthHz, 0.001f);
    const float rampLo = clampTo ((binHz - (s.freqLo - s.edgeWidthHz)) / width, 0.0f, 1.0f);
    const float rampHi = clampTo ((s.edgeWidthHz + s.freqHi - binHz) / width, 0.0f, 1.0f);
    return std::min (rampHi, rampLo);
}

// 1 inside the level edges; a knee of K dB fades in over the K dB inside its edge.
float levelWeight (const BandFrameSettings& s, float levelDb) noexcept
{
    if (!(s.levelLo < s.levelHi))
        return 0.0f;
    const float lower =
        s.lowerKneeDb > 0.0f
            ? smoothStep (clampTo ((levelDb - s.levelLo) / std::max (s.lowerKneeDb, 0.001f), 0.0f, 1.0f))
            : (levelDb >= s.levelLo ? 1.0f : 0.0f);
    const float upper =
        s.upperKneeDb > 0.0f
            ? smoothStep (clampTo ((s.levelHi - levelDb) / std::max (s.upperKneeDb, 0.001f), 0.0f, 1.0f))
            : (levelDb <= s.levelHi ? 1.0f : 0.0f);
    return std::min (upper, lower);
}
} // namespace

float binLevelDb (std::complex<float> bin, int binIndex) noexcept
{
    const float scale = (binIndex == 0 || binIndex == fftSize / 2) ? 1.0f / 2048.0f : 1.0f / 1024.0f;
    const float m = std::hypot (bin.real(), bin.imag()) * scale + 1.0e-9f;
    return m > 0.0f ? std::max (20.0f * std::log10 (m), floorDb) : floorDb;
}

void applyBandGains (std::complex<float>* spectrum, BandGainMemory& bandGains, const BandSettings& settings,
                     double sampleRate) noexcept
{
    const float binWidthHz = (float)sampleRate;
    for (int i = 0; i < numBins; ++i)
    {
        // All bands see the level of the bin before any gain of this frame.
        const float levelDb = binLevelDb (spectrum[i], i);
        const float binHz = binWidthHz * (float)i * (1.0f / 2048.0f);
        float product = 1.0f;

        for (size_t b = 0; b < (size_t)numBands; ++b)
        {
            const auto& s = settings[b];
            const float weight = frequencyWeight (s, binHz) * levelWeight (s, levelDb);
            const float target = weight * (s.gainLinear - 1.0f) + 1.0f;

            // Attack while moving further from unity (cut or boost), release otherwise.
            float& g = bandGains[b][(size_t)i];
            const float coeff =
                std::abs (target - 1.0f) > std::abs (g - 1.0f) ? s.attackCoeff : s.releaseCoeff;
            g = (target - g) * coeff + g;
            product *= g;
        }

        const float gain = product < minGain ? minGain : std::min (product, maxGain);
        spectrum[i] *= gain;
        if (i > 0 && i < fftSize / 2)
            spectrum[fftSize - i] *= gain;
    }
}

void computeDisplaySpectrum (const std::complex<float>* spectrum, float* out) noexcept
{
    for (int i = 0; i < numDisplayBins; ++i)
    {
        const float scale = i == 0 ? 1.0f / 2048.0f : 1.0f / 1024.0f;
        const float m = std::hypot (spectrum[i].real(), spectrum[i].imag()) * scale + 1.0e-9f;
        const float db = m > 0.0f ? std::max (20.0f * std::log10 (m), -100.0f) : -100.0f;
        out[i] = clampTo ((db + 100.0f) / 100.0f, 0.0f, 1.0f);
    }
}

Engine::Engine (const BandParamPointers& params) : bandParams (params) {}

void Engine::prepare (double newSampleRate, int numChannels)
{
    sampleRate = newSampleRate > 0.0 ? newSampleRate : defaultSampleRate;
    window.resize ((size_t)fftSize);
    for (int i = 0; i < fftSize; ++i)
        window[(size_t)i] = (1.0f - std::cos ((float)i * 6.2831855f / (float)(fftSize - 1))) * 0.5f;
    frame.assign ((size_t)fftSize, {});
    spectrum.assign ((size_t)fftSize, {});

    channels.assign ((size_t)numChannels, {});
    for (auto& channel : channels)
    {
        channel.inputRing.assign ((size_t)fftSize, 0.0f);
        channel.outputSum.assign ((size_t)accumulatorSize, 0.0f);
        channel.windowSum.assign ((size_t)accumulatorSize, 0.0f);
        for (auto& gains : channel.gains)
            gains.assign ((size_t)numBins, 1.0f);
    }
    displayFramesKept = 0;
}

void Engine::processChannel (int channel, float* samples, int numSamples)
{
    auto& state = channels.at ((size_t)channel);
    for (int i = 0; i < numSamples; ++i)
        samples[i] = processSample (state, samples[i], channel == 0);
}

void Engine::processBlock (juce::AudioBuffer<float>& buffer)
{
    const int count = std::min (buffer.getNumChannels(), (int)channels.size());
    for (int ch = 0; ch < count; ++ch)
        processChannel (ch, buffer.getWritePointer (ch), buffer.getNumSamples());
}

float Engine::processSample (Channel& channel, float input, bool isFirstChannel)
{
    // A NaN or infinity would stay in every frame for 2048 samples: it enters as silence.
    channel.inputRing[(size_t)channel.writePosition] = std::isfinite (input) ? input : 0.0f;
    channel.writePosition = (channel.writePosition + 1) % fftSize;

    const auto stored = channel.samplesWritten + 1;
    if (stored >= fftSize && (stored - fftSize) % hopSize == 0)
        processFrame (channel, isFirstChannel);

    float output = 0.0f;
    const auto outputIndex = channel.samplesWritten - latencySamples;
    if (outputIndex >= 0)
    {
        const auto idx = (size_t)(outputIndex % accumulatorSize);
        // Right after the start one or two frames cover a sample and their window-square sum is
        // tiny: a floor of 0.5 under the divisor fades the output in instead of amplifying it.
        const float windowSum = channel.windowSum[idx];
        if (windowSum > 1.0e-6f)
            output = channel.outputSum[idx] / std::max (windowSum, 0.5f);
        channel.outputSum[idx] = 0.0f;
        channel.windowSum[idx] = 0.0f;
    }
    ++channel.samplesWritten;
    return output;
}

void Engine::processFrame (Channel& channel, bool isFirstChannel)
{
    const auto frameStart = channel.samplesWritten - (fftSize - 1);
    for (int k = 0; k < fftSize; ++k)
    {
        const auto ringIndex = (size_t)((channel.writePosition + k) % fftSize);
        frame[(size_t)k] = {channel.inputRing[ringIndex] * window[(size_t)k], 0.0f};
    }
    fft.perform (frame.data(), spectrum.data(), false);

    const bool keepDisplay = isFirstChannel && keepsDisplaySpectra;
    if (keepDisplay)
        computeDisplaySpectrum (spectrum.data(), displayBefore.data());

    reference::applyBandGains (spectrum.data(), channel.gains, computeBandSettings (bandParams, sampleRate),
                               sampleRate);

    if (keepDisplay)
    {
        computeDisplaySpectrum (spectrum.data(), displayAfter.data());
        ++displayFramesKept;
    }

    // JUCE scales the inverse by 1/fftSize; the imaginary part is rounding only.
    fft.perform (spectrum.data(), frame.data(), true);
    for (int k = 0; k < fftSize; ++k)
    {
        const auto idx = (size_t)((frameStart + k) % accumulatorSize);
        channel.outputSum[idx] += window[(size_t)k] * frame[(size_t)k].real();
        channel.windowSum[idx] += window[(size_t)k] * window[(size_t)k];
    }
}

} // namespace varnelle::reference
