#pragma once

#include "BandParameters.h"
#include "KernelVariants.h"
#include "StftConstants.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <complex>

namespace varnelle
{

/** What the audio thread hands over for a frame of channel 0: the spectrum before and after
    the band gains, and the gains as factors (turning them into dB is left to the reader). */
struct PublishedFrame
{
    float before[numDisplayBins];       // display values 0..1, before the band gains
    float after[numDisplayBins];        // and after them
    float appliedGains[numDisplayBins]; // the limited product of the five smoothed gains
    float bandLowest[numBands];         // per band, its lowest and highest smoothed gain,
    float bandHighest[numBands];        // 1 included
};

/** The same frame as the window reads it. Exactly 0 dB wherever nothing changes. */
struct DisplayFrame
{
    float before[numDisplayBins];
    float after[numDisplayBins];
    float changeDb[numDisplayBins]; // 20·log10 of the factor each bin was given
    float activityDb[numBands];     // per band: its smoothed gain furthest from 0 dB, signed
};

/** Hands the display the before/after views of channel 0's latest analysis frame.

    The audio thread publishes a frame once per frame; the message thread fetches the newest
    from its timer. `spectrumLock` is held only for the 12 KB copies on either side.
    The audio thread never waits for it: while the reader holds it, that frame is not
    published. Pairs the reader did not fetch are overwritten; a reader must accept seeing the
    same pair twice.

    The spectra cost about as much as the band gains, and most of the time no window is open:
    the engine computes them only while a reader has asked (fetched, or requestSpectra) within
    the last listenerTimeoutFrames frames. A new exchange counts as asked, so a reader that
    starts polling right after the first frames finds them.
*/
class SpectrumExchange
{
public:
    /** Audio thread: stores a frame and counts it, unless the reader holds the lock right now;
        then nothing changes and it returns false. */
    bool publish (const PublishedFrame& frame) noexcept;

    /** Message thread: copies the newest frame if it is newer than `lastSeenFrame`, and updates
        `lastSeenFrame`; the gains are turned into dB outside the lock. Returns false and copies
        nothing otherwise. */
    bool fetchLatest (DisplayFrame& frame, int& lastSeenFrame) const noexcept;

    /** The same for the bands' activities alone (numBands values). */
    bool fetchLatestActivity (float* activityDb, int& lastSeenFrame) const noexcept;

    /** The same for the two spectra alone (numDisplayBins values each). */
    bool fetchLatest (float* before, float* after, int& lastSeenFrame) const noexcept;

    int getFrameCount() const noexcept { return spectrumFrameCounter.load(); }

    /** Any thread: keeps the spectra coming for another listenerTimeoutFrames frames. */
    void requestSpectra() const noexcept { framesSinceRequest.store (0, std::memory_order_relaxed); }

    /** Audio thread, once per frame that could be published: whether anybody still wants this
        frame's spectra (which also counts the frame). */
    bool wantsSpectra() noexcept
    {
        const int frames = framesSinceRequest.load (std::memory_order_relaxed);
        if (frames >= listenerTimeoutFrames)
            return false;
        framesSinceRequest.store (frames + 1, std::memory_order_relaxed);
        return true;
    }

    /** About 2.7 s at 48 kHz; a window polls 30 times a second. */
    static constexpr int listenerTimeoutFrames = 256;

private:
    friend struct SpectrumExchangeTestAccess; // lets a test play a slow reader

    template <typename Copy>
    bool fetchIfNewer (int& lastSeenFrame, Copy&& copy) const noexcept;

    mutable juce::SpinLock spectrumLock;
    PublishedFrame latest{};
    std::atomic<int> spectrumFrameCounter{0};
    // A reader's reset may be lost to a store from the audio thread; its next poll resets it again.
    mutable std::atomic<int> framesSinceRequest{0};
};

/** Display values of bins 0..numDisplayBins-1: (dB + 100) / 100 limited to 0..1, on the
    band gain computer's level scale, from the vectorised level kernel (log10 rounded once in
    double, so a value may differ from log10f's by float rounding). */
void computeDisplaySpectrum (const std::complex<float>* spectrum, float* out,
                             KernelVariant variant = KernelVariant::baseline) noexcept;

/** The same values from levels the band gain computer measured (computeBinLevels): its floor
    of −160 dB lies below the display's −100 dB, so no second log10 is needed. */
void computeDisplaySpectrumFromLevels (const float* levelDb, float* out) noexcept;

} // namespace varnelle
