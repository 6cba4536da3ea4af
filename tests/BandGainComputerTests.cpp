#include "ReferenceEngine.h"
#include "engine/BandGainComputer.h"
#include "helpers/ParameterSnapshot.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace varnelle;
using test::ParameterSnapshot;

namespace
{
constexpr double rate = 48000.0;

// Every behaviour holds on both implementations: the vectorised loops the engine runs and the
// plain statement of the rule that they are checked against.
enum class GainPath
{
    optimised,
    reference
};
constexpr GainPath bothPaths[] = {GainPath::optimised, GainPath::reference};

const char* nameOf (GainPath path)
{
    return path == GainPath::optimised ? "optimised" : "reference";
}

void applyGains (GainPath path, std::complex<float>* spectrum, BandGainMemory& gains,
                 const BandSettings& settings)
{
    if (path == GainPath::optimised)
        applyBandGains (spectrum, gains, settings, rate);
    else
        reference::applyBandGains (spectrum, gains, settings, rate);
}

/** A bin's level as the given path measures it. */
float measuredLevel (GainPath path, std::complex<float> bin, int binIndex)
{
    if (path == GainPath::reference)
        return reference::binLevelDb (bin, binIndex);
    std::vector<std::complex<float>> spectrum ((size_t)fftSize);
    spectrum[(size_t)binIndex] = bin;
    std::vector<float> levels ((size_t)numBins);
    computeBinLevels (spectrum.data(), levels.data());
    return levels[(size_t)binIndex];
}

/** One channel's spectrum and gain memory, driven frame by frame like the engine does. */
struct Frame
{
    explicit Frame (GainPath p) : path (p) { reset(); }

    void reset()
    {
        spectrum.assign ((size_t)fftSize, {});
        for (auto& g : gains)
            g.assign ((size_t)numBins, 1.0f);
    }

    /** Puts a bin (and its mirror) at the given level in dB on the engine's scale. */
    void setBinLevel (int bin, float levelDb)
    {
        const float magnitude = std::pow (10.0f, levelDb / 20.0f) * 1024.0f;
        spectrum[(size_t)bin] = {magnitude, 0.0f};
        spectrum[(size_t)(fftSize - bin)] = {magnitude, 0.0f};
    }

    /** Applies one frame to a fresh copy of the spectrum and returns the gain of `bin`. */
    float run (const BandSettings& settings, int bin)
    {
        auto copy = spectrum;
        applyGains (path, copy.data(), gains, settings);
        const auto original = spectrum[(size_t)bin];
        return original.real() != 0.0f ? copy[(size_t)bin].real() / original.real()
                                       : copy[(size_t)bin].real();
    }

    float runFrames (const BandSettings& settings, int bin, int frames)
    {
        float g = 1.0f;
        for (int i = 0; i < frames; ++i)
            g = run (settings, bin);
        return g;
    }

    GainPath path;
    std::vector<std::complex<float>> spectrum;
    BandGainMemory gains;
};

float binHz (int bin)
{
    return (float)rate * (float)bin / 2048.0f;
}

// Settings for a band that reaches its target in one frame, for tests of the weights.
BandFrameSettings instantBand (float freqLo, float freqHi, float gainDb)
{
    BandFrameSettings s;
    s.freqLo = freqLo;
    s.freqHi = freqHi;
    s.gainLinear = std::pow (10.0f, gainDb / 20.0f);
    s.attackCoeff = 1.0f;
    s.releaseCoeff = 1.0f;
    return s;
}
} // namespace

