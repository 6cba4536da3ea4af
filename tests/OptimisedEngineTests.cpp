#include "ReferenceEngine.h"
#include "engine/BandGainComputer.h"
#include "engine/FrameFft.h"
#include "engine/SpectrumExchange.h"
#include "engine/SpectrumLevels.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

#include <fftw3.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <thread>

using namespace varnelle;

namespace
{
std::unique_ptr<VarnelleAudioProcessor> makeProcessor (int numChannels, double sampleRate)
{
    auto processor = std::make_unique<VarnelleAudioProcessor>();
    const auto set = numChannels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (set);
    layout.outputBuses.add (set);
    processor->setBusesLayout (layout);
    processor->setRateAndBufferSizeDetails (sampleRate, 512);
    processor->prepareToPlay (sampleRate, 512);
    return processor;
}

juce::String id (int band, BandParam slot)
{
    return getBandParameterId (band, slot);
}

// Five active bands with their own regions, gains, soft knees and timing.
void configureBands (VarnelleAudioProcessor& p)
{
    const float gains[] = {-6.0f, 3.0f, -9.0f, 4.5f, -3.0f};
    const float levelMins[] = {-50.0f, -70.0f, -40.0f, -60.0f, -45.0f};
    for (int b = 0; b < numBands; ++b)
    {
        test::setParameter (p, id (b, BandParam::gain), gains[b]);
        test::setParameter (p, id (b, BandParam::levelMin), levelMins[b]);
        test::setParameter (p, id (b, BandParam::levelMax), -8.0f);
        test::setParameter (p, id (b, BandParam::upperKneeDb), 6.0f);
        test::setParameter (p, id (b, BandParam::lowerKneeDb), 9.0f);
        test::setParameter (p, id (b, BandParam::attackMs), 5.0f + 7.0f * (float)b);
        test::setParameter (p, id (b, BandParam::releaseMs), 80.0f + 50.0f * (float)b);
    }
}

// The automation between blocks: gains on slow sines, one edge and one level sweeping.
void moveParameters (VarnelleAudioProcessor& p, int block)
{
    const float phase = 0.11f * (float)block;
    for (int b = 0; b < numBands; ++b)
        test::setParameter (p, id (b, BandParam::gain), -4.0f + 9.0f * std::sin (phase + 1.3f * (float)b));
    test::setParameter (p, id (2, BandParam::freqHigh), 2500.0f + 800.0f * std::sin (0.37f * phase));
    test::setParameter (p, id (4, BandParam::levelMin), -60.0f + 20.0f * std::sin (0.23f * phase));
}

std::vector<float> mix (std::vector<float> a, const std::vector<float>& b)
{
    for (size_t i = 0; i < a.size(); ++i)
        a[i] += b[i];
    return a;
}

double rms (const std::vector<float>& x, int start)
{
    double sum = 0.0;
    for (size_t i = (size_t)start; i < x.size(); ++i)
        sum += (double)x[i] * x[i];
    return std::sqrt (sum / (double)(x.size() - (size_t)start));
}

double rmsDifference (const std::vector<float>& a, const std::vector<float>& b, int start)
{
    double sum = 0.0;
    for (size_t i = (size_t)start; i < a.size(); ++i)
        sum += ((double)a[i] - b[i]) * ((double)a[i] - b[i]);
    return std::sqrt (sum / (double)(a.size() - (size_t)start));
}

int ulpDistance (float a, float b)
{
    std::int32_t ia, ib;
    std::memcpy (&ia, &a, sizeof (ia));
    std::memcpy (&ib, &b, sizeof (ib));
    if ((ia < 0) != (ib < 0))
        return a == b ? 0 : std::numeric_limits<int>::max();
    return std::abs (ia - ib);
}

// A random conjugate-symmetric spectrum with levels spread over about -150..+10 dB, a few
// silent bins, and both mirror halves filled.
std::vector<std::complex<float>> randomSpectrum (std::mt19937& rng)
{
    std::uniform_real_distribution<float> levelDb (-150.0f, 10.0f), phase (0.0f, 6.2831853f);
    std::vector<std::complex<float>> spectrum ((size_t)fftSize);
    for (int i = 0; i <= fftSize / 2; ++i)
    {
        const float scale = (i == 0 || i == fftSize / 2) ? 2048.0f : 1024.0f;
        const float magnitude = rng() % 97 == 0 ? 0.0f : std::pow (10.0f, levelDb (rng) / 20.0f) * scale;
        const float angle = (i == 0 || i == fftSize / 2) ? 0.0f : phase (rng);
        spectrum[(size_t)i] = std::polar (magnitude, angle);
        if (i > 0 && i < fftSize / 2)
            spectrum[(size_t)(fftSize - i)] = std::conj (spectrum[(size_t)i]);
    }
    return spectrum;
}

// Settings of every kind the computer distinguishes: soft and hard knees, reversed or
// coinciding edges, mutes, boosts up to the product limit, slow and instant coefficients.
BandSettings randomSettings (std::mt19937& rng)
{
    std::uniform_real_distribution<float> unit (0.0f, 1.0f);
    BandSettings settings{};
    for (auto& s : settings)
    {
        const int kind = (int)(rng() % 8);
        if (kind == 0)
            continue; // inert defaults
        s.freqLo = 20.0f + 9000.0f * unit (rng);
        s.freqHi = kind == 1 ? s.freqLo : 20.0f + 20000.0f * unit (rng); // may lie below freqLo
        s.levelLo = -80.0f + 70.0f * unit (rng);
        s.levelHi = kind == 2 ? s.levelLo : s.levelLo + 80.0f * unit (rng);
        s.gainLinear = kind == 3 ? 0.0f : std::pow (10.0f, (-60.0f + 84.0f * unit (rng)) / 20.0f);
        s.attackCoeff = kind == 4 ? 1.0f : unit (rng);
        s.releaseCoeff = unit (rng);
        s.lowerKneeDb = rng() % 2 == 0 ? 0.0f : 24.0f * unit (rng);
        s.upperKneeDb = rng() % 2 == 0 ? 0.0f : 24.0f * unit (rng);
    }
    return settings;
}

std::string scientific (double value)
{
    std::ostringstream out;
    out << std::scientific << value;
    return out.str();
}

BandGainMemory unityGains()
{
    BandGainMemory gains;
    for (auto& g : gains)
        g.assign ((size_t)numBins, 1.0f);
    return gains;
}
} // namespace

