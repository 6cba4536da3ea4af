#pragma once

#include "BandParameters.h"
#include "ChannelState.h"

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

/** A bin's level in dB on the engine's scale: a full-scale sine centred on a bin reads about
    -6 dB; silence reads -160 dB. */
float binLevelDb (std::complex<float> bin, int binIndex) noexcept;

/** Reads each band's parameters once and turns them into this frame's settings. A bypassed
    band, or one with a missing or non-finite value, keeps the inert defaults. */
BandSettings computeBandSettings (const BandParamPointers& params, double sampleRate) noexcept;

/** Moves the smoothed per-band gains of bins 0..numBins-1 towards their targets and applies
    their limited product to `spectrum` (fftSize bins, mirrored half included). */
void applyBandGains (std::complex<float>* spectrum, BandGainMemory& bandGains, const BandSettings& settings,
                     double sampleRate) noexcept;

} // namespace varnelle
