#pragma once

#include "BandGainComputer.h"
#include "BandParameters.h"
#include "ChannelState.h"
#include "FrameFft.h"
#include "SpectrumExchange.h"
#include "StftConstants.h"

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

namespace varnelle
{

/** The signal path: per channel, a 2048-sample analysis frame every 512 samples, band gains
    applied to its spectrum, weighted overlap-add and a fixed delay of 2048 samples.

    Audio thread only, except construction and destruction (which plan the FFT). Channels are
    processed independently; only channel 0 feeds the analyzer. Allocates only when built, in
    prepare() and when ensureChannels() is asked for more channels than there are records.
*/
class StftEngine
{
public:
    StftEngine (const BandParamPointers& bandParams, SpectrumExchange* analyzer);
    ~StftEngine();

    /** Builds the windows and `numChannels` fresh records; all history is lost. */
    void prepare (double sampleRate, int numChannels);

    /** Silences every record and sets its gains back to unity, keeping the memory. */
    void reset() noexcept;

    /** False until the first prepare(): without window tables there is nothing to process. */
    bool isPrepared() const noexcept { return !analysisWindow.empty(); }

    /** Adds fresh records until there are at least `numChannels`. */
    void ensureChannels (int numChannels);

    /** Replaces every sample of `samples` by the processed sample of 2048 samples earlier.

        With a `key` (numSamples samples, at the same moments as `samples`), the bands measure
        the levels of each frame on the key's frame instead, and their gains go to the input's
        spectrum; a non-finite key sample counts as 0. Without one, the levels come from the
        input itself. A channel that changes between the two starts its key from silence. */
    void processChannel (int channel, float* samples, int numSamples, const float* key = nullptr) noexcept;

    /** The host's bypass, for the blocks that follow. While bypassed, the output is the input
        of 2048 samples earlier, exactly, and the engine keeps running with every band inert,
        so its history stays current and switching back resumes without stale audio. Each
        switch crossfades over bypassCrossfadeMs. */
    void setBypassed (bool shouldBypass) noexcept
    {
        if (bypassed != shouldBypass)
            settingsFrame = -1;
        bypassed = shouldBypass;
    }
    bool isBypassed() const noexcept { return bypassed; }

    static constexpr double bypassCrossfadeMs = 10.0;

    /** Listening to the change: the output becomes what the bands add or remove, the processed
        output minus the input of 2048 samples earlier. Where no band has changed any bin of
        the frames that make up a sample, that difference is exactly 0, not the transforms'
        rounding. Each switch crossfades over bypassCrossfadeMs; the host's bypass still
        passes the delayed input. */
    void setListeningToChange (bool shouldListen) noexcept { listeningToChange = shouldListen; }
    bool isListeningToChange() const noexcept { return listeningToChange; }

    /** Listening to one band's change (0..4; -1: off): the output becomes what that band alone
        adds or removes, the output that only its smoothed gains would give minus the input of
        2048 samples earlier, exactly 0 where that band changed no bin of the frames that make
        up a sample. Comes before listening to the change; crossfades like it. Costs one more
        inverse transform per frame while on or fading. */
    void setListeningToBand (int band) noexcept { listeningBand = band >= 0 && band < numBands ? band : -1; }
    int getListeningBand() const noexcept { return listeningBand; }

    /** A frame that holds only silence skips its transforms and band
        gain work: its spectrum is zero, so it adds nothing to the output, and its gains move
        as applyBandGains would move them (not at all once they have come to rest). The output
        is the same either way; off is for comparisons. */
    void setSkipsSilence (bool shouldSkip) noexcept { skipsSilence = shouldSkip; }

    /** The instruction set of the kernels: the widest the CPU runs unless
        set otherwise (to compare the variants). Not while processing. */
    void setKernelVariant (KernelVariant variant) noexcept { kernelVariant = variant; }
    KernelVariant getKernelVariant() const noexcept { return kernelVariant; }
    /** The transform in use: fftw unless FFTW could not plan, then JUCE's. */
    FftBackend getFftBackend() const noexcept { return fft->getBackend(); }

