#include "BandGainComputer.h"

#include <algorithm>
#include <cmath>

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
float clamp01 (float v) noexcept
{
    return clampTo (v, 0.0f, 1.0f);
}
float smooth (float t) noexcept
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

float frequencyWeight (const BandFrameSettings& s, float binHz) noexcept
{
    if (!(s.freqLo < s.freqHi))
        return 0.0f;
    const float width = std::max (s.edgeWidthHz, 0.001f);
    const float rampLo = clamp01 ((binHz - (s.freqLo - s.edgeWidthHz)) / width);
    const float rampHi = clamp01 ((s.edgeWidthHz + s.freqHi - binHz) / width);
    return std::min (rampHi, rampLo);
}

float levelWeight (const BandFrameSettings& s, float levelDb) noexcept
{
    if (!(s.levelLo < s.levelHi))
        return 0.0f;
    const float lower = s.lowerKneeDb > 0.0f
                            ? smooth (clamp01 ((levelDb - s.levelLo) / std::max (s.lowerKneeDb, 0.001f)))
                            : (levelDb >= s.levelLo ? 1.0f : 0.0f);
    const float upper = s.upperKneeDb > 0.0f
                            ? smooth (clamp01 ((s.levelHi - levelDb) / std::max (s.upperKneeDb, 0.001f)))
                            : (levelDb <= s.levelHi ? 1.0f : 0.0f);
    return std::min (upper, lower);
}
} // namespace

float binLevelDb (std::complex<float> bin, int binIndex) noexcept
{
    const float scale = (binIndex == 0 || binIndex == fftSize / 2) ? 1.0f / 2048.0f : 1.0f / 1024.0f;
    const float m = std::hypot (bin.real(), bin.imag()) * scale + 1.0e-9f;
    return m > 0.0f ? std::max (20.0f * std::log10 (m), floorDb) : floorDb;
}

BandSettings computeBandSettings (const BandParamPointers& params, double sampleRate) noexcept
{
    const float hopSeconds = (float)hopSize / (float)sampleRate;
    BandSettings settings{};

    for (size_t b = 0; b < (size_t)numBands; ++b)
    {
        const auto& row = params[b];
        const auto* bypass = row[(size_t)slotIndex (BandParam::bypass)];
        if (bypass != nullptr && load (bypass) > 0.5f)
            continue;

        // Each value is read once; the whole frame uses this snapshot.
        std::array<float, paramsPerBand> values{};
        bool usable = true;
        for (size_t slot = 0; slot < (size_t)paramsPerBand && usable; ++slot)
        {
            if (slot == (size_t)slotIndex (BandParam::bypass))
                continue;
            if (row[slot] == nullptr)
                usable = false;
            else
                values[slot] = load (row[slot]);
            // A host that writes NaN or infinity must not poison the gains: the band rests.
            usable = usable && std::isfinite (values[slot]);
        }

        if (usable)
            settings[b] = settingsFromValues (values, hopSeconds);
    }

    return settings;
}

void applyBandGains (std::complex<float>* spectrum, BandGainMemory& bandGains, const BandSettings& settings,
                     double sampleRate) noexcept
{
    const float binWidthHz = (float)sampleRate;
    for (int i = 0; i < numBins; ++i)
    {
        // All bands see the level of the bin before any gain of this frame.
        const float levelDb = binLevelDb (spectrum[i], i);
        const float binHz = binWidthHz * (float)i * (1.0f / 2048.0f);
        float product = 1.0f;

        for (size_t b = 0; b < (size_t)numBands; ++b)
        {
            const auto& s = settings[b];
            const float weight = frequencyWeight (s, binHz) * levelWeight (s, levelDb);
            const float target = weight * (s.gainLinear - 1.0f) + 1.0f;

            // Attack while moving further from unity (cut or boost), release otherwise.
            float& g = bandGains[b][(size_t)i];
            const float coeff =
                std::abs (target - 1.0f) > std::abs (g - 1.0f) ? s.attackCoeff : s.releaseCoeff;
            g = (target - g) * coeff + g;
            product *= g;
        }

        const float gain = product < minGain ? minGain : std::min (product, maxGain);
        spectrum[i] *= gain;
        if (i > 0 && i < fftSize / 2)
            spectrum[fftSize - i] *= gain;
    }
}

} // namespace varnelle
