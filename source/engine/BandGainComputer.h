#pragma once

#include "BandParameters.h"
#include "ChannelState.h"
#include "KernelVariants.h"

#include <array>
#include <complex>

namespace varnelle
{

/** One band's settings for one analysis frame, built from its parameters at the frame start.
    The defaults describe an inert band that drives its smoothed gains straight back to 1. */
struct BandFrameSettings
{
    float freqLo = 20.0f;       // Hz
    float freqHi = 20000.0f;    // Hz
    float levelLo = -80.0f;     // dB
    float levelHi = 0.0f;       // dB
    float gainLinear = 1.0f;    // factor
    float attackCoeff = 1.0f;   // 0..1, while the gain moves away from unity
    float releaseCoeff = 1.0f;  // 0..1, while it returns towards unity
    float lookaheadMs = 10.0f;  // ms, lengthens the attack only
    float upperKneeDb = 0.0f;   // dB, inside the upper level edge
    float lowerKneeDb = 0.0f;   // dB, inside the lower level edge
    float edgeWidthHz = 150.0f; // Hz, linear ramp outside each frequency edge
};

using BandSettings = std::array<BandFrameSettings, numBands>;

/** Reads each band's parameters once and turns them into this frame's settings. A bypassed
    band, or one with a missing or non-finite value, keeps the inert defaults. */
BandSettings computeBandSettings (const BandParamPointers& params, double sampleRate) noexcept;

/** What the release coefficients of computeBandSettings depend on (at one sample rate): per
    band, its release time in ms, or -1 for a band that rests. Equal keys, equal coefficients;
    cheap to read, no exp. */
using ReleaseKey = std::array<float, numBands>;
ReleaseKey readReleaseKey (const BandParamPointers& params) noexcept;

/** Every band's frequency weight for every bin, kept from frame to frame. A band's weights
    depend only on its frequency edges and the sample rate, so applyBandGains recomputes them
    only when those change (compared bit for bit, so a cached weight is always the one the
    current settings give). Used by one thread at a time. */
struct FrequencyWeightCache
{
    struct Key
    {
        float lowEdgeHz, highEdgeHz, rampWidthHz, binWidthHz;
        bool active;
    };

    FrequencyWeightCache() noexcept;

    std::array<Key, numBands> keys;
    std::array<bool, numBands> valid;
    std::array<BinRange, numBands> supports; // the bins whose weight is above 0
    alignas (64) std::array<std::array<float, numBins>, numBands> weights;
};

/** The levels of bins 0..numBins-1 in dB on the engine's scale: 20·log10 (|X| / 1024 + 1e-9),
    bins 0 and 1024 over 2048, floored at -160 dB; a full-scale sine centred on a bin reads
    about -6 dB. log10 is rounded once in double, so a level may differ from log10f's by float
    rounding. */
void computeBinLevels (const std::complex<float>* spectrum, float* levelDb,
                       KernelVariant variant = KernelVariant::baseline) noexcept;

/** Moves the smoothed per-band gains of bins 0..numBins-1 towards their targets and applies
    their limited product to `spectrum`. Per bin: each band's target is 1 + weight · (gain − 1),
    the weight the product of its frequency ramp and level knees; each gain moves towards its
    target by the attack coefficient when that leads further from unity, else by the release;
    the product of the five is limited to 1e-6..32. Single-precision formulas in that order,
    arranged for the vectoriser: band by band over arrays of bins, per-band constants
    hoisted, selects instead of branches.

    `levelDb`: the numBins pre-gain levels (computeBinLevels). `spectrumBins`: numBins for the
    half spectrum of a real transform, or fftSize, in which case bins 2048 − i get the gains of
    bins i = 1..1023 as well.
    `cache`, if given, keeps the frequency weights between calls. Allocates nothing (about
    16 KB of stack); safe on the audio thread. Every `variant` gives the same results. With
    `ranges` (which must have been kept with these gains since their reset), only the bins a
    frame can change are computed; the results are the same. `appliedGains`, if given, receives
    the factors bins 0..numDisplayBins-1 were given. */
void applyBandGains (std::complex<float>* spectrum, int spectrumBins, const float* levelDb,
                     BandGainMemory& bandGains, const BandSettings& settings, double sampleRate,
                     FrequencyWeightCache* cache = nullptr, KernelVariant variant = KernelVariant::baseline,
                     BandGainRanges* ranges = nullptr, float* appliedGains = nullptr) noexcept;

/** What applyBandGains does to the smoothed gains when the spectrum is all zero: every level
    is the floor, so every band's target is unity and each gain moves towards it by its band's
    release, bit for bit as applyBandGains would move it (the spectrum itself stays zero).
    `ranges`: as applyBandGains keeps them. Returns whether any gain changed; once none does,
    more such frames with the same settings change nothing either. */
bool relaxBandGainsInSilence (BandGainMemory& bandGains, const BandGainRanges& ranges,
                              const BandSettings& settings) noexcept;

/** The factor each of bins 0..numDisplayBins-1 gets: the product of the five smoothed gains,
    limited as applyBandGains limits it, bit for bit. `ranges`: as applyBandGains keeps them. */
void computeAppliedGains (const BandGainMemory& bandGains, const BandGainRanges& ranges,
                          float* appliedGains) noexcept;

/** Per band, the lowest and highest of its smoothed gains (1 included: both are 1 where the
    band changes nothing). */
void findBandGainExtremes (const BandGainMemory& bandGains, const BandGainRanges& ranges, float* lowest,
                           float* highest, KernelVariant variant = KernelVariant::baseline) noexcept;

/** computeBinLevels and applyBandGains on a full spectrum (fftSize bins, mirror included). */
void applyBandGains (std::complex<float>* spectrum, BandGainMemory& bandGains, const BandSettings& settings,
                     double sampleRate) noexcept;

} // namespace varnelle
