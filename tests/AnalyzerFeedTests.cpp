#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

using namespace varnelle;

namespace varnelle
{
struct SpectrumExchangeTestAccess
{
    static juce::SpinLock& lockOf (SpectrumExchange& exchange) { return exchange.spectrumLock; }
};
} // namespace varnelle

namespace
{
using View = std::array<float, numDisplayBins>;

struct Poll
{
    View before{}, after{};
    int lastSeen = 0;

    bool from (VarnelleAudioProcessor& processor)
    {
        return processor.getLatestSpectra (before.data(), after.data(), lastSeen);
    }
};

void render (VarnelleAudioProcessor& processor, std::vector<float> left, std::vector<float> right)
{
    std::vector<std::vector<float>> audio{std::move (left), std::move (right)};
    test::processInBlocks (processor, audio, {512});
}
} // namespace

TEST (AnalyzerFeed, NothingIsPublishedUntilTheFirstFrame)
{
    auto processor = test::makePreparedProcessor (2, 48000.0);
    Poll poll;
    EXPECT_FALSE (poll.from (*processor));
    render (*processor, std::vector<float> (2047, 0.1f), std::vector<float> (2047, 0.1f));
    EXPECT_FALSE (poll.from (*processor));
    render (*processor, std::vector<float> (1, 0.1f), std::vector<float> (1, 0.1f));
    EXPECT_TRUE (poll.from (*processor));
    EXPECT_EQ (poll.lastSeen, 1);
}

TEST (AnalyzerFeed, SilencePublishesZerosAndUnityGivesIdenticalViews)
{
    auto processor = test::makePreparedProcessor (2, 48000.0);
    render (*processor, std::vector<float> (4096, 0.0f), std::vector<float> (4096, 0.0f));
    Poll poll;
    ASSERT_TRUE (poll.from (*processor));
    for (int i = 0; i < numDisplayBins; ++i)
    {
        ASSERT_EQ (poll.before[(size_t)i], 0.0f) << i;
        ASSERT_EQ (poll.after[(size_t)i], 0.0f) << i;
    }

    render (*processor, test::makePinkNoise (8192, 0.5f, 4), test::makeSine (300, 48000, 8192));
    ASSERT_TRUE (poll.from (*processor));
    EXPECT_EQ (poll.before, poll.after);
    EXPECT_GT (*std::max_element (poll.before.begin(), poll.before.end()), 0.3f);
}

TEST (AnalyzerFeed, AFullScaleSineReadsAboutMinusSixDecibels)
{
    auto processor = test::makePreparedProcessor (1, 48000.0);
    // Bin 64 centred: 64 × 48000 / 2048 = 1500 Hz.
    std::vector<std::vector<float>> audio{test::makeSine (1500.0, 48000.0, 8192, 1.0f)};
    test::processInBlocks (*processor, audio, {512});
    Poll poll;
    ASSERT_TRUE (poll.from (*processor));
    EXPECT_NEAR (poll.before[64], 0.94f, 0.005f);
    EXPECT_LT (poll.before[40], 0.3f);
}

TEST (AnalyzerFeed, TheAfterViewShowsTheBandGains)
{
    auto processor = test::makePreparedProcessor (2, 48000.0);
    test::setParameter (*processor, "band3_gain", -20.0f);
    const auto sine = test::makeSine (1500.0, 48000.0, 48000, 0.5f);
    render (*processor, sine, sine);
    Poll poll;
    ASSERT_TRUE (poll.from (*processor));
    EXPECT_NEAR (poll.before[64] - poll.after[64], 0.20f, 0.005f); // 20 dB on a 100 dB scale
    EXPECT_EQ (poll.before[5], poll.after[5]);                     // 117 Hz lies in band 1, at unity
}

TEST (AnalyzerFeed, PollingReturnsOnlyTheNewestPairOnce)
{
    auto processor = test::makePreparedProcessor (2, 48000.0);
    render (*processor, test::makeWhiteNoise (2048 + 512 * 9, 0.5f, 8),
            std::vector<float> (2048 + 512 * 9, 0.0f));

    Poll poll;
    ASSERT_TRUE (poll.from (*processor));
    EXPECT_EQ (poll.lastSeen, 10); // ten frames were published; only the last one is seen

    View sentinel;
    sentinel.fill (-1.0f);
    poll.before = sentinel;
    poll.after = sentinel;
    EXPECT_FALSE (poll.from (*processor));
    EXPECT_EQ (poll.before, sentinel);
    EXPECT_EQ (poll.after, sentinel);
    EXPECT_EQ (poll.lastSeen, 10);

    // A display opened later starts from 0 and gets the stored pair at once.
    Poll lateDisplay;
    EXPECT_TRUE (lateDisplay.from (*processor));
}