TEST (BandSettings, CoefficientsFollowTheTimesWithFloorsAndLookahead)
{
    ParameterSnapshot params;
    params.set (0, BandParam::attackMs, 10.0f);
    params.set (0, BandParam::lookaheadMs, 0.0f);
    params.set (0, BandParam::releaseMs, 100.0f);
    params.set (1, BandParam::attackMs, 10.0f);
    params.set (1, BandParam::lookaheadMs, 15.0f);
    params.set (2, BandParam::attackMs, 0.0f);  // below the range: acts as 1 ms
    params.set (2, BandParam::releaseMs, 0.2f); // acts as 1 ms
    params.set (2, BandParam::lookaheadMs, 0.0f);
    params.set (3, BandParam::lookaheadMs, 25.0f); // acts as 20 ms
    params.set (3, BandParam::attackMs, 5.0f);

    const auto s = computeBandSettings (params.table(), rate);
    EXPECT_NEAR (s[0].attackCoeff, 0.656f, 0.001f);
    EXPECT_NEAR (s[0].releaseCoeff, 1.0f - std::exp (-(512.0f / 48000.0f) / 0.1f), 1e-6f);
    EXPECT_NEAR (s[1].attackCoeff, 1.0f - std::exp (-(512.0f / 48000.0f) / 0.025f), 1e-6f);
    EXPECT_LT (s[1].attackCoeff, s[0].attackCoeff);
    EXPECT_NEAR (s[2].attackCoeff, s[2].releaseCoeff, 1e-7f);
    EXPECT_NEAR (s[2].attackCoeff, 1.0f - std::exp (-(512.0f / 48000.0f) / 0.001f), 1e-6f);
    EXPECT_FLOAT_EQ (s[3].lookaheadMs, 20.0f);
    EXPECT_NEAR (s[3].attackCoeff, 1.0f - std::exp (-(512.0f / 48000.0f) / 0.025f), 1e-6f);

    // The hop is 512 samples at the engine's rate.
    const auto s44 = computeBandSettings (params.table(), 44100.0);
    EXPECT_NEAR (s44[0].attackCoeff, 1.0f - std::exp (-(512.0f / 44100.0f) / 0.01f), 1e-6f);
}

TEST (BandSettings, EdgesAreOrderedClampedAndInactiveBandsAreInert)
{
    ParameterSnapshot params;
    params.set (0, BandParam::freqLow, 5000.0f);
    params.set (0, BandParam::freqHigh, 120.0f);
    params.set (0, BandParam::levelMin, -10.0f);
    params.set (0, BandParam::levelMax, -50.0f);
    params.set (1, BandParam::bypass, 1.0f);
    params.set (1, BandParam::gain, -30.0f);
    params.set (2, BandParam::gain, -100.0f);
    params.set (3, BandParam::gain, 12.0f);
    params.remove (3, BandParam::releaseMs);
    params.set (4, BandParam::gain, 12.0f);
    params.remove (4, BandParam::bypass); // a missing bypass alone counts as not bypassed

    const auto s = computeBandSettings (params.table(), rate);
    EXPECT_FLOAT_EQ (s[0].freqLo, 120.0f);
    EXPECT_FLOAT_EQ (s[0].freqHi, 5000.0f);
    EXPECT_FLOAT_EQ (s[0].levelLo, -50.0f);
    EXPECT_FLOAT_EQ (s[0].levelHi, -10.0f);
    EXPECT_FLOAT_EQ (s[1].gainLinear, 1.0f);
    EXPECT_FLOAT_EQ (s[1].attackCoeff, 1.0f);
    EXPECT_FLOAT_EQ (s[1].releaseCoeff, 1.0f);
    EXPECT_FLOAT_EQ (s[2].gainLinear, 0.0f);
    EXPECT_FLOAT_EQ (s[3].gainLinear, 1.0f);
    EXPECT_FLOAT_EQ (s[3].releaseCoeff, 1.0f);
    EXPECT_NEAR (s[4].gainLinear, std::pow (10.0f, 0.6f), 1e-5f);
    EXPECT_FLOAT_EQ (s[4].edgeWidthHz, 150.0f);

    // A host that writes NaN into a parameter leaves that band at rest instead of poisoning it.
    params.set (4, BandParam::attackMs, std::numeric_limits<float>::quiet_NaN());
    EXPECT_FLOAT_EQ (computeBandSettings (params.table(), rate)[4].gainLinear, 1.0f);
}