    double getSampleRate() const noexcept { return currentSampleRate; }
    int getNumChannels() const noexcept { return (int)channelStates.size(); }
    const ChannelState& getChannelState (int channel) const { return channelStates[(size_t)channel]; }
    const std::vector<float>& getAnalysisWindow() const noexcept { return analysisWindow; }

private:
    // Per-frame work buffers, shared by the channels (which are processed one after another)
    // and aligned for the FFT.
    struct alignas (frameBufferAlignment) FrameScratch
    {
        alignas (frameBufferAlignment) float frame[fftSize];
        alignas (frameBufferAlignment) std::complex<float> spectrum[fftSize];
        alignas (frameBufferAlignment) std::complex<float> bandOnlySpectrum[fftSize];
        alignas (frameBufferAlignment) std::complex<float> keySpectrum[fftSize];
        alignas (frameBufferAlignment) float bandOnlyOutput[fftSize]; // a run's outputs
        alignas (frameBufferAlignment) float levelDb[numBins];
        alignas (frameBufferAlignment) PublishedFrame published;
        FrequencyWeightCache frequencyWeights;
    };

    BandSettings computeFrameSettings() const noexcept;
    bool blendsDelayedInput (const ChannelState& state) const noexcept;
    bool subtractsDelayedInput (const ChannelState& state) const noexcept;
    void subtractDelayedInput (ChannelState& state, float* output, const float* delayedInput,
                               int numSamples) const noexcept;
    void noteWhetherFrameChanged (ChannelState& state, bool bandOnlyFormed) const noexcept;
    void followListenedBand (ChannelState& state) const noexcept;
    void noteWhetherBandOnlyFormed (ChannelState& state, bool formed) const noexcept;
    bool mixesBandOnly (const ChannelState& state) const noexcept;
    void mixInBandOnly (ChannelState& state, float* output, const float* bandOnly,
                        int numSamples) const noexcept;
    void addBandOnlyFrame (ChannelState& state, std::int64_t frameStart) noexcept;
    void blendWithDelayedInput (ChannelState& state, float* output, const float* delayedInput,
                                int numSamples) const noexcept;
    void processSamples (ChannelState& state, float* samples, int numSamples, const float* key,
                         bool publishAnalyzer) noexcept;
    bool storeRun (ChannelState& state, const float* inputs, int count, float* replaced) noexcept;
    void storeKeyRun (ChannelState& state, const float* keys, int count) noexcept;
    void windowFrame (const std::vector<float>& ring, int oldest, float* frame) const noexcept;
    bool isSilentFrame (const ChannelState& state) const noexcept;
    void readRun (ChannelState& state, float* outputs, int count, bool outputsAreSilent,
                  float* bandOnlyOutputs) noexcept;
    void processFrame (ChannelState& state, std::int64_t newestSample, bool publishAnalyzer) noexcept;
    void processSilentFrame (ChannelState& state, std::int64_t newestSample, bool publish) noexcept;
    const BandSettings& getFrameSettings (std::int64_t newestSample) noexcept;
    void addToAccumulators (ChannelState& state, std::int64_t frameStart, const float* frame) noexcept;
    void addDeferredWindowSums (ChannelState& state, std::int64_t firstUnread) noexcept;

    const BandParamPointers& bandParams;
    SpectrumExchange* analyzer;
    std::unique_ptr<FrameFft> fft;
    std::unique_ptr<FrameScratch> scratch;
    std::vector<ChannelState> channelStates;
    std::vector<float> analysisWindow;
    std::vector<float> synthesisWindow;
    std::vector<float> windowProduct; // synthesis × analysis, for the window-sum accumulator
    double currentSampleRate = defaultSampleRate;
    KernelVariant kernelVariant = getBestKernelVariant();
    float bypassMixStep = 1.0f; // per sample: 1 / the crossfade's length
    bool bypassed = false;
    bool listeningToChange = false;
    int listeningBand = -1;
    bool skipsSilence = true;
    // The settings of the frame ending at sample settingsFrame (-1: none).
    BandSettings frameSettings{};
    std::int64_t settingsFrame = -1;
};

/** The symmetric single-precision Hann window used for both analysis and synthesis. */
std::vector<float> makeHannWindow();

} // namespace varnelle