TEST (AnalyzerFeed, OnlyTheFirstChannelIsShown)
{
    const int n = 16384;
    const auto left = test::makePinkNoise (n, 0.4f, 12);
    auto a = test::makePreparedProcessor (2, 44100.0);
    auto b = test::makePreparedProcessor (2, 44100.0);
    test::setParameter (*a, "band2_gain", -10.0f);
    test::setParameter (*b, "band2_gain", -10.0f);
    render (*a, left, test::makeSine (440, 44100, n, 0.9f));
    render (*b, left, test::makeWhiteNoise (n, 0.9f, 77));

    Poll pa, pb;
    ASSERT_TRUE (pa.from (*a));
    ASSERT_TRUE (pb.from (*b));
    EXPECT_EQ (pa.before, pb.before);
    EXPECT_EQ (pa.after, pb.after);
    EXPECT_EQ (pa.lastSeen, pb.lastSeen);
}

TEST (AnalyzerFeed, ConcurrentPollingAlwaysSeesConsistentPairs)
{
    // At unity the two views of one frame are identical, and the noise makes consecutive
    // frames differ, so a pair torn between two publications would show up as a mismatch.
    auto processor = test::makePreparedProcessor (2, 48000.0);
    std::atomic<bool> running{true};
    std::atomic<int> pairs{0}, torn{0};

    std::thread display (
        [&]
        {
            Poll poll;
            while (running.load())
            {
                if (poll.from (*processor))
                {
                    ++pairs;
                    if (poll.before != poll.after)
                        ++torn;
                }
                std::this_thread::yield();
            }
        });

    juce::Random random (3);
    juce::AudioBuffer<float> block (2, 256);
    juce::MidiBuffer midi;
    // Keep the audio running until the display has seen enough pairs: a fast engine may get
    // through the fixed blocks before a busy machine schedules the display thread often.
    for (int i = 0; i < 1500 || (pairs.load() <= 10 && i < 200000); ++i)
    {
        for (int ch = 0; ch < 2; ++ch)
            for (int s = 0; s < 256; ++s)
                block.setSample (ch, s, random.nextFloat() - 0.5f);
        processor->processBlock (block, midi);
    }
    running.store (false);
    display.join();

    EXPECT_GT (pairs.load(), 10);
    EXPECT_EQ (torn.load(), 0);
}

TEST (AnalyzerFeed, TheAudioThreadNeverWaitsForAReaderHoldingTheLock)
{
    // A message thread pre-empted while it copies holds the lock; the audio thread must skip
    // that frame's publication instead of spinning until the reader runs again.
    SpectrumExchange exchange;
    const BandParamPointers noParameters{};
    StftEngine engine (noParameters, &exchange);
    engine.prepare (48000.0, 1);
    auto signal = test::makeSine (440.0, 48000.0, 512);
    const auto processHops = [&] (int hops)
    {
        for (int i = 0; i < hops; ++i)
            engine.processChannel (0, signal.data(), 512);
    };
    processHops (4);
    const int published = exchange.getFrameCount();
    ASSERT_EQ (published, 1);

    juce::WaitableEvent locked, processed;
    std::atomic<bool> processedWhileHeld{false};
    std::thread reader (
        [&]
        {
            const juce::SpinLock::ScopedLockType hold (SpectrumExchangeTestAccess::lockOf (exchange));
            locked.signal();
            processedWhileHeld = processed.wait (5000); // held until the audio is done, 5 s at most
        });
    locked.wait();
    processHops (8);
    processed.signal();
    reader.join();

    EXPECT_TRUE (processedWhileHeld);
    EXPECT_EQ (exchange.getFrameCount(), published); // those frames were not published
    processHops (1);
    EXPECT_EQ (exchange.getFrameCount(), published + 1);
}