TEST (OptimisedEngine, GivesTheReferenceEnginesOutputAndDisplaySpectra)
{
    constexpr double rate = 48000.0;
    constexpr int n = 48000 * 3;
    const auto left = mix (test::makePinkNoise (n, 0.6f, 21), test::makeSine (1500.0, rate, n, 0.25f));
    const auto right = mix (mix (test::makePinkNoise (n, 0.5f, 22), test::makeSine (220.0, rate, n, 0.3f)),
                            test::makeSine (6100.0, rate, n, 0.05f));

    // The reference engine reads the plug-in's own parameters, so both see every move.
    auto optimised = makeProcessor (2, rate);
    ASSERT_EQ (optimised->getEngine().getFftBackend(), FftBackend::fftw);
    reference::Engine reference (optimised->getBandParams());
    reference.prepare (rate, 2);
    reference.setKeepsDisplaySpectra (true);
    configureBands (*optimised);

    std::vector<std::vector<float>> outR{left, right}, outO{left, right};
    std::array<float, numDisplayBins> beforeO{}, afterO{};
    int seenO = 0, compared = 0;
    float worstDisplay = 0.0f;
    bool anyGainApplied = false;

    // Mostly hop-sized blocks, so that every frame's pair is polled, with odd sizes among them.
    const int sizes[] = {512, 512, 300, 724, 512, 1, 511, 512};
    int position = 0;
    for (int block = 0; position < n; ++block)
    {
        moveParameters (*optimised, block);
        const int count = std::min (sizes[block % 8], n - position);
        for (auto* out : {&outR, &outO})
        {
            float* channels[] = {(*out)[0].data() + position, (*out)[1].data() + position};
            juce::AudioBuffer<float> buffer (channels, 2, count);
            juce::MidiBuffer midi;
            if (out == &outR)
                reference.processBlock (buffer);
            else
                optimised->processBlock (buffer, midi);
        }
        position += count;

        const int framesBefore = seenO;
        const bool newO = optimised->getLatestSpectra (beforeO.data(), afterO.data(), seenO);
        // The engine publishes every frame of channel 0, as the reference keeps them.
        ASSERT_EQ (newO, reference.getDisplayFramesKept() > framesBefore);
        ASSERT_EQ (seenO, reference.getDisplayFramesKept());
        if (!newO)
            continue;
        ++compared;
        const auto& beforeR = reference.getDisplayBefore();
        const auto& afterR = reference.getDisplayAfter();
        for (int i = 0; i < numDisplayBins; ++i)
        {
            worstDisplay = std::max (worstDisplay, std::abs (beforeR[(size_t)i] - beforeO[(size_t)i]));
            worstDisplay = std::max (worstDisplay, std::abs (afterR[(size_t)i] - afterO[(size_t)i]));
            anyGainApplied = anyGainApplied || std::abs (beforeO[(size_t)i] - afterO[(size_t)i]) > 0.02f;
        }
    }
    EXPECT_GT (compared, 200);
    EXPECT_TRUE (anyGainApplied); // the bands really work on this material
    EXPECT_LE (worstDisplay, 5e-4f);

    for (int ch = 0; ch < 2; ++ch)
    {
        const double signal = rms (outR[(size_t)ch], 4096);
        const double error = rmsDifference (outR[(size_t)ch], outO[(size_t)ch], 4096);
        ASSERT_GT (signal, 0.01);
        EXPECT_LE (error, 1e-6 * signal) << "channel " << ch;
        // The output differs clearly from the input, so the comparison covers the band gains.
        const auto& in = ch == 0 ? left : right;
        double changed = 0.0;
        for (int i = 4096; i < n; ++i)
            changed += std::pow ((double)outO[(size_t)ch][(size_t)i] - in[(size_t)(i - latencySamples)], 2.0);
        EXPECT_GT (std::sqrt (changed / (n - 4096)), 0.05 * signal) << "channel " << ch;
        RecordProperty ("relativeRmsError" + std::to_string (ch), scientific (error / signal));
    }
    RecordProperty ("worstDisplayDifference", scientific (worstDisplay));
}

