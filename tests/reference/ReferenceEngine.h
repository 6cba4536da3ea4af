#pragma once

#include "engine/BandGainComputer.h"
#include "engine/BandParameters.h"
#include "engine/StftConstants.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_dsp/juce_dsp.h>

#include <array>
#include <complex>
#include <cstdint>
#include <vector>

/** The plug-in's signal path written as plainly as it can be stated: sample by sample, JUCE's
    complex FFT over all 2048 bins, scalar per-bin loops. The tests and benchmarks hold the
    plug-in's engine to it; nothing of the plug-in runs it. It has none of the engine's extras
    (host bypass, listening to the change, silence skipping, the display exchange): where a test
    needs those, it compares the engine with itself with the extra off. */
namespace varnelle::reference
{

/** A bin's level in dB: a full-scale sine centred on a bin reads about -6 dB; silence reads
    -160 dB. */
float binLevelDb (std::complex<float> bin, int binIndex) noexcept;

/** Moves the smoothed per-band gains of bins 0..numBins-1 towards their targets and applies
    their limited product to `spectrum` (fftSize bins, mirrored half included). */
void applyBandGains (std::complex<float>* spectrum, BandGainMemory& bandGains, const BandSettings& settings,
                     double sampleRate) noexcept;

/** Display values of bins 0..numDisplayBins-1: (dB + 100) / 100 limited to 0..1. */
void computeDisplaySpectrum (const std::complex<float>* spectrum, float* out) noexcept;

/** Per channel, a Hann-windowed 2048-sample frame every 512 samples, the band gains applied to
    its spectrum, weighted overlap-add normalised by the window-square sum, and a fixed delay of
    2048 samples. One thread at a time. */
class Engine
{
public:
    explicit Engine (const BandParamPointers& bandParams);

    void prepare (double sampleRate, int numChannels);

    /** Replaces every sample by the processed sample of 2048 samples earlier. */
    void processChannel (int channel, float* samples, int numSamples);
    /** Every channel of `buffer` that the engine was prepared for. */
    void processBlock (juce::AudioBuffer<float>& buffer);

    /** While on, each frame of channel 0 keeps its display values before and after the gains. */
    void setKeepsDisplaySpectra (bool shouldKeep) noexcept { keepsDisplaySpectra = shouldKeep; }
    int getDisplayFramesKept() const noexcept { return displayFramesKept; }
    const std::array<float, numDisplayBins>& getDisplayBefore() const noexcept { return displayBefore; }
    const std::array<float, numDisplayBins>& getDisplayAfter() const noexcept { return displayAfter; }

private:
    struct Channel
    {
        std::vector<float> inputRing;
        std::vector<float> outputSum, windowSum; // overlap-added, indexed by sample % their size
        BandGainMemory gains;
        int writePosition = 0;
        std::int64_t samplesWritten = 0;
    };

    float processSample (Channel& channel, float input, bool isFirstChannel);
    void processFrame (Channel& channel, bool isFirstChannel);

    const BandParamPointers& bandParams;
    juce::dsp::FFT fft{fftOrder};
    std::vector<float> window;
    std::vector<Channel> channels;
    std::vector<std::complex<float>> frame, spectrum;
    double sampleRate = defaultSampleRate;
    bool keepsDisplaySpectra = false;
    int displayFramesKept = 0;
    std::array<float, numDisplayBins> displayBefore{}, displayAfter{};
};

} // namespace varnelle::reference