TEST (AnalyzerFeed, SpectraAreComputedOnlyWhileSomebodyAsks)
{
    // With no window open the display spectra would cost as much as the band gains.
    auto processor = test::makePreparedProcessor (2, 48000.0);
    constexpr int timeout = SpectrumExchange::listenerTimeoutFrames;
    const int samples = 2048 + (timeout + 20) * 512; // timeout + 21 frames
    render (*processor, test::makePinkNoise (samples, 0.5f, 5), test::makePinkNoise (samples, 0.5f, 6));

    Poll poll;
    ASSERT_TRUE (poll.from (*processor));
    EXPECT_EQ (poll.lastSeen, timeout);

    // The poll asked again: the next frame is published.
    render (*processor, test::makePinkNoise (512, 0.5f, 7), test::makePinkNoise (512, 0.5f, 8));
    ASSERT_TRUE (poll.from (*processor));
    EXPECT_EQ (poll.lastSeen, timeout + 1);
}

// What the bands did to a frame, as the window reads it beside the spectra.
TEST (AnalyzerFeed, TheChangeIsWhatEachBinWasGivenAndExactlyNothingElsewhere)
{
    auto processor = test::makePreparedProcessor (2, 48000.0);
    const auto noise = test::makePinkNoise (48000, 0.5f, 12);
    render (*processor, noise, noise);
    DisplayFrame unity{};
    int seen = 0;
    ASSERT_TRUE (processor->getLatestDisplayFrame (unity, seen));
    for (int i = 0; i < numDisplayBins; ++i)
        ASSERT_EQ (unity.changeDb[i], 0.0f) << "bin " << i;
    for (int b = 0; b < numBands; ++b)
        EXPECT_EQ (unity.activityDb[b], 0.0f) << "band " << b;

    // A cut in band 3 and a boost in band 5, on noise that reaches into both.
    test::setParameter (*processor, "band3_gain", -12.0f);
    test::setParameter (*processor, "band5_gain", 6.0f);
    render (*processor, noise, noise);
    DisplayFrame frame{};
    ASSERT_TRUE (processor->getLatestDisplayFrame (frame, seen));

    // Where neither view is clipped, the change is the after view's level less the before's.
    int compared = 0, cut = 0;
    for (int i = 1; i < numDisplayBins; ++i)
    {
        const float before = frame.before[i], after = frame.after[i];
        if (before > 0.01f && before < 0.99f && after > 0.01f && after < 0.99f)
        {
            ASSERT_NEAR (frame.changeDb[i], 100.0f * (after - before), 2e-3f) << "bin " << i;
            ++compared;
            cut += frame.changeDb[i] < -11.0f ? 1 : 0;
        }
    }
    EXPECT_GT (compared, 900);
    EXPECT_GT (cut, 50);
    EXPECT_EQ (frame.changeDb[5], 0.0f); // 117 Hz lies in band 1, at 0 dB

    EXPECT_NEAR (frame.activityDb[2], -12.0f, 0.05f);
    EXPECT_NEAR (frame.activityDb[4], 6.0f, 0.05f);
    for (const int b : {0, 1, 3})
        EXPECT_EQ (frame.activityDb[b], 0.0f) << "band " << b;
}

TEST (AnalyzerFeed, InSilenceTheChangeShowsTheGainsRelaxing)
{
    // Silent frames skip their transforms, but their gains still move with the release: the
    // window must see them go back, not a change that stops at once.
    auto processor = test::makePreparedProcessor (1, 48000.0);
    test::setParameter (*processor, "band3_gain", -18.0f);
    test::setParameter (*processor, "band3_releaseMs", 500.0f);
    const auto sine = test::makeSine (1500.0, 48000.0, 24000, 0.5f);
    std::vector<std::vector<float>> audio{sine};
    test::processInBlocks (*processor, audio, {512});
    DisplayFrame frame{};
    int seen = 0;
    ASSERT_TRUE (processor->getLatestDisplayFrame (frame, seen));
    float previous = frame.activityDb[2];
    ASSERT_LT (previous, -17.0f);

    for (int step = 0; step < 20; ++step)
    {
        std::vector<std::vector<float>> silence{std::vector<float> (4800, 0.0f)};
        test::processInBlocks (*processor, silence, {512});
        ASSERT_TRUE (processor->getLatestDisplayFrame (frame, seen));
        if (step >= 1) // the last frames with sound in them have left the window
        {
            EXPECT_GT (frame.activityDb[2], previous) << "step " << step;
            EXPECT_LE (*std::min_element (std::begin (frame.changeDb), std::end (frame.changeDb)),
                       frame.activityDb[2] + 1e-4f);
        }
        previous = frame.activityDb[2];
    }
    EXPECT_GT (previous, -1.0f); // two seconds at a 500 ms release
    EXPECT_LT (previous, 0.0f);
}