TEST (OptimisedEngine, UnityGainsGiveTheDelayedInputOnTheFftwPath)
{
    for (const double rate : {44100.0, 48000.0, 96000.0})
    {
        auto processor = makeProcessor (2, rate);
        ASSERT_EQ (processor->getEngine().getFftBackend(), FftBackend::fftw);
        const int n = 24000;
        const auto left = test::makePinkNoise (n, 0.9f, 5);
        const auto right = mix (test::makeSine (997.0, rate, n, 0.6f), test::makeWhiteNoise (n, 0.3f, 6));
        std::vector<std::vector<float>> audio{left, right};
        test::processInBlocks (*processor, audio, {512, 77, 1024, 333});

        for (int ch = 0; ch < 2; ++ch)
        {
            const auto& in = ch == 0 ? left : right;
            for (int i = 0; i < latencySamples; ++i)
                ASSERT_EQ (audio[(size_t)ch][(size_t)i], 0.0f) << "sample " << i;
            for (int i = latencySamples + 700; i < n; ++i)
                ASSERT_NEAR (audio[(size_t)ch][(size_t)i], in[(size_t)(i - latencySamples)], 2e-6f)
                    << "rate " << rate << " channel " << ch << " sample " << i;
        }
    }
}

TEST (OptimisedEngine, FftwTransformMatchesJuceAndInvertsExactly)
{
    auto juceFft = makeFrameFft (FftBackend::juce);
    auto fftw = makeFrameFft (FftBackend::fftw);
    ASSERT_EQ (juceFft->getNumSpectrumBins(), fftSize);
    ASSERT_EQ (fftw->getBackend(), FftBackend::fftw);
    ASSERT_EQ (fftw->getNumSpectrumBins(), numBins);

    struct alignas (frameBufferAlignment) Buffers
    {
        float frame[fftSize + 1];
        std::complex<float> spectrum[fftSize + 1];
    };
    auto a = std::make_unique<Buffers>();
    auto b = std::make_unique<Buffers>();

    const auto window = makeHannWindow();
    const auto noise = test::makeWhiteNoise (fftSize, 0.8f, 9);
    for (int k = 0; k < fftSize; ++k)
        a->frame[k] = noise[(size_t)k] * window[(size_t)k];
    std::copy (a->frame, a->frame + fftSize, b->frame);

    // Forward: the same unscaled spectrum (same sign convention) on bins 0..1024.
    juceFft->forward (a->frame, a->spectrum);
    fftw->forward (b->frame, b->spectrum);
    float peak = 0.0f;
    for (int i = 0; i < numBins; ++i)
        peak = std::max (peak, std::abs (a->spectrum[i]));
    ASSERT_GT (peak, 10.0f);
    for (int i = 0; i < numBins; ++i)
        ASSERT_LT (std::abs (a->spectrum[i] - b->spectrum[i]), 2e-6f * peak) << "bin " << i;

    // Inverse: the frame back, scaled by exactly 1/2048.
    std::vector<float> original (a->frame, a->frame + fftSize);
    fftw->inverse (b->spectrum, b->frame);
    for (int k = 0; k < fftSize; ++k)
        ASSERT_NEAR (b->frame[k], original[(size_t)k], 1e-6f) << k;

    std::fill (b->spectrum, b->spectrum + numBins, std::complex<float>{});
    b->spectrum[0] = {2048.0f, 0.0f};
    fftw->inverse (b->spectrum, b->frame);
    for (int k = 0; k < fftSize; ++k)
        ASSERT_EQ (b->frame[k], 1.0f) << k;

    // Unaligned buffers go through the transform's own arrays and give the same values.
    float* oddFrame = b->frame + 1;
    std::complex<float>* oddSpectrum =
        reinterpret_cast<std::complex<float>*> (reinterpret_cast<float*> (b->spectrum) + 1);
    std::copy (original.begin(), original.end(), oddFrame);
    fftw->forward (oddFrame, oddSpectrum);
    fftw->forward (original.data(), a->spectrum);
    for (int i = 0; i < numBins; ++i)
        ASSERT_EQ (oddSpectrum[i], a->spectrum[i]) << i;
    fftw->inverse (oddSpectrum, oddFrame);
    for (int k = 0; k < fftSize; ++k)
        ASSERT_NEAR (oddFrame[k], original[(size_t)k], 1e-6f) << k;
}

