#include "BandGainComputer.h"

#include "BranchFree.h"
#include "SpectrumLevels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace varnelle
{
namespace
{
constexpr float edgeWidthHz = 150.0f;
constexpr float minGain = 1.0e-6f;
constexpr float maxGain = 32.0f;
constexpr float floorDb = -160.0f;

// lo if v < lo, else the smaller of v and hi: the comparison directions are part of the
// behaviour, so std::clamp is not used.
float clampTo (float v, float lo, float hi) noexcept
{
    return v < lo ? lo : std::min (v, hi);
}
VARNELLE_KERNEL_INLINE float smooth (float t) noexcept
{
    return t * t * (3.0f - 2.0f * t);
}

float load (const std::atomic<float>* p) noexcept
{
    return p->load (std::memory_order_relaxed);
}

BandFrameSettings settingsFromValues (const std::array<float, paramsPerBand>& v, float hopSeconds) noexcept
{
    auto value = [&v] (BandParam slot) { return v[(size_t)slotIndex (slot)]; };

    BandFrameSettings s;
    const float freqA = value (BandParam::freqLow), freqB = value (BandParam::freqHigh);
    s.freqLo = clampTo (std::min (freqA, freqB), 20.0f, 20000.0f);
    s.freqHi = clampTo (std::max (freqA, freqB), 20.0f, 20000.0f);

    const float levelA = value (BandParam::levelMin), levelB = value (BandParam::levelMax);
    s.levelLo = clampTo (std::min (levelA, levelB), -80.0f, 0.0f);
    s.levelHi = clampTo (std::max (levelA, levelB), -80.0f, 0.0f);

    const float gainDb = value (BandParam::gain);
    s.gainLinear = gainDb > -100.0f ? std::pow (10.0f, gainDb * 0.05f) : 0.0f;

    s.lookaheadMs = clampTo (value (BandParam::lookaheadMs), 0.0f, 20.0f);
    s.upperKneeDb = clampTo (value (BandParam::upperKneeDb), 0.0f, 60.0f);
    s.lowerKneeDb = clampTo (value (BandParam::lowerKneeDb), 0.0f, 60.0f);

    // Times below 1 ms act as 1 ms; the lookahead only lengthens the attack.
    const float attackSeconds =
        std::max (value (BandParam::attackMs) * 0.001f, 0.001f) + s.lookaheadMs * 0.001f;
    const float releaseSeconds = std::max (value (BandParam::releaseMs) * 0.001f, 0.001f);
    s.attackCoeff = 1.0f - std::exp (-hopSeconds / attackSeconds);
    s.releaseCoeff = 1.0f - std::exp (-hopSeconds / releaseSeconds);
    s.edgeWidthHz = edgeWidthHz;
    return s;
}

} // namespace

namespace
{
// Reads a band's values once, for one frame; false if the band rests: bypassed, or a value
// missing or not finite (a host that writes NaN or infinity must not poison the gains).
bool readBandValues (const std::array<std::atomic<float>*, paramsPerBand>& row,
                     std::array<float, paramsPerBand>& values) noexcept
{
    const auto* bypass = row[(size_t)slotIndex (BandParam::bypass)];
    if (bypass != nullptr && load (bypass) > 0.5f)
        return false;

    for (size_t slot = 0; slot < (size_t)paramsPerBand; ++slot)
    {
        if (slot == (size_t)slotIndex (BandParam::bypass))
            continue;
        if (row[slot] == nullptr)
            return false;
        values[slot] = load (row[slot]);
        if (!std::isfinite (values[slot]))
            return false;
    }
    return true;
}
} // namespace

BandSettings computeBandSettings (const BandParamPointers& params, double sampleRate) noexcept
{
    const float hopSeconds = (float)hopSize / (float)sampleRate;
    BandSettings settings{};

    for (size_t b = 0; b < (size_t)numBands; ++b)
    {
        std::array<float, paramsPerBand> values{};
        if (readBandValues (params[b], values))
            settings[b] = settingsFromValues (values, hopSeconds);
    }

    return settings;
}

ReleaseKey readReleaseKey (const BandParamPointers& params) noexcept
{
    ReleaseKey key;
    for (size_t b = 0; b < (size_t)numBands; ++b)
    {
        std::array<float, paramsPerBand> values{};
        key[b] =
            readBandValues (params[b], values) ? values[(size_t)slotIndex (BandParam::releaseMs)] : -1.0f;
    }
    return key;
}

namespace
{
// One band's settings as the per-bin loop uses them: every value that depends only on the
// band is formed here once, with the same operations the per-bin rule would perform.
struct BandConstants
{
    float lowEdgeHz;  // freqLo − edgeWidthHz
    float highEdgeHz; // edgeWidthHz + freqHi
    float rampWidthHz;
    float levelLo, levelHi;
    float lowerKneeWidth, upperKneeWidth;
    float gainMinusOne;
    float attackCoeff, releaseCoeff;
    bool frequencyActive, levelActive;
    bool lowerSoft, upperSoft;
};

BandConstants makeBandConstants (const BandFrameSettings& s) noexcept
{
    BandConstants c;
    c.lowEdgeHz = s.freqLo - s.edgeWidthHz;
    c.highEdgeHz = s.edgeWidthHz + s.freqHi;
    c.rampWidthHz = std::max (s.edgeWidthHz, 0.001f);
    c.levelLo = s.levelLo;
    c.levelHi = s.levelHi;
    c.lowerKneeWidth = std::max (s.lowerKneeDb, 0.001f);
    c.upperKneeWidth = std::max (s.upperKneeDb, 0.001f);
    c.gainMinusOne = s.gainLinear - 1.0f;
    c.attackCoeff = s.attackCoeff;
    c.releaseCoeff = s.releaseCoeff;
    c.frequencyActive = s.freqLo < s.freqHi;
    c.levelActive = s.levelLo < s.levelHi;
    c.lowerSoft = s.lowerKneeDb > 0.0f;
    c.upperSoft = s.upperKneeDb > 0.0f;
    return c;
}

// The frequency weights of one band for every bin: 1 between its edges, falling linearly to 0
// over the ramp width outside them; 0 for a band whose edges are not in order.
VARNELLE_KERNEL_INLINE void computeFrequencyWeights (const BandConstants& c, const float* __restrict binHz,
                                                     float* __restrict weights) noexcept
{
    namespace bf = branchfree;
    for (int i = 0; i < numBins; ++i)
    {
        const float hz = binHz[i];
        const float rampLo = bf::clampTo ((hz - c.lowEdgeHz) / c.rampWidthHz, 0.0f, 1.0f);
        const float rampHi = bf::clampTo ((c.highEdgeHz - hz) / c.rampWidthHz, 0.0f, 1.0f);
        weights[i] = bf::select (c.frequencyActive, bf::minOf (rampHi, rampLo), 0.0f);
    }
}

// One band over all bins: moves its smoothed gains and multiplies them into `product`. The knee
// kinds are template arguments so that each loop computes only the edge it needs; the selects
// are branch-free (BranchFree.h) so that the loop vectorises.
template <bool lowerSoft, bool upperSoft>
VARNELLE_KERNEL_INLINE void updateBand (const BandConstants& c, const float* __restrict frequencyWeights,
                                        const float* __restrict levelDb, float* __restrict gains,
                                        float* __restrict product, BinRange bins) noexcept
{
    namespace bf = branchfree;
    for (int i = bins.begin; i < bins.end; ++i)
    {
        const float frequency = frequencyWeights[i];
        const float level = levelDb[i];
        float lower, upper;
        if constexpr (lowerSoft)
            lower = smooth (bf::clampTo ((level - c.levelLo) / c.lowerKneeWidth, 0.0f, 1.0f));
        else
            lower = bf::select (level >= c.levelLo, 1.0f, 0.0f);
        if constexpr (upperSoft)
            upper = smooth (bf::clampTo ((c.levelHi - level) / c.upperKneeWidth, 0.0f, 1.0f));
        else
            upper = bf::select (level <= c.levelHi, 1.0f, 0.0f);
        const float levelWeightValue = bf::select (c.levelActive, bf::minOf (upper, lower), 0.0f);

        const float target = (frequency * levelWeightValue) * c.gainMinusOne + 1.0f;
        const float g = gains[i];
        const float coeff =
            bf::select (std::abs (target - 1.0f) > std::abs (g - 1.0f), c.attackCoeff, c.releaseCoeff);
        const float updated = (target - g) * coeff + g;
        gains[i] = updated;
        product[i] *= updated;
    }
}

bool sameKey (const FrequencyWeightCache::Key& a, const FrequencyWeightCache::Key& b) noexcept
{
    // Bit for bit, so that -0 and +0 or two NaNs are never taken for each other.
    return std::memcmp (&a.lowEdgeHz, &b.lowEdgeHz, sizeof (float)) == 0 &&
           std::memcmp (&a.highEdgeHz, &b.highEdgeHz, sizeof (float)) == 0 &&
           std::memcmp (&a.rampWidthHz, &b.rampWidthHz, sizeof (float)) == 0 &&
           std::memcmp (&a.binWidthHz, &b.binWidthHz, sizeof (float)) == 0 && a.active == b.active;
}

VARNELLE_KERNEL_INLINE void scaleBins (std::complex<float>* spectrum, const float* __restrict gain,
                                       int count) noexcept
{
    // Both parts of a bin by its gain, as std::complex<float>::operator*= (float) does.
    float* __restrict parts = reinterpret_cast<float*> (spectrum);
    for (int i = 0; i < count; ++i)
    {
        parts[2 * i] *= gain[i];
        parts[2 * i + 1] *= gain[i];
    }
}

// The bins whose weight is above 0 (the weights rise and fall once over the bins).
BinRange findSupport (const float* weights) noexcept
{
    BinRange support;
    while (support.begin < numBins && !(weights[support.begin] > 0.0f))
        ++support.begin;
    support.end = numBins;
    while (support.end > support.begin && !(weights[support.end - 1] > 0.0f))
        --support.end;
    return support;
}

// The bins a band must compute this frame: those it may have changed since the reset, widened
// by its frequency support when it changes anything now. A bin's target differs from unity
// only where its weight is above 0, and only if the band has a level range and a gain other
// than 0 dB (else (w · l) · 0 + 1 = 1 exactly); where the target is unity and the gain already
// is, a frame leaves both as they are.
BinRange widenRange (BinRange& range, const BandConstants& c, BinRange support) noexcept
{
    const bool changesAnything = c.gainMinusOne != 0.0f && c.levelActive;
    if (changesAnything && !support.isEmpty())
        range = range.isEmpty()
                    ? support
                    : BinRange{std::min (range.begin, support.begin), std::max (range.end, support.end)};
    return range;
}

VARNELLE_KERNEL_INLINE void bandGainsKernel (std::complex<float>* spectrum, int spectrumBins,
                                             const float* levelDb, BandGainMemory& bandGains,
                                             const BandSettings& settings, double sampleRate,
                                             FrequencyWeightCache* cache, BandGainRanges* ranges,
                                             float* appliedGains) noexcept
{
    BinRange uncachedSupport;
    alignas (64) float binHz[numBins];
    alignas (64) float product[numBins];
    alignas (64) float uncachedWeights[numBins];

    const float binWidthHz = (float)sampleRate;
    bool haveBinHz = false;
    for (int i = 0; i < numBins; ++i)
        product[i] = 1.0f;

    // Bands in order, so every bin's product is formed band 1 first, whichever bins are skipped.
    for (size_t b = 0; b < (size_t)numBands; ++b)
    {
        const auto c = makeBandConstants (settings[b]);

        float* weights = cache != nullptr ? cache->weights[b].data() : uncachedWeights;
        const FrequencyWeightCache::Key key{c.lowEdgeHz, c.highEdgeHz, c.rampWidthHz, binWidthHz,
                                            c.frequencyActive};
        if (cache == nullptr || !cache->valid[b] || !sameKey (cache->keys[b], key))
        {
            if (!haveBinHz)
            {
                for (int i = 0; i < numBins; ++i)
                    binHz[i] = binWidthHz * (float)i * (1.0f / 2048.0f);
                haveBinHz = true;
            }
            computeFrequencyWeights (c, binHz, weights);
            const auto support = findSupport (weights);
            if (cache != nullptr)
            {
                cache->keys[b] = key;
                cache->valid[b] = true;
                cache->supports[b] = support;
            }
            uncachedSupport = support;
        }

        const BinRange bins =
            ranges != nullptr
                ? widenRange ((*ranges)[b], c, cache != nullptr ? cache->supports[b] : uncachedSupport)
                : BinRange{0, numBins};

        float* gains = bandGains[b].data();
        if (c.lowerSoft)
        {
            if (c.upperSoft)
                updateBand<true, true> (c, weights, levelDb, gains, product, bins);
            else
                updateBand<true, false> (c, weights, levelDb, gains, product, bins);
        }
        else
        {
            if (c.upperSoft)
                updateBand<false, true> (c, weights, levelDb, gains, product, bins);
            else
                updateBand<false, false> (c, weights, levelDb, gains, product, bins);
        }
    }

    float* gain = product; // limited in place
    for (int i = 0; i < numBins; ++i)
        gain[i] = branchfree::clampTo (product[i], minGain, maxGain);
    if (appliedGains != nullptr)
        std::copy (gain, gain + numDisplayBins, appliedGains);

    scaleBins (spectrum, gain, numBins);
    if (spectrumBins >= fftSize)
    {
        // Bins 2048 − i for i = 1..1023 are 1025..2047 in reverse order.
        alignas (64) float mirrored[fftSize / 2 - 1];
        for (int i = 1; i < fftSize / 2; ++i)
            mirrored[fftSize / 2 - 1 - i] = gain[i];
        scaleBins (spectrum + numBins, mirrored, fftSize / 2 - 1);
    }
}

#if VARNELLE_HAS_AVX2_KERNELS
VARNELLE_AVX2_KERNEL void bandGainsKernelAvx2 (std::complex<float>* spectrum, int spectrumBins,
                                               const float* levelDb, BandGainMemory& bandGains,
                                               const BandSettings& settings, double sampleRate,
                                               FrequencyWeightCache* cache, BandGainRanges* ranges,
                                               float* appliedGains) noexcept
{
    bandGainsKernel (spectrum, spectrumBins, levelDb, bandGains, settings, sampleRate, cache, ranges,
                     appliedGains);
}
#endif
} // namespace

void computeBinLevels (const std::complex<float>* spectrum, float* levelDb, KernelVariant variant) noexcept
{
    computeLevelsDb (spectrum, numBins, floorDb, levelDb, variant);
}

FrequencyWeightCache::FrequencyWeightCache() noexcept : keys{}, valid{}, supports{}, weights{} {}

void applyBandGains (std::complex<float>* spectrum, int spectrumBins, const float* levelDb,
                     BandGainMemory& bandGains, const BandSettings& settings, double sampleRate,
                     FrequencyWeightCache* cache, KernelVariant variant, BandGainRanges* ranges,
                     float* appliedGains) noexcept
{
#if VARNELLE_HAS_AVX2_KERNELS
    if (variant == KernelVariant::avx2)
    {
        bandGainsKernelAvx2 (spectrum, spectrumBins, levelDb, bandGains, settings, sampleRate, cache, ranges,
                             appliedGains);
        return;
    }
#endif
    (void)variant;
    bandGainsKernel (spectrum, spectrumBins, levelDb, bandGains, settings, sampleRate, cache, ranges,
                     appliedGains);
}

bool relaxBandGainsInSilence (BandGainMemory& bandGains, const BandGainRanges& ranges,
                              const BandSettings& settings) noexcept
{
    // The target is unity and |target − 1| = 0 never exceeds |g − 1|, so the release applies.
    // Outside the ranges the gains are unity already and stay so.
    bool changed = false;
    for (size_t b = 0; b < (size_t)numBands; ++b)
    {
        const float coeff = settings[b].releaseCoeff;
        float* __restrict gains = bandGains[b].data();
        int differences = 0;
        for (int i = ranges[b].begin; i < ranges[b].end; ++i)
        {
            const float g = gains[i];
            const float updated = (1.0f - g) * coeff + g;
            differences += updated != g ? 1 : 0;
            gains[i] = updated;
        }
        changed = changed || differences != 0;
    }
    return changed;
}

namespace
{
// The lowest and highest of one band's gains over its range, 1 included. Eight running
// extremes, so that the loop vectorises.
VARNELLE_KERNEL_INLINE void extremesKernel (const BandGainMemory& bandGains, const BandGainRanges& ranges,
                                            float* lowest, float* highest) noexcept
{
    constexpr int lanes = 8;
    for (size_t b = 0; b < (size_t)numBands; ++b)
    {
        const float* __restrict gains = bandGains[b].data();
        float lo[lanes], hi[lanes];
        for (int l = 0; l < lanes; ++l)
            lo[l] = hi[l] = 1.0f;
        int i = ranges[b].begin;
        for (; i + lanes <= ranges[b].end; i += lanes)
            for (int l = 0; l < lanes; ++l)
            {
                // Plain selects between loaded values: nothing to trap, so they become blends.
                const float g = gains[i + l];
                lo[l] = g < lo[l] ? g : lo[l];
                hi[l] = hi[l] < g ? g : hi[l];
            }
        for (; i < ranges[b].end; ++i)
        {
            lo[0] = branchfree::minOf (lo[0], gains[i]);
            hi[0] = branchfree::maxOf (hi[0], gains[i]);
        }
        lowest[b] = *std::min_element (lo, lo + lanes);
        highest[b] = *std::max_element (hi, hi + lanes);
    }
}

#if VARNELLE_HAS_AVX2_KERNELS
VARNELLE_AVX2_KERNEL void extremesKernelAvx2 (const BandGainMemory& bandGains, const BandGainRanges& ranges,
                                              float* lowest, float* highest) noexcept
{
    extremesKernel (bandGains, ranges, lowest, highest);
}
#endif
} // namespace

void findBandGainExtremes (const BandGainMemory& bandGains, const BandGainRanges& ranges, float* lowest,
                           float* highest, KernelVariant variant) noexcept
{
#if VARNELLE_HAS_AVX2_KERNELS
    if (variant == KernelVariant::avx2)
    {
        extremesKernelAvx2 (bandGains, ranges, lowest, highest);
        return;
    }
#endif
    (void)variant;
    extremesKernel (bandGains, ranges, lowest, highest);
}

void computeAppliedGains (const BandGainMemory& bandGains, const BandGainRanges& ranges,
                          float* appliedGains) noexcept
{
    // In band order, as applyBandGains forms the product: outside a band's range its gains are
    // exactly 1, so skipping them changes no bit.
    std::fill (appliedGains, appliedGains + numDisplayBins, 1.0f);
    for (size_t b = 0; b < (size_t)numBands; ++b)
    {
        const float* gains = bandGains[b].data();
        for (int i = ranges[b].begin; i < std::min (ranges[b].end, numDisplayBins); ++i)
            appliedGains[i] *= gains[i];
    }
    for (int i = 0; i < numDisplayBins; ++i)
        appliedGains[i] = branchfree::clampTo (appliedGains[i], minGain, maxGain);
}

void applyBandGains (std::complex<float>* spectrum, BandGainMemory& bandGains, const BandSettings& settings,
                     double sampleRate) noexcept
{
    alignas (64) float levelDb[numBins];
    computeBinLevels (spectrum, levelDb);
    applyBandGains (spectrum, fftSize, levelDb, bandGains, settings, sampleRate);
}

} // namespace varnelle
