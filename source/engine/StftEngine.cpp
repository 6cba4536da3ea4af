#include "StftEngine.h"

#include "BranchFree.h"
#include "InputStore.h"
#include "SpectrumExchange.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

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
} // namespace

std::vector<float> makeHannWindow()
{
    std::vector<float> window ((size_t)fftSize);
    for (int i = 0; i < fftSize; ++i)
        window[(size_t)i] = (1.0f - std::cos ((float)i * 6.2831855f / (float)(fftSize - 1))) * 0.5f;
    return window;
}

StftEngine::StftEngine (const BandParamPointers& params, SpectrumExchange* analyzerToFeed)
    : bandParams (params), analyzer (analyzerToFeed), fft (makeFrameFft (FftBackend::fftw)),
      scratch (std::make_unique<FrameScratch>())
{
}

StftEngine::~StftEngine() = default;

void StftEngine::prepare (double sampleRate, int numChannels)
{
    currentSampleRate = sampleRate > 0.0 ? sampleRate : defaultSampleRate;
    analysisWindow = makeHannWindow();
    synthesisWindow = analysisWindow;
    windowProduct.resize ((size_t)fftSize);
    for (size_t k = 0; k < (size_t)fftSize; ++k)
        windowProduct[k] = synthesisWindow[k] * analysisWindow[k];

    bypassMixStep =
        1.0f / (float)juce::jmax (1.0, std::round (currentSampleRate * bypassCrossfadeMs / 1000.0));
    settingsFrame = -1;

    channelStates.clear();
    channelStates.resize ((size_t)juce::jmax (0, numChannels));
    for (auto& state : channelStates)
    {
        initChannelState (state);
        state.bypassMix = bypassed ? 1.0f : 0.0f;
    }
}

void StftEngine::reset() noexcept
{
    settingsFrame = -1;
    for (auto& state : channelStates)
    {
        resetChannelState (state);
        state.bypassMix = bypassed ? 1.0f : 0.0f;
    }
}

void StftEngine::ensureChannels (int numChannels)
{
    const auto oldSize = channelStates.size();
    if ((size_t)numChannels <= oldSize)
        return;

    channelStates.resize ((size_t)numChannels);
    for (auto i = oldSize; i < channelStates.size(); ++i)
    {
        initChannelState (channelStates[i]);
        channelStates[i].bypassMix = bypassed ? 1.0f : 0.0f;
    }
}

BandSettings StftEngine::computeFrameSettings() const noexcept
{
    // Bypassed, every band is inert: its smoothed gains return to unity at once, and switching
    // back lets them move from there with the band's own attack.
    return bypassed ? BandSettings{} : computeBandSettings (bandParams, currentSampleRate);
}

void StftEngine::processChannel (int channel, float* samples, int numSamples, const float* key) noexcept
{
    if (!isPrepared() || channel < 0 || channel >= getNumChannels())
    {
        std::fill (samples, samples + juce::jmax (0, numSamples), 0.0f);
        return;
    }

    auto& state = channelStates[(size_t)channel];
    if (state.keyed != (key != nullptr))
    {
        // A key that comes (back) holds nothing of the time it was away.
        std::fill (state.keyRing.begin(), state.keyRing.end(), 0.0f);
        state.zeroKeyRun = 0;
        state.keyed = key != nullptr;
    }
    processSamples (state, samples, numSamples, key, channel == 0);
}

// Block-wise what the algorithm states per sample (store the input, run a frame when one is
// complete, read the output): for the samples up to and including the next frame's newest
// one, store the inputs, read the outputs, then run the frame. No output read in such a run
// touches an index the frame writes (the frame ending at sample E writes E − 2047..E; the run
// reads at most E − 2048), so the order gives the same samples as a per-sample loop.
void StftEngine::processSamples (ChannelState& state, float* samples, int numSamples, const float* key,
                                 bool publishAnalyzer) noexcept
{
    constexpr std::int64_t firstFrameSample = fftSize - 1;

    // The inputs of a run 2048 samples before, for the bypass and the change: a run never
    // spans more than one frame (fftSize samples), and the frame buffer is free until the
    // run's frame.
    float* delayedInput = scratch->frame;
    const bool blendsDelayed = blendsDelayedInput (state);
    const bool subtractsDelayed = subtractsDelayedInput (state);

    int done = 0;
    while (done < numSamples)
    {
        const std::int64_t first = state.samplesWritten;
        const std::int64_t nextFrame =
            first <= firstFrameSample
                ? firstFrameSample
                : firstFrameSample + ((first - firstFrameSample + hopSize - 1) / hopSize) * hopSize;
        const int count = (int)std::min<std::int64_t> (numSamples - done, nextFrame - first + 1);
        float* x = samples + done;

        if (key != nullptr) // first: storeRun moves the ring position on
            storeKeyRun (state, key + done, count);
        const bool outputsAreSilent =
            storeRun (state, x, count, blendsDelayed || subtractsDelayed ? delayedInput : nullptr);
        const bool mixesBand = mixesBandOnly (state);
        float* bandOnly = mixesBand || state.bandOnlyPending > 0 ? scratch->bandOnlyOutput : nullptr;
        readRun (state, x, count, outputsAreSilent, bandOnly);
        if (mixesBand)
            mixInBandOnly (state, x, bandOnly, count);

        if (subtractsDelayed)
            subtractDelayedInput (state, x, delayedInput, count);
        if (blendsDelayed)
            blendWithDelayedInput (state, x, delayedInput, count);

        state.samplesWritten += count;
        if (first + count - 1 == nextFrame)
            processFrame (state, nextFrame, publishAnalyzer);
        done += count;
    }
}