TEST (BandGains, FrequencyRampsOutsideTheEdges)
{
    for (const auto path : bothPaths)
    {
        SCOPED_TRACE (nameOf (path));
        // Bins 43 and 128 at 48 kHz: 1007.8 Hz and 3000 Hz.
        const int lowBin = 43, highBin = 128;
        const float gainDb = -12.0f;
        const float gl = std::pow (10.0f, gainDb / 20.0f);

        auto gainFor = [&] (float freqLo, float freqHi, int bin)
        {
            Frame f (path);
            f.setBinLevel (bin, -20.0f);
            BandSettings settings{};
            settings[2] = instantBand (freqLo, freqHi, gainDb);
            return f.run (settings, bin);
        };

        EXPECT_NEAR (gainFor (binHz (lowBin) + 75.0f, 5000.0f, lowBin), 1.0f + 0.5f * (gl - 1.0f), 1e-4f);
        EXPECT_NEAR (gainFor (binHz (lowBin) + 150.0f, 5000.0f, lowBin), 1.0f, 1e-6f);
        EXPECT_NEAR (gainFor (binHz (lowBin) + 300.0f, 5000.0f, lowBin), 1.0f, 1e-6f);
        EXPECT_NEAR (gainFor (binHz (lowBin), 5000.0f, lowBin), gl, 1e-5f);
        EXPECT_NEAR (gainFor (100.0f, binHz (highBin) - 75.0f, highBin), 1.0f + 0.5f * (gl - 1.0f), 1e-4f);
        EXPECT_NEAR (gainFor (100.0f, binHz (highBin) - 30.0f, highBin), 1.0f + 0.8f * (gl - 1.0f), 1e-4f);

        // Reversed edges in the parameters act exactly like the swapped ones.
        ParameterSnapshot forward, reversed;
        forward.set (1, BandParam::freqLow, 900.0f);
        forward.set (1, BandParam::freqHigh, 1100.0f);
        reversed.set (1, BandParam::freqLow, 1100.0f);
        reversed.set (1, BandParam::freqHigh, 900.0f);
        for (auto* p : {&forward, &reversed})
        {
            p->set (1, BandParam::gain, -12.0f);
            p->set (1, BandParam::levelMin, -30.0f);
            p->set (1, BandParam::levelMax, -10.0f);
        }
        Frame a (path), b (path);
        for (int bin = 30; bin < 60; ++bin)
        {
            a.setBinLevel (bin, -20.0f);
            b.setBinLevel (bin, -20.0f);
        }
        for (int frame = 0; frame < 5; ++frame)
            for (int bin = 30; bin < 60; ++bin)
                ASSERT_EQ (a.run (computeBandSettings (forward.table(), rate), bin),
                           b.run (computeBandSettings (reversed.table(), rate), bin));
    }
}

TEST (BandGains, LevelEdgesAndSmoothstepKnees)
{
    for (const auto path : bothPaths)
    {
        SCOPED_TRACE (nameOf (path));
        const int bin = 40;
        const float gl = std::pow (10.0f, -12.0f / 20.0f);

        auto gainAt = [&] (float levelDb, float levelLo, float levelHi, float lowerKnee, float upperKnee)
        {
            Frame f (path);
            f.setBinLevel (bin, levelDb);
            BandSettings settings{};
            settings[0] = instantBand (20.0f, 20000.0f, -12.0f);
            settings[0].levelLo = levelLo;
            settings[0].levelHi = levelHi;
            settings[0].lowerKneeDb = lowerKnee;
            settings[0].upperKneeDb = upperKnee;
            return f.run (settings, bin);
        };

        // Hard edges: a bin exactly on an edge is inside.
        const float onEdge = measuredLevel (path, {std::pow (10.0f, -40.0f / 20.0f) * 1024.0f, 0.0f}, bin);
        EXPECT_NEAR (gainAt (-40.0f, onEdge, 0.0f, 0, 0), gl, 1e-6f);
        EXPECT_NEAR (gainAt (-40.0f, -80.0f, onEdge, 0, 0), gl, 1e-6f);
        EXPECT_NEAR (gainAt (-40.0f, onEdge + 0.01f, 0.0f, 0, 0), 1.0f, 1e-6f);
        EXPECT_NEAR (gainAt (-40.0f, -80.0f, onEdge - 0.01f, 0, 0), 1.0f, 1e-6f);

        // Inside a knee the weight follows t^2 (3 - 2t).
        const auto expectedFor = [&] (float t)
        {
            const float w = t * t * (3.0f - 2.0f * t);
            return 1.0f + w * (gl - 1.0f);
        };
        EXPECT_NEAR (gainAt (-54.0f, -60.0f, 0.0f, 12.0f, 0.0f), expectedFor (0.5f), 2e-4f);
        EXPECT_NEAR (gainAt (-57.0f, -60.0f, 0.0f, 12.0f, 0.0f), expectedFor (0.25f), 2e-4f);
        EXPECT_NEAR (gainAt (-9.0f, -60.0f, 0.0f, 0.0f, 12.0f), expectedFor (0.75f), 2e-4f);
        EXPECT_NEAR (gainAt (-30.0f, -60.0f, 0.0f, 12.0f, 12.0f), gl, 1e-6f);
        // Overlapping knees: the smaller side wins.
        EXPECT_NEAR (gainAt (-25.0f, -30.0f, -10.0f, 20.0f, 20.0f), expectedFor (0.25f), 2e-4f);

        // Coinciding edges make the band inert.
        EXPECT_FLOAT_EQ (gainAt (-40.0f, -40.0f, -40.0f, 0, 0), 1.0f);
    }
}

