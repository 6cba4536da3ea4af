#include "SpectrumExchange.h"

#include "BranchFree.h"
#include "SpectrumLevels.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace varnelle
{

bool SpectrumExchange::publish (const PublishedFrame& frame) noexcept
{
    // Never waits: a reader holding the lock (perhaps pre-empted while it copies) costs the
    // display this one frame, never the audio thread its deadline.
    const juce::SpinLock::ScopedTryLockType lock (spectrumLock);
    if (!lock.isLocked())
        return false;

    latest = frame;
    spectrumFrameCounter.fetch_add (1);
    return true;
}

namespace
{
// Per band, the gain furthest from 0 dB in dB, from its lowest and highest; a boost wins a tie.
void activityFromExtremes (const float* lowest, const float* highest, float* activityDb) noexcept
{
    for (int b = 0; b < numBands; ++b)
    {
        const float cutDb = 20.0f * std::log10 (lowest[b]);
        const float boostDb = 20.0f * std::log10 (highest[b]);
        activityDb[b] = -cutDb > boostDb ? cutDb : boostDb;
    }
}
} // namespace

bool SpectrumExchange::fetchLatest (DisplayFrame& frame, int& lastSeenFrame) const noexcept
{
    // The factors are copied where their dB go and turned into dB there, outside the lock.
    float lowest[numBands], highest[numBands];
    const bool fetched = fetchIfNewer (
        lastSeenFrame,
        [&]
        {
            std::copy (std::begin (latest.before), std::end (latest.before), frame.before);
            std::copy (std::begin (latest.after), std::end (latest.after), frame.after);
            std::copy (std::begin (latest.appliedGains), std::end (latest.appliedGains), frame.changeDb);
            std::copy (std::begin (latest.bandLowest), std::end (latest.bandLowest), lowest);
            std::copy (std::begin (latest.bandHighest), std::end (latest.bandHighest), highest);
        });
    if (!fetched)
        return false;
    computeGainsDb (frame.changeDb, numDisplayBins, frame.changeDb);
    activityFromExtremes (lowest, highest, frame.activityDb);
    return true;
}

bool SpectrumExchange::fetchLatestActivity (float* activityDb, int& lastSeenFrame) const noexcept
{
    float lowest[numBands], highest[numBands];
    const bool fetched =
        fetchIfNewer (lastSeenFrame,
                      [&]
                      {
                          std::copy (std::begin (latest.bandLowest), std::end (latest.bandLowest), lowest);
                          std::copy (std::begin (latest.bandHighest), std::end (latest.bandHighest), highest);
                      });
    if (fetched)
        activityFromExtremes (lowest, highest, activityDb);
    return fetched;
}

bool SpectrumExchange::fetchLatest (float* before, float* after, int& lastSeenFrame) const noexcept
{
    return fetchIfNewer (lastSeenFrame,
                         [&]
                         {
                             std::copy (latest.before, latest.before + numDisplayBins, before);
                             std::copy (latest.after, latest.after + numDisplayBins, after);
                         });
}

template <typename Copy>
bool SpectrumExchange::fetchIfNewer (int& lastSeenFrame, Copy&& copy) const noexcept
{
    requestSpectra();
    const int count = spectrumFrameCounter.load();
    if (count == lastSeenFrame)
        return false;

    {
        const juce::SpinLock::ScopedLockType lock (spectrumLock);
        copy();
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
