#include "ChannelState.h"

#include <algorithm>

namespace varnelle
{

void initChannelState (ChannelState& state)
{
    state.inputRing.resize ((size_t)fftSize);
    state.outputAccumulator.resize ((size_t)accumulatorSize);
    state.windowSumAccumulator.resize ((size_t)accumulatorSize);
    state.bandOnlyAccumulator.resize ((size_t)accumulatorSize);
    state.keyRing.resize ((size_t)fftSize);
    for (auto& gains : state.bandGains)
        gains.resize ((size_t)numBins);
    resetChannelState (state);
}

void resetChannelState (ChannelState& state) noexcept
{
    std::fill (state.inputRing.begin(), state.inputRing.end(), 0.0f);
    std::fill (state.outputAccumulator.begin(), state.outputAccumulator.end(), 0.0f);
    std::fill (state.windowSumAccumulator.begin(), state.windowSumAccumulator.end(), 0.0f);
    std::fill (state.bandOnlyAccumulator.begin(), state.bandOnlyAccumulator.end(), 0.0f);
    std::fill (state.keyRing.begin(), state.keyRing.end(), 0.0f);
    state.zeroKeyRun = 0;
    for (auto& gains : state.bandGains)
        std::fill (gains.begin(), gains.end(), 1.0f);
    state.bandGainRanges = {};
    state.bypassMix = 0.0f;
    state.deltaMix = 0.0f;
    state.unchangedFrames = 0;
    state.bandOnlyMix = 0.0f;
    state.bandOnlyBand = -1;
    state.bandOnlyPending = 0;
    state.bandOnlyFramesFormed = 0;
    state.bandUnchangedFrames = 0;
    state.zeroInputRun = 0;
    state.gainsAtRest = false;
    state.restKey = {};
    state.silentFramesSkipped = 0;
    state.deferredSumsFrom = state.deferredSumsTo = -1;
    state.writePosition = 0;
    state.samplesWritten = 0;
}

} // namespace varnelle