TEST (BandGains, AttackAndReleaseTrajectories)
{
    for (const auto path : bothPaths)
    {
        SCOPED_TRACE (nameOf (path));
        ParameterSnapshot params;
        params.set (2, BandParam::gain, -24.0f);
        params.set (2, BandParam::attackMs, 30.0f);
        params.set (2, BandParam::lookaheadMs, 10.0f);
        params.set (2, BandParam::releaseMs, 200.0f);
        const int bin = 60; // 1406 Hz, inside band 3
        const float target = std::pow (10.0f, -24.0f / 20.0f);

        Frame f (path);
        f.setBinLevel (bin, -20.0f);
        auto settings = computeBandSettings (params.table(), rate);
        const float hop = 512.0f / 48000.0f;

        // Moving away from unity: a one-pole towards the target with time constant attack + lookahead.
        for (int frame = 1; frame <= 40; ++frame)
        {
            const float g = f.run (settings, bin);
            const float expected = 1.0f + (target - 1.0f) * (1.0f - std::exp (-frame * hop / 0.040f));
            ASSERT_NEAR (g, expected, 2e-4f) << "attack frame " << frame;
        }
        const float settled = f.runFrames (settings, bin, 200);
        EXPECT_NEAR (settled, target, 1e-5f);

        // Returning to unity uses the release time.
        params.set (2, BandParam::gain, 0.0f);
        settings = computeBandSettings (params.table(), rate);
        for (int frame = 1; frame <= 60; ++frame)
        {
            const float g = f.run (settings, bin);
            const float expected = 1.0f + (target - 1.0f) * std::exp (-frame * hop / 0.2f);
            ASSERT_NEAR (g, expected, 2e-4f) << "release frame " << frame;
        }

        // A boost is also "away from unity" and uses the attack time.
        params.set (2, BandParam::gain, 12.0f);
        Frame boost (path);
        boost.setBinLevel (bin, -20.0f);
        const float g1 = boost.run (computeBandSettings (params.table(), rate), bin);
        EXPECT_NEAR (g1, 1.0f + (std::pow (10.0f, 0.6f) - 1.0f) * (1.0f - std::exp (-hop / 0.040f)), 1e-4f);
    }
}

