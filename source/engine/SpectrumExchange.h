#pragma once

#include "StftConstants.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <complex>

namespace varnelle
{

/** Hands the display the before/after views of channel 0's latest analysis frame.

    The audio thread publishes a pair once per frame; the message thread fetches the newest
    pair from its timer. `spectrumLock` is held only for the two 4 KB copies on either side.
    The audio thread never waits for it: while the reader holds it, that frame is not
    published. Pairs the reader did not fetch are overwritten; a reader must accept seeing the
    same pair twice.
*/
class SpectrumExchange
{
public:
    /** Audio thread: stores a pair (numDisplayBins values each) and counts it, unless the
        reader holds the lock right now; then nothing changes and it returns false. */
    bool publish (const float* before, const float* after) noexcept;

    /** Message thread: copies the newest pair into the caller's buffers if it is newer than
        `lastSeenFrame`, and updates `lastSeenFrame`. Returns false and copies nothing otherwise. */
    bool fetchLatest (float* before, float* after, int& lastSeenFrame) const noexcept;

    int getFrameCount() const noexcept { return spectrumFrameCounter.load(); }

private:
    friend struct SpectrumExchangeTestAccess; // lets a test play a slow reader

    mutable juce::SpinLock spectrumLock;
    float spectrumBefore[numDisplayBins] = {};
    float spectrumAfter[numDisplayBins] = {};
    std::atomic<int> spectrumFrameCounter{0};
};

/** Display values of bins 0..numDisplayBins-1: (dB + 100) / 100 limited to 0..1, on the
    band gain computer's level scale. The straightforward scalar code, kept as the reference. */
void computeDisplaySpectrumReference (const std::complex<float>* spectrum, float* out) noexcept;

/** The same values from the vectorised level kernel (log10 rounded once in double instead of
    log10f, so a value may differ by float rounding). */
void computeDisplaySpectrum (const std::complex<float>* spectrum, float* out) noexcept;

/** The same values from levels the band gain computer measured (computeBinLevels): its floor
    of −160 dB lies below the display's −100 dB, so no second log10 is needed. */
void computeDisplaySpectrumFromLevels (const float* levelDb, float* out) noexcept;

} // namespace varnelle