static void checkBandGainsAgainstReference (KernelVariant variant)
{
    // With the levels measured the reference way, the vectorised loops must reproduce every
    // gain and every bin exactly, frame after frame, full or half spectrum.
    std::mt19937 rng (1234);
    constexpr double rate = 44100.0;
    auto gainsRef = unityGains(), gainsFull = unityGains(), gainsHalf = unityGains(),
         gainsCached = unityGains(), gainsRanged = unityGains();
    auto cache = std::make_unique<FrequencyWeightCache>(),
         rangedCache = std::make_unique<FrequencyWeightCache>();
    BandGainRanges ranges{};
    int changedBins = 0;
    BandSettings settings{};

    for (int frame = 0; frame < 60; ++frame)
    {
        const auto spectrum = randomSpectrum (rng);
        // New settings every other frame, so the cache is both reused and refilled; one band's
        // edges change alone in between.
        if (frame % 2 == 0)
            settings = randomSettings (rng);
        else
            settings[(size_t)(frame % numBands)].freqHi += 100.0f;
        std::array<float, numBins> levels{};
        for (int i = 0; i < numBins; ++i)
            levels[(size_t)i] = reference::binLevelDb (spectrum[(size_t)i], i);

        auto ref = spectrum, full = spectrum, half = spectrum;
        reference::applyBandGains (ref.data(), gainsRef, settings, rate);
        applyBandGains (full.data(), fftSize, levels.data(), gainsFull, settings, rate, nullptr, variant);
        applyBandGains (half.data(), numBins, levels.data(), gainsHalf, settings, rate, nullptr, variant);
        // Only the bins each band can change, kept from frame to frame.
        auto ranged = spectrum;
        applyBandGains (ranged.data(), numBins, levels.data(), gainsRanged, settings, rate, rangedCache.get(),
                        variant, &ranges);
        if (frame == 0)
        {
            int computed = 0;
            for (const auto& range : ranges)
                computed += range.end - range.begin;
            EXPECT_LT (computed, numBands * numBins / 2); // most of the work was skipped
        }
        // The cached run switches to another sample rate halfway, which the cache must notice.
        const double cachedRate = frame < 31 ? rate : 48000.0; // frame 31 keeps most settings
        auto gainsBefore = gainsCached;
        auto cached = spectrum;
        applyBandGains (cached.data(), numBins, levels.data(), gainsCached, settings, cachedRate, cache.get(),
                        variant);
        auto fresh = spectrum;
        applyBandGains (fresh.data(), numBins, levels.data(), gainsBefore, settings, cachedRate, nullptr,
                        variant);
        ASSERT_EQ (gainsBefore, gainsCached) << "frame " << frame;
        ASSERT_EQ (fresh, cached) << "frame " << frame;

        for (int b = 0; b < numBands; ++b)
            for (int i = 0; i < numBins; ++i)
            {
                ASSERT_EQ (gainsFull[(size_t)b][(size_t)i], gainsRef[(size_t)b][(size_t)i])
                    << "frame " << frame << " band " << b << " bin " << i;
                ASSERT_EQ (gainsHalf[(size_t)b][(size_t)i], gainsRef[(size_t)b][(size_t)i]);
                ASSERT_EQ (gainsRanged[(size_t)b][(size_t)i], gainsRef[(size_t)b][(size_t)i])
                    << "frame " << frame << " band " << b << " bin " << i;
                if (frame < 31)
                {
                    ASSERT_EQ (gainsCached[(size_t)b][(size_t)i], gainsRef[(size_t)b][(size_t)i]);
                }
            }
        for (int i = 0; i < fftSize; ++i)
        {
            ASSERT_EQ (full[(size_t)i], ref[(size_t)i]) << "frame " << frame << " bin " << i;
            if (i < numBins)
            {
                ASSERT_EQ (half[(size_t)i], ref[(size_t)i]) << "frame " << frame << " bin " << i;
                ASSERT_EQ (ranged[(size_t)i], ref[(size_t)i]) << "frame " << frame << " bin " << i;
            }
            else
                ASSERT_EQ (half[(size_t)i], spectrum[(size_t)i]); // the half layout leaves the mirror alone
            changedBins += ref[(size_t)i] != spectrum[(size_t)i] ? 1 : 0;
        }
    }
    EXPECT_GT (changedBins, 10000);
}

