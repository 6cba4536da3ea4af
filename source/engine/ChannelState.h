#pragma once

#include "BandParameters.h"
#include "StftConstants.h"

#include <array>
#include <cstdint>
#include <vector>

namespace varnelle
{

/** Smoothed linear gain per band and bin; 1.0 after a reset. */
using BandGainMemory = std::array<std::vector<float>, numBands>;

/** Bins [begin, end) of the band gain arrays. */
struct BinRange
{
    int begin = 0, end = 0;

    bool isEmpty() const noexcept { return end <= begin; }
};

/** Per band, the bins whose smoothed gain may differ from unity: every bin where the band has
    had a target other than unity since its gains were last reset (all 1). Outside them a
    frame changes nothing, which applyBandGains uses to skip them: a band covers a few hundred
    bins at most. Empty after a reset; kept by the channel beside its gains. */
using BandGainRanges = std::array<BinRange, numBands>;

/** One channel's STFT record. Owned and used by the audio thread only.

    After a sample is stored, inputRing[writePosition] is the oldest of the last fftSize samples,
    so reading the ring from writePosition onwards gives the frame in time order. The two
    accumulators are indexed by absolute sample index modulo accumulatorSize. The frame and
    spectrum buffers of a frame belong to the engine, which shares them between channels.
*/
struct ChannelState
{
    std::vector<float> inputRing;
    std::vector<float> outputAccumulator;    // overlap-added, synthesis-windowed output
    std::vector<float> windowSumAccumulator; // overlap-added synthesis × analysis window
    BandGainMemory bandGains;
    BandGainRanges bandGainRanges{};
    float bypassMix = 0.0f; // 0: the processed output; 1: the input delayed by the latency
    float deltaMix = 0.0f;  // how much of the delayed input is taken off the output (0..1)
    // Consecutive frames, up to the newest, in which no band changed any bin (saturating).
    int unchangedFrames = 0;

    // Listening to one band: the output that only that band's gains give, overlap-added like
    // the output (same window sums); how much of it replaces the output (0..1); which band its
    // newest frames used (-1: none yet); how many of the next outputs its frames still reach;
    // the consecutive frames in which it was formed, and in which that band changed no bin
    // (both saturating).
    std::vector<float> bandOnlyAccumulator;
    float bandOnlyMix = 0.0f;
    int bandOnlyBand = -1;
    int bandOnlyPending = 0;
    int bandOnlyFramesFormed = 0;
    int bandUnchangedFrames = 0;

    // Silence: how many of the latest inputs were zero (saturating), whether the last silent
    // frame left every smoothed gain where it was, under which release settings (what
    // readReleaseKey gives), and how many frames were skipped for holding only silence.
    int zeroInputRun = 0;
    bool gainsAtRest = false;
    std::array<float, numBands> restKey{};
    std::int64_t silentFramesSkipped = 0;
    // The newest samples of the first and last silent frame whose window sums are not yet
    // added (-1: none); they are consecutive, a hop apart.
    std::int64_t deferredSumsFrom = -1, deferredSumsTo = -1;

    // The key, when the levels come from another signal: its newest fftSize samples, stored
    // at the same ring positions as the inputs so that both rings always hold the same
    // moments; how many of its latest samples were zero (saturating at keySilenceLimit);
    // whether the newest frames took their levels from it.
    std::vector<float> keyRing;
    std::int64_t zeroKeyRun = 0;
    bool keyed = false;
    int writePosition = 0;
    std::int64_t samplesWritten = 0;
};

/** Where a key's silent run stops counting: almost three years at 96 kHz. */
constexpr std::int64_t keySilenceLimit = std::int64_t{1} << 43;

/** Sizes every vector of a fresh record, then resets it. Allocates. */
void initChannelState (ChannelState& state);

/** Silence and unity gains without reallocating. */
void resetChannelState (ChannelState& state) noexcept;

} // namespace varnelle
