#include "SpectrumExchange.h"

#include "BranchFree.h"
#include "SpectrumLevels.h"

#include <algorithm>
#include <cmath>

namespace varnelle
{

bool SpectrumExchange::publish (const float* before, const float* after) noexcept
{
    // Never waits: a reader holding the lock (perhaps pre-empted while it copies) costs the
    // display this one frame, never the audio thread its deadline.
    const juce::SpinLock::ScopedTryLockType lock (spectrumLock);
    if (!lock.isLocked())
        return false;

    std::copy (before, before + numDisplayBins, spectrumBefore);
    std::copy (after, after + numDisplayBins, spectrumAfter);
    spectrumFrameCounter.fetch_add (1);
    return true;
}

bool SpectrumExchange::fetchLatest (float* before, float* after, int& lastSeenFrame) const noexcept
{
    requestSpectra();
    const int count = spectrumFrameCounter.load();
    if (count == lastSeenFrame)
        return false;

    {
        const juce::SpinLock::ScopedLockType lock (spectrumLock);
        std::copy (spectrumBefore, spectrumBefore + numDisplayBins, before);
        std::copy (spectrumAfter, spectrumAfter + numDisplayBins, after);
    }
    lastSeenFrame = count;
    return true;
}

namespace
{
constexpr float displayFloorDb = -100.0f;

void displayValuesFromDb (const float* db, float* out) noexcept
{
    for (int i = 0; i < numDisplayBins; ++i)
    {
        const float value = (db[i] + 100.0f) / 100.0f;
        out[i] = branchfree::clampTo (value, 0.0f, 1.0f);
    }
}
} // namespace

void computeDisplaySpectrum (const std::complex<float>* spectrum, float* out, KernelVariant variant) noexcept
{
    alignas (64) float db[numDisplayBins];
    computeLevelsDb (spectrum, numDisplayBins, displayFloorDb, db, variant);
    displayValuesFromDb (db, out);
}

void computeDisplaySpectrumFromLevels (const float* levelDb, float* out) noexcept
{
    // max (max (x, -160), -100) is max (x, -100): the same dB as computing with the display floor.
    alignas (64) float db[numDisplayBins];
    for (int i = 0; i < numDisplayBins; ++i)
        db[i] = branchfree::maxOf (levelDb[i], displayFloorDb);
    displayValuesFromDb (db, out);
}

} // namespace varnelle