TEST (OptimisedEngine, BandGainsEqualTheReferenceBitForBitGivenTheSameLevels)
{
    for (const auto variant : getSupportedKernelVariants())
    {
        SCOPED_TRACE (getKernelVariantName (variant));
        checkBandGainsAgainstReference (variant);
    }
}

TEST (OptimisedEngine, EveryKernelVariantGivesTheSameOutputBitForBit)
{
    // The variants are the same code compiled for other instruction sets: the engine's output
    // and display spectra must not depend on which one the CPU gets.
    constexpr double rate = 44100.0;
    constexpr int n = 44100;
    const auto input = mix (test::makePinkNoise (n, 0.6f, 31), test::makeSine (3000.0, rate, n, 0.2f));
    std::vector<float> firstOutput;
    std::array<float, numDisplayBins> firstAfter{};
    for (const auto variant : getSupportedKernelVariants())
    {
        auto processor = makeProcessor (1, rate);
        processor->setKernelVariant (variant);
        ASSERT_EQ (processor->getEngine().getKernelVariant(), variant);
        configureBands (*processor);
        std::vector<std::vector<float>> audio{input};
        std::array<float, numDisplayBins> before{}, after{};
        int seen = 0;
        for (int start = 0, block = 0; start < n; start += 512, ++block)
        {
            moveParameters (*processor, block);
            float* channels[] = {audio[0].data() + start};
            juce::AudioBuffer<float> buffer (channels, 1, std::min (512, n - start));
            juce::MidiBuffer midi;
            processor->processBlock (buffer, midi);
            processor->getLatestSpectra (before.data(), after.data(), seen);
        }
        if (firstOutput.empty())
        {
            firstOutput = audio[0];
            firstAfter = after;
            continue;
        }
        EXPECT_EQ (audio[0], firstOutput) << getKernelVariantName (variant);
        EXPECT_EQ (after, firstAfter) << getKernelVariantName (variant);
    }
}