// Stores a run of inputs in the ring (a NaN or infinity enters as silence), copying the inputs
// they replace to `replaced` if given, and keeps the run of zero inputs up to the newest one.
// Returns whether every input that any frame overlapping the run's outputs has seen was zero,
// so far: then the accumulators hold zeros there.
bool StftEngine::storeRun (ChannelState& state, const float* inputs, int count, float* replaced) noexcept
{
    float* ring = state.inputRing.data();
    int lastSound = -1; // the last input of the run that is sound
    for (int i = 0; i < count;)
    {
        const int position = state.writePosition;
        const int n = std::min (count - i, fftSize - position);
        float* __restrict dest = ring + position;
        const float* __restrict src = inputs + i;
        if (replaced != nullptr) // the slots about to be written hold the inputs of fftSize samples ago
            std::copy (dest, dest + n, replaced + i);
        const int lastInPart = storeInputs (src, dest, n, kernelVariant);
        if (lastInPart >= 0)
            lastSound = i + lastInPart;
        state.writePosition = position + n == fftSize ? 0 : position + n;
        i += n;
    }

    const int zeroRunBefore = state.zeroInputRun;
    state.zeroInputRun =
        lastSound >= 0 ? count - 1 - lastSound : std::min (zeroRunBefore + count, accumulatorSize);

    // Sound returns: the frames to come overlap silent frames whose window sums were left
    // out; the sums still ahead of the output are added now.
    if (lastSound >= 0 && state.deferredSumsFrom >= 0)
        addDeferredWindowSums (state, state.samplesWritten - latencySamples);

    return zeroRunBefore >= 2 * fftSize;
}

// The key's run, at the ring positions the inputs' run is about to take.
void StftEngine::storeKeyRun (ChannelState& state, const float* keys, int count) noexcept
{
    int lastSound = -1;
    for (int i = 0, position = state.writePosition; i < count;)
    {
        const int n = std::min (count - i, fftSize - position);
        const int lastInPart = storeInputs (keys + i, state.keyRing.data() + position, n, kernelVariant);
        if (lastInPart >= 0)
            lastSound = i + lastInPart;
        position = position + n == fftSize ? 0 : position + n;
        i += n;
    }
    state.zeroKeyRun =
        lastSound >= 0 ? count - 1 - lastSound : std::min (state.zeroKeyRun + count, keySilenceLimit);
}

// The outputs of a run: silence while the delay fills, then the normalised accumulators, which
// are cleared for the frames to come; with `bandOnlyOutputs`, the same of one band's output.
void StftEngine::readRun (ChannelState& state, float* outputs, int count, bool outputsAreSilent,
                          float* bandOnlyOutputs) noexcept
{
    constexpr size_t accumulatorMask = (size_t)accumulatorSize - 1;
    static_assert ((accumulatorSize & (accumulatorSize - 1)) == 0, "the accumulators are indexed by a mask");

    const std::int64_t first = state.samplesWritten;
    int i = 0;
    if (first < latencySamples)
    {
        i = (int)std::min<std::int64_t> (count, latencySamples - first);
        std::fill (outputs, outputs + i, 0.0f);
        if (bandOnlyOutputs != nullptr)
            std::fill (bandOnlyOutputs, bandOnlyOutputs + i, 0.0f);
    }
    if (bandOnlyOutputs != nullptr)
        state.bandOnlyPending = std::max (0, state.bandOnlyPending - count);
    while (i < count)
    {
        const auto start = (size_t)(first + i - latencySamples) & accumulatorMask;
        const int n = (int)std::min<size_t> ((size_t)(count - i), (size_t)accumulatorSize - start);
        float* __restrict out = outputs + i;
        float* __restrict acc = state.outputAccumulator.data() + start;
        float* __restrict sums = state.windowSumAccumulator.data() + start;
        if (bandOnlyOutputs != nullptr) // first: the loop below clears the sums
        {
            float* __restrict bandOut = bandOnlyOutputs + i;
            float* __restrict bandAcc = state.bandOnlyAccumulator.data() + start;
            for (int k = 0; k < n; ++k)
            {
                const float windowSum = sums[k];
                const float normalised = bandAcc[k] / branchfree::maxOf (windowSum, normaliserFloor);
                bandOut[k] = branchfree::select (windowSum > windowSumThreshold && !outputsAreSilent,
                                                 normalised, 0.0f);
                bandAcc[k] = 0.0f;
            }
        }
        if (outputsAreSilent)
        {
            // Every frame that added to these accumulators so far held only silence, and no
            // later frame reaches back here: they hold zeros (perhaps -0) already.
            std::fill (out, out + n, 0.0f);
            std::fill (sums, sums + n, 0.0f);
        }
        else
        {
            for (int k = 0; k < n; ++k)
            {
                const float windowSum = sums[k];
                const float normalised = acc[k] / branchfree::maxOf (windowSum, normaliserFloor);
                out[k] = branchfree::select (windowSum > windowSumThreshold, normalised, 0.0f);
                acc[k] = 0.0f;
                sums[k] = 0.0f;
            }
        }
        i += n;
    }
}

