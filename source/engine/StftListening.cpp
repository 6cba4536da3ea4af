#include "StftEngine.h"

#include <algorithm>

// The engine's ways of not playing the processed output as it is: the host's bypass (the
// delayed input), listening to the change (output minus delayed input) and listening to one
// band (the output of that band's gains alone). Audio thread, like the rest of the engine.

namespace varnelle
{

bool StftEngine::blendsDelayedInput (const ChannelState& state) const noexcept
{
    return bypassed || state.bypassMix > 0.0f;
}

// The crossfade moves the mix by one step per sample towards its target; a fully bypassed
// sample is a plain copy of the delayed input, so the bypassed output is exact.
void StftEngine::blendWithDelayedInput (ChannelState& state, float* output, const float* delayedInput,
                                        int numSamples) const noexcept
{
    static_assert (latencySamples == fftSize, "the ring slot about to be written holds the delayed input");

    const float target = bypassed ? 1.0f : 0.0f;
    float mix = state.bypassMix;
    int k = 0;
    for (; k < numSamples && mix != target; ++k)
    {
        mix = bypassed ? std::min (mix + bypassMixStep, 1.0f) : std::max (mix - bypassMixStep, 0.0f);
        output[k] = mix == 1.0f ? delayedInput[k] : output[k] * (1.0f - mix) + delayedInput[k] * mix;
    }
    if (mix == 1.0f)
        std::copy (delayedInput + k, delayedInput + numSamples, output + k);
    state.bypassMix = mix;
}

// Whether a frame's band gains changed any bin: some smoothed gain is not exactly 1. Only the
// bins of each band's range can differ.
static bool bandGainsChangeAnything (const BandGainMemory& gains, const BandGainRanges& ranges) noexcept
{
    for (size_t b = 0; b < gains.size(); ++b)
        for (int k = ranges[b].begin; k < ranges[b].end; ++k)
            if (gains[b][(size_t)k] != 1.0f)
                return true;
    return false;
}

bool StftEngine::subtractsDelayedInput (const ChannelState& state) const noexcept
{
    return listeningToChange || listeningBand >= 0 || state.deltaMix > 0.0f;
}

bool StftEngine::mixesBandOnly (const ChannelState& state) const noexcept
{
    return listeningBand >= 0 || state.bandOnlyMix > 0.0f;
}

// The output that only the listened band's gains give replaces the output, faded in and out
// like the bypass. The fade in waits until every frame that makes up a sample has formed it
// (43 ms at 48 kHz), so that it never fades to a part of that output.
void StftEngine::mixInBandOnly (ChannelState& state, float* output, const float* bandOnly,
                                int numSamples) const noexcept
{
    const bool on = listeningBand >= 0 && state.bandOnlyFramesFormed >= fftSize / hopSize;
    const float target = on ? 1.0f : 0.0f;
    float mix = state.bandOnlyMix;
    int k = 0;
    for (; k < numSamples && mix != target; ++k)
    {
        mix = on ? std::min (mix + bypassMixStep, 1.0f) : std::max (mix - bypassMixStep, 0.0f);
        output[k] += (bandOnly[k] - output[k]) * mix;
    }
    if (mix == 1.0f)
        std::copy (bandOnly + k, bandOnly + numSamples, output + k);
    state.bandOnlyMix = mix;
}

// The output minus the delayed input, faded in and out like the bypass. While the frames that
// make up these outputs (the newest four) left every bin as it was, the change is nothing.
void StftEngine::subtractDelayedInput (ChannelState& state, float* output, const float* delayedInput,
                                       int numSamples) const noexcept
{
    constexpr int framesPerSample = fftSize / hopSize;
    const bool on = listeningToChange || listeningBand >= 0;
    const float target = on ? 1.0f : 0.0f;
    float mix = state.deltaMix;
    int k = 0;
    for (; k < numSamples && mix != target; ++k)
    {
        mix = on ? std::min (mix + bypassMixStep, 1.0f) : std::max (mix - bypassMixStep, 0.0f);
        output[k] -= delayedInput[k] * mix;
    }
    // Listening to one band, only that band's frames count, and only once its output alone is
    // heard.
    const bool nothingChanged = listeningBand >= 0
                                    ? state.bandOnlyMix == 1.0f && state.bandOnlyBand == listeningBand &&
                                          state.bandUnchangedFrames >= framesPerSample
                                    : state.unchangedFrames >= framesPerSample;
    if (mix == 1.0f)
    {
        if (nothingChanged)
            std::fill (output + k, output + numSamples, 0.0f);
        else
            for (; k < numSamples; ++k)
                output[k] -= delayedInput[k];
    }
    state.deltaMix = mix;
}

// Only while the change is listened to: otherwise nothing reads the counts, and starting from 0
// again only delays the exact zeros by four frames. The listened band's count runs only over
// frames whose output of that band alone was formed (`bandOnlyFormed`).
void StftEngine::noteWhetherFrameChanged (ChannelState& state, bool bandOnlyFormed) const noexcept
{
    if (!subtractsDelayedInput (state))
    {
        state.unchangedFrames = 0;
        state.bandUnchangedFrames = 0;
        return;
    }
    const bool changed = bandGainsChangeAnything (state.bandGains, state.bandGainRanges);
    state.unchangedFrames = changed ? 0 : std::min (state.unchangedFrames + 1, 1 << 20);

    const int band = state.bandOnlyBand;
    const bool bandChanged =
        !bandOnlyFormed || band < 0 ||
        std::any_of (state.bandGains[(size_t)band].begin() + state.bandGainRanges[(size_t)band].begin,
                     state.bandGains[(size_t)band].begin() + state.bandGainRanges[(size_t)band].end,
                     [] (float g) { return g != 1.0f; });
    state.bandUnchangedFrames = bandChanged ? 0 : std::min (state.bandUnchangedFrames + 1, 1 << 20);
}

void StftEngine::noteWhetherBandOnlyFormed (ChannelState& state, bool formed) const noexcept
{
    state.bandOnlyFramesFormed = formed ? std::min (state.bandOnlyFramesFormed + 1, 1 << 20) : 0;
}

// The band whose output alone is formed: the one listened to, or while that fades out, the
// last one. A new band starts its count of unchanged frames afresh.
void StftEngine::followListenedBand (ChannelState& state) const noexcept
{
    if (listeningBand >= 0 && state.bandOnlyBand != listeningBand)
    {
        state.bandOnlyBand = listeningBand;
        state.bandUnchangedFrames = 0;
    }
}

// The frame's spectrum before the band gains, given only the listened band's smoothed gains
// (within the limits of the product: a band's own gains never reach them), overlap-added into
// the band's own accumulator; the window sums are the output's.
void StftEngine::addBandOnlyFrame (ChannelState& state, std::int64_t frameStart) noexcept
{
    auto& work = *scratch;
    const float* gains = state.bandGains[(size_t)state.bandOnlyBand].data();
    const bool mirrored = fft->getNumSpectrumBins() >= fftSize;
    for (int i = 0; i < numBins; ++i)
    {
        work.bandOnlySpectrum[i] *= gains[i];
        if (mirrored && i > 0 && i < fftSize / 2)
            work.bandOnlySpectrum[fftSize - i] *= gains[i];
    }
    fft->inverse (work.bandOnlySpectrum, work.frame);

    const auto start = (size_t)frameStart & ((size_t)accumulatorSize - 1);
    const int firstPart = (int)std::min<size_t> ((size_t)fftSize, (size_t)accumulatorSize - start);
    float* acc = state.bandOnlyAccumulator.data();
    for (int k = 0; k < firstPart; ++k)
        acc[start + (size_t)k] += synthesisWindow[(size_t)k] * work.frame[k];
    for (int k = firstPart; k < fftSize; ++k)
        acc[k - firstPart] += synthesisWindow[(size_t)k] * work.frame[k];
    state.bandOnlyPending = fftSize;
}

} // namespace varnelle
