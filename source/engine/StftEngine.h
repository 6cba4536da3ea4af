#pragma once

#include "BandGainComputer.h"
#include "BandParameters.h"
#include "ChannelState.h"
#include "StftConstants.h"

#include <juce_dsp/juce_dsp.h>

#include <vector>

namespace varnelle
{

class SpectrumExchange;

/** The signal path: per channel, a 2048-sample analysis frame every 512 samples, band gains
    applied to its spectrum, weighted overlap-add and a fixed delay of 2048 samples.

    Audio thread only, except construction. Channels are processed independently; only
    channel 0 feeds the analyzer. Allocates only in prepare() and when ensureChannels() is
    asked for more channels than there are records.
*/
class StftEngine
{
public:
    StftEngine (const BandParamPointers& bandParams, SpectrumExchange* analyzer);

    /** Builds the windows and `numChannels` fresh records; all history is lost. */
    void prepare (double sampleRate, int numChannels);

    /** Silences every record and sets its gains back to unity, keeping the memory. */
    void reset() noexcept;

    /** False until the first prepare(): without window tables there is nothing to process. */
    bool isPrepared() const noexcept { return !analysisWindow.empty(); }

    /** Adds fresh records until there are at least `numChannels`. */
    void ensureChannels (int numChannels);

    /** Replaces every sample of `samples` by the processed sample of 2048 samples earlier. */
    void processChannel (int channel, float* samples, int numSamples) noexcept;

    double getSampleRate() const noexcept { return currentSampleRate; }
    int getNumChannels() const noexcept { return (int)channelStates.size(); }
    const ChannelState& getChannelState (int channel) const { return channelStates[(size_t)channel]; }
    const std::vector<float>& getAnalysisWindow() const noexcept { return analysisWindow; }

private:
    void processSample (ChannelState& state, float& sample, bool publishAnalyzer) noexcept;
    void processFrame (ChannelState& state, bool publishAnalyzer) noexcept;

    const BandParamPointers& bandParams;
    SpectrumExchange* analyzer;
    juce::dsp::FFT fft{fftOrder};
    std::vector<ChannelState> channelStates;
    std::vector<float> analysisWindow;
    std::vector<float> synthesisWindow;
    double currentSampleRate = defaultSampleRate;
};

/** The symmetric single-precision Hann window used for both analysis and synthesis. */
std::vector<float> makeHannWindow();

} // namespace varnelle