void StftEngine::processFrame (ChannelState& state, std::int64_t newestSample, bool publishAnalyzer) noexcept
{
    const auto frameStart = newestSample - (fftSize - 1);
    if (frameStart < 0)
        return;

    if (isSilentFrame (state))
    {
        processSilentFrame (state, newestSample,
                            publishAnalyzer && analyzer != nullptr && analyzer->wantsSpectra());
        // That band's output of a silent frame is silence too: nothing to add.
        const bool bandOnly = mixesBandOnly (state);
        if (bandOnly)
            followListenedBand (state);
        noteWhetherFrameChanged (state, bandOnly);
        noteWhetherBandOnlyFormed (state, bandOnly);
        // The window sums of a silent frame only matter where some frame adds sound. Well into
        // a silence no earlier frame did, and the frames of returning sound pick them up then.
        if (state.zeroInputRun >= 2 * fftSize)
        {
            if (state.deferredSumsFrom < 0)
                state.deferredSumsFrom = newestSample;
            state.deferredSumsTo = newestSample;
        }
        else
        {
            addToAccumulators (state, frameStart, nullptr);
        }
        return;
    }

    // A key's frame can follow silent inputs whose window sums were left out; they are added
    // before this frame's, in order.
    if (state.deferredSumsFrom >= 0)
        addDeferredWindowSums (state, state.samplesWritten - latencySamples);

    const auto& settings = getFrameSettings (newestSample);
    auto& work = *scratch;
    if (state.keyed)
    {
        // A silent key's spectrum is zero: its levels are the floor without a transform.
        if (state.zeroKeyRun >= fftSize)
            std::fill (work.keySpectrum, work.keySpectrum + fft->getNumSpectrumBins(), std::complex<float>{});
        else
        {
            windowFrame (state.keyRing, state.writePosition, work.frame);
            fft->forward (work.frame, work.keySpectrum);
        }
        computeBinLevels (work.keySpectrum, work.levelDb, kernelVariant);
    }
    windowFrame (state.inputRing, state.writePosition, work.frame);
    fft->forward (work.frame, work.spectrum);
    if (!state.keyed)
        computeBinLevels (work.spectrum, work.levelDb, kernelVariant);

    const bool publish = publishAnalyzer && analyzer != nullptr && analyzer->wantsSpectra();
    if (publish)
        computeDisplaySpectrumFromLevels (work.levelDb, work.published.before);

    const bool bandOnly = mixesBandOnly (state);
    if (bandOnly)
    {
        followListenedBand (state);
        std::copy (work.spectrum, work.spectrum + fft->getNumSpectrumBins(), work.bandOnlySpectrum);
    }

    applyBandGains (work.spectrum, fft->getNumSpectrumBins(), work.levelDb, state.bandGains, settings,
                    currentSampleRate, &work.frequencyWeights, kernelVariant, &state.bandGainRanges,
                    publish ? work.published.appliedGains : nullptr);

    if (publish)
    {
        computeDisplaySpectrum (work.spectrum, work.published.after, kernelVariant);
        findBandGainExtremes (state.bandGains, state.bandGainRanges, work.published.bandLowest,
                              work.published.bandHighest, kernelVariant);
        analyzer->publish (work.published);
    }

    fft->inverse (work.spectrum, work.frame);
    addToAccumulators (state, frameStart, work.frame);
    if (bandOnly)
        addBandOnlyFrame (state, frameStart);
    noteWhetherFrameChanged (state, bandOnly);
    noteWhetherBandOnlyFormed (state, bandOnly);
    state.gainsAtRest = false;
}