TEST (BandGains, ProductLimitsAndBypassReturnToExactUnity)
{
    for (const auto path : bothPaths)
    {
        SCOPED_TRACE (nameOf (path));
        const int bin = 100;
        Frame f (path);
        f.setBinLevel (bin, -20.0f);

        BandSettings boosts{};
        for (auto& s : boosts)
            s = instantBand (20.0f, 20000.0f, 12.0f);
        EXPECT_FLOAT_EQ (f.run (boosts, bin), 32.0f);

        f.reset();
        f.setBinLevel (bin, -20.0f);
        BandSettings mute{};
        mute[1] = instantBand (20.0f, 20000.0f, 0.0f);
        mute[1].gainLinear = 0.0f; // what a gain of -100 dB or less gives
        EXPECT_FLOAT_EQ (f.run (mute, bin), 1.0e-6f);

        // Bypass: the next frame is exactly 1 again, with no release tail.
        ParameterSnapshot params;
        params.set (0, BandParam::gain, -20.0f);
        params.set (0, BandParam::attackMs, 1.0f);
        params.set (0, BandParam::lookaheadMs, 0.0f);
        params.set (0, BandParam::releaseMs, 2500.0f);
        Frame g (path);
        g.setBinLevel (5, -20.0f); // 117 Hz, inside band 1
        EXPECT_LT (g.runFrames (computeBandSettings (params.table(), rate), 5, 20), 0.2f);
        params.set (0, BandParam::bypass, 1.0f);
        EXPECT_EQ (g.run (computeBandSettings (params.table(), rate), 5), 1.0f);
        for (int b = 0; b < numBands; ++b)
            for (int i = 0; i < numBins; ++i)
                ASSERT_EQ (g.gains[(size_t)b][(size_t)i], 1.0f);
    }
}

TEST (BandGains, DefaultsAndSilenceLeaveEveryBinExactlyAlone)
{
    for (const auto path : bothPaths)
    {
        SCOPED_TRACE (nameOf (path));
        ParameterSnapshot params;
        for (int b = 0; b < numBands; ++b)
            params.set (b, BandParam::gain, -30.0f);

        Frame f (path);
        juce::Random random (5);
        for (auto& x : f.spectrum)
            x = {random.nextFloat() * 100.0f, random.nextFloat() * 100.0f};

        // Unity gains everywhere: bit-identical spectrum.
        ParameterSnapshot unity;
        auto copy = f.spectrum;
        applyGains (path, copy.data(), f.gains, computeBandSettings (unity.table(), rate));
        EXPECT_EQ (copy, f.spectrum);

        // A zero bin reads -160 dB and lies outside every band, so its gain memory stays 1.
        Frame silent (path);
        auto zeros = silent.spectrum;
        applyGains (path, zeros.data(), silent.gains, computeBandSettings (params.table(), rate));
        for (int b = 0; b < numBands; ++b)
            for (int i = 0; i < numBins; ++i)
                ASSERT_EQ (silent.gains[(size_t)b][(size_t)i], 1.0f);
        EXPECT_FLOAT_EQ (measuredLevel (path, {}, 3), -160.0f);
        EXPECT_NEAR (measuredLevel (path, {512.0f, 0.0f}, 3), -6.0206f, 1e-3f);
    }
}

TEST (BandGains, MirroredBinsGetTheSameGainSoTheSpectrumStaysSymmetric)
{
    for (const auto path : bothPaths)
    {
        SCOPED_TRACE (nameOf (path));
        ParameterSnapshot params;
        params.set (1, BandParam::gain, -18.0f);
        params.set (1, BandParam::attackMs, 1.0f);
        params.set (1, BandParam::lookaheadMs, 0.0f);
        Frame f (path);
        juce::Random random (11);
        for (int i = 1; i < 1024; ++i)
        {
            const std::complex<float> x{random.nextFloat() * 200.0f - 100.0f,
                                        random.nextFloat() * 200.0f - 100.0f};
            f.spectrum[(size_t)i] = x;
            f.spectrum[(size_t)(2048 - i)] = std::conj (x);
        }
        auto copy = f.spectrum;
        applyGains (path, copy.data(), f.gains, computeBandSettings (params.table(), rate));
        bool anyChanged = false;
        for (int i = 1; i < 1024; ++i)
        {
            ASSERT_EQ (copy[(size_t)i], std::conj (copy[(size_t)(2048 - i)])) << i;
            anyChanged = anyChanged || copy[(size_t)i] != f.spectrum[(size_t)i];
        }
        EXPECT_TRUE (anyChanged);
    }
}