TEST (OptimisedEngine, LevelsAndDisplayValuesMatchTheReferenceUpToRounding)
{
    // log10 rounded once from double is the correctly rounded value; log10f may be a few ulp off.
    std::mt19937 rng (77);
    std::uniform_real_distribution<double> exponent (-12.0, 12.0);
    int notCorrectlyRounded = 0;
    std::vector<float> values (100000), logs (values.size());
    for (auto& v : values)
        v = (float)std::pow (10.0, exponent (rng));
    values[0] = 1.0f;
    values[1] = 10.0f;
    values[2] = 1.0e-9f;
    values[3] = std::numeric_limits<float>::infinity();
    computeLog10 (values.data(), (int)values.size(), logs.data());
    EXPECT_EQ (logs[0], 0.0f);
    EXPECT_EQ (logs[1], 1.0f);
    EXPECT_EQ (logs[3], std::numeric_limits<float>::infinity());
    for (size_t i = 0; i < values.size(); ++i)
    {
        const float exact = (float)std::log10 ((double)values[i]);
        ASSERT_LE (ulpDistance (logs[i], exact), 1) << values[i];
        notCorrectlyRounded += logs[i] != exact ? 1 : 0;
        ASSERT_LE (ulpDistance (logs[i], std::log10 (values[i])), 3) << values[i];
    }
    EXPECT_LT (notCorrectlyRounded, 5);

    for (int round = 0; round < 20; ++round)
    {
        auto spectrum = randomSpectrum (rng);
        if (round == 0)
        {
            spectrum[5] = {std::numeric_limits<float>::infinity(), 1.0f};
            spectrum[6] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()};
            spectrum[7] = {std::numeric_limits<float>::quiet_NaN(), 0.0f};
            spectrum[8] = {3.0e38f, 3.0e38f}; // |X| overflows float
        }
        std::array<float, numBins> levels{};
        computeBinLevels (spectrum.data(), levels.data());
        for (int i = 0; i < numBins; ++i)
        {
            const float expected = reference::binLevelDb (spectrum[(size_t)i], i);
            if (std::isinf (expected) || expected == -160.0f)
                ASSERT_EQ (levels[(size_t)i], expected) << "bin " << i;
            else
                ASSERT_LE (std::abs (levels[(size_t)i] - expected),
                           4e-6f * std::max (1.0f, std::abs (expected)))
                    << "bin " << i;
        }

        std::array<float, numDisplayBins> plain{}, direct{}, fromLevels{};
        reference::computeDisplaySpectrum (spectrum.data(), plain.data());
        computeDisplaySpectrum (spectrum.data(), direct.data());
        for (const auto variant : getSupportedKernelVariants())
        {
            std::array<float, numBins> variantLevels{};
            std::array<float, numDisplayBins> variantDisplay{};
            computeBinLevels (spectrum.data(), variantLevels.data(), variant);
            computeDisplaySpectrum (spectrum.data(), variantDisplay.data(), variant);
            ASSERT_EQ (variantLevels, levels) << getKernelVariantName (variant);
            ASSERT_EQ (variantDisplay, direct) << getKernelVariantName (variant);
        }
        computeDisplaySpectrumFromLevels (levels.data(), fromLevels.data());
        EXPECT_EQ (direct, fromLevels); // the before view may reuse the band gain computer's levels
        for (int i = 0; i < numDisplayBins; ++i)
            ASSERT_NEAR (direct[(size_t)i], plain[(size_t)i], 1e-6f) << "bin " << i;
    }
}