// The ring read from the oldest sample on, windowed, in two runs instead of a modulo per sample.
void StftEngine::windowFrame (const std::vector<float>& ringSamples, int oldest, float* frame) const noexcept
{
    const float* ring = ringSamples.data();
    const float* window = analysisWindow.data();
    const int firstRun = fftSize - oldest;
    for (int k = 0; k < firstRun; ++k)
        frame[k] = ring[oldest + k] * window[k];
    for (int k = firstRun; k < fftSize; ++k)
        frame[k] = ring[k - firstRun] * window[k];
}

// A frame of silent inputs changes nothing of the output, but a key that sounds meanwhile still
// moves the gains.
bool StftEngine::isSilentFrame (const ChannelState& state) const noexcept
{
    return skipsSilence && state.zeroInputRun >= fftSize && (!state.keyed || state.zeroKeyRun >= fftSize);
}

// Every channel's frame ending at the same sample uses one snapshot of the parameters.
const BandSettings& StftEngine::getFrameSettings (std::int64_t newestSample) noexcept
{
    if (newestSample != settingsFrame)
    {
        frameSettings = computeFrameSettings();
        settingsFrame = newestSample;
    }
    return frameSettings;
}

// A silent frame's spectrum is zero: every level is the floor, nothing is added to the output,
// and the smoothed gains relax towards unity until a frame leaves them all where they were.
// They stay at rest while the release settings stay the same.
void StftEngine::processSilentFrame (ChannelState& state, std::int64_t newestSample, bool publish) noexcept
{
    // Bypassed, every band rests (unit coefficients): a key no parameters can give.
    ReleaseKey key;
    if (bypassed)
        key.fill (-2.0f);
    else
        key = readReleaseKey (bandParams);

    if (!state.gainsAtRest || std::memcmp (key.data(), state.restKey.data(), sizeof (key)) != 0)
    {
        state.gainsAtRest =
            !relaxBandGainsInSilence (state.bandGains, state.bandGainRanges, getFrameSettings (newestSample));
        state.restKey = key;
    }

    if (publish)
    {
        // Levels at the floor are 0 on the display, before and after; the gains still relax.
        auto& published = scratch->published;
        std::fill (std::begin (published.before), std::end (published.before), 0.0f);
        std::fill (std::begin (published.after), std::end (published.after), 0.0f);
        computeAppliedGains (state.bandGains, state.bandGainRanges, published.appliedGains);
        findBandGainExtremes (state.bandGains, state.bandGainRanges, published.bandLowest,
                              published.bandHighest, kernelVariant);
        analyzer->publish (published);
    }
    ++state.silentFramesSkipped;
}

// Adds the window sums of the silent frames ending deferredSumsFrom .. deferredSumsTo, from
// output index `firstUnread` on (what was read already must stay clear for the next frames).
void StftEngine::addDeferredWindowSums (ChannelState& state, std::int64_t firstUnread) noexcept
{
    const float* product = windowProduct.data();
    float* sums = state.windowSumAccumulator.data();
    constexpr size_t mask = (size_t)accumulatorSize - 1;
    // Oldest first, as the frames would have added them: float sums depend on the order.
    auto end = state.deferredSumsFrom;
    if (end < firstUnread) // frames that end before it were read whole
        end += ((firstUnread - end + hopSize - 1) / hopSize) * hopSize;
    for (; end <= state.deferredSumsTo; end += hopSize)
    {
        const auto frameStart = end - (fftSize - 1);
        for (auto k = std::max<std::int64_t> (0, firstUnread - frameStart); k < fftSize; ++k)
            sums[(size_t)(frameStart + k) & mask] += product[k];
    }
    state.deferredSumsFrom = state.deferredSumsTo = -1;
}

// Overlap-adds a frame (nullptr: a frame of zeros, which only its window sums need).
void StftEngine::addToAccumulators (ChannelState& state, std::int64_t frameStart, const float* frame) noexcept
{
    const auto start = (size_t)frameStart & ((size_t)accumulatorSize - 1);
    const int firstPart = (int)std::min<size_t> ((size_t)fftSize, (size_t)accumulatorSize - start);
    const float* synthesis = synthesisWindow.data();
    const float* product = windowProduct.data();
    for (int part = 0, k0 = 0; part < 2 && k0 < fftSize; ++part)
    {
        const int n = part == 0 ? firstPart : fftSize - firstPart;
        const size_t base = part == 0 ? start : 0;
        float* __restrict acc = state.outputAccumulator.data() + base;
        float* __restrict sums = state.windowSumAccumulator.data() + base;
        if (frame != nullptr)
        {
            const float* __restrict samples = frame + k0;
            for (int k = 0; k < n; ++k)
                acc[k] += synthesis[k0 + k] * samples[k];
        }
        for (int k = 0; k < n; ++k)
            sums[k] += product[k0 + k];
        k0 += n;
    }
}

} // namespace varnelle