TEST (OptimisedEngine, SilentFramesAreSkippedAndSoundReturnsAsIfNothingWasSkipped)
{
    // Sound, a long silence (during which a release time changes), sound again: the engine
    // that skips silent frames must give exactly what the one that computes them all gives.
    constexpr double rate = 48000.0;
    constexpr int second = 48000;
    auto input =
        mix (test::makePinkNoise (9 * second, 0.6f, 41), test::makeSine (700.0, rate, 9 * second, 0.2f));
    std::fill (input.begin() + second, input.begin() + 7 * second, 0.0f);
    // Short gaps too: one frame of silence, and one just long enough to leave sums aside.
    std::fill (input.begin() + 15 * second / 2, input.begin() + 15 * second / 2 + 3000, 0.0f);
    std::fill (input.begin() + 8 * second, input.begin() + 8 * second + 5000, 0.0f);

    VarnelleAudioProcessor parameters;
    configureBands (parameters);
    StftEngine skipping (parameters.getBandParams(), nullptr),
        computing (parameters.getBandParams(), nullptr);
    computing.setSkipsSilence (false);
    for (auto* engine : {&skipping, &computing})
        engine->prepare (rate, 1);

    auto outSkipping = input, outComputing = input;
    for (int start = 0, block = 0; start < 9 * second; start += 480, ++block)
    {
        if (start == 5 * second)
            test::setParameter (parameters, id (1, BandParam::releaseMs), 900.0f);
        if (block % 8 == 0)
            moveParameters (parameters, block);
        const int n = std::min (480, 9 * second - start);
        skipping.processChannel (0, outSkipping.data() + start, n);
        computing.processChannel (0, outComputing.data() + start, n);
    }

    // About 6 s of frames hold only silence; their gains come to rest well before the end.
    EXPECT_GT (skipping.getChannelState (0).silentFramesSkipped, 500);
    EXPECT_EQ (computing.getChannelState (0).silentFramesSkipped, 0);
    EXPECT_TRUE (std::equal (outSkipping.begin(), outSkipping.end(), outComputing.begin()));
    EXPECT_EQ (skipping.getChannelState (0).bandGains, computing.getChannelState (0).bandGains);
    EXPECT_GT (rms (outSkipping, 7 * second), 0.05); // the sound after the silence came through
}

TEST (FftwPlanner, OtherCodeMayPlanOnItsOwnThreadWhileProcessorsComeAndGo)
{
    // FFTW's planner is one per process: a host or another plug-in planning on its own
    // thread, without our lock, meets our planning in processors created and destroyed on
    // another. Once our engine has planned, FFTW serialises the planner itself.
    {
        VarnelleAudioProcessor first;
    }

    std::atomic<bool> stop{false};
    std::atomic<int> foreignPlans{0};
    std::thread foreign (
        [&]
        {
            for (int n = 64; !stop; n = n >= 8192 ? 64 : n + 48)
            {
                float* real = fftwf_alloc_real ((size_t)n);
                fftwf_complex* complex = fftwf_alloc_complex ((size_t)n);
                auto forward = fftwf_plan_dft_r2c_1d (n, real, complex, FFTW_ESTIMATE);
                auto backward = fftwf_plan_dft_1d (n, complex, complex, FFTW_BACKWARD, FFTW_ESTIMATE);
                fftwf_destroy_plan (forward);
                fftwf_destroy_plan (backward);
                fftwf_free (real);
                fftwf_free (complex);
                ++foreignPlans;
            }
        });

    for (int i = 0; i < 150; ++i)
    {
        auto processor = makeProcessor (2, 48000.0);
        EXPECT_EQ (processor->getEngine().getFftBackend(), FftBackend::fftw);
        juce::AudioBuffer<float> buffer (2, 512);
        buffer.clear();
        juce::MidiBuffer midi;
        processor->processBlock (buffer, midi);
    }
    stop = true;
    foreign.join();
    EXPECT_GT (foreignPlans.load(), 0);
}
