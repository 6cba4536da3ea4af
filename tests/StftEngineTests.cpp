#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace varnelle;

namespace
{
std::vector<std::vector<float>> renderStereo (VarnelleAudioProcessor& processor, std::vector<float> left,
                                              std::vector<float> right, const std::vector<int>& blockSizes)
{
    std::vector<std::vector<float>> audio{std::move (left), std::move (right)};
    test::processInBlocks (processor, audio, blockSizes);
    return audio;
}
} // namespace

TEST (StftEngine, UnityGainsGiveTheInputDelayedByTheLatency)
{
    for (const double rate : {44100.0, 48000.0, 96000.0})
    {
        auto processor = test::makePreparedProcessor (2, rate);
        const int n = 20000;
        const auto left = test::makeWhiteNoise (n, 0.7f, 1);
        const auto right = test::makeSine (997.0, rate, n, 0.9f);
        const auto out = renderStereo (*processor, left, right, {512});

        for (int ch = 0; ch < 2; ++ch)
        {
            const auto& in = ch == 0 ? left : right;
            for (int i = 0; i < 2048; ++i)
                ASSERT_EQ (out[(size_t)ch][(size_t)i], 0.0f) << "sample " << i;
            for (int i = 2048 + 700; i < n; ++i)
                ASSERT_NEAR (out[(size_t)ch][(size_t)i], in[(size_t)(i - 2048)], 2e-6f) << "sample " << i;
        }
    }
}

TEST (StftEngine, StartFadesInSmoothlyWithoutOvershoot)
{
    // A constant input shows the start-up envelope directly: zero for the first input
    // samples (no window energy yet), then a monotonic rise to exactly the input level by
    // input sample ~650, never above it.
    auto processor = test::makePreparedProcessor (1, 48000.0);
    std::vector<std::vector<float>> audio{std::vector<float> (8192, 0.8f)};
    test::processInBlocks (*processor, audio, {333});
    const auto& out = audio[0];

    for (int i = 0; i <= 2048 + 20; ++i)
        ASSERT_EQ (out[(size_t)i], 0.0f) << "sample " << i;

    float previous = 0.0f;
    for (int i = 2048; i < 2048 + 700; ++i)
    {
        const float y = out[(size_t)i];
        ASSERT_GE (y, previous - 1e-6f) << "sample " << i;
        ASSERT_LE (y, 0.8f + 1e-5f) << "sample " << i;
        previous = y;
    }
    EXPECT_LT (out[2048 + 300], 0.4f); // still fading at input sample 300
    EXPECT_GT (out[2048 + 100], 0.0f); // but already audible
    for (int i = 2048 + 660; i < 8192; ++i)
        ASSERT_NEAR (out[(size_t)i], 0.8f, 2e-6f) << "sample " << i;
}

TEST (StftEngine, OutputDoesNotDependOnTheBlockSizes)
{
    const int n = 30000;
    const auto left = test::makePinkNoise (n, 0.8f, 7);
    const auto right = test::makeSine (61.0, 44100.0, n);

    auto reference = test::makePreparedProcessor (2, 44100.0);
    const auto expected = renderStereo (*reference, left, right, {n});

    juce::Random random (42);
    std::vector<int> randomSizes;
    for (int i = 0; i < 64; ++i)
        randomSizes.push_back (1 + random.nextInt (4096));

    for (const auto& sizes : std::vector<std::vector<int>>{{1}, {511}, {512}, {4096}, randomSizes})
    {
        auto processor = test::makePreparedProcessor (2, 44100.0);
        const auto out = renderStereo (*processor, left, right, sizes);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < n; ++i)
                ASSERT_EQ (out[(size_t)ch][(size_t)i], expected[(size_t)ch][(size_t)i])
                    << "channel " << ch << " sample " << i << " first block " << sizes[0];
    }
}

TEST (StftEngine, ReleaseResourcesRestartsTheSilentPhase)
{
    auto processor = test::makePreparedProcessor (2, 44100.0);
    auto first = renderStereo (*processor, test::makeSine (500, 44100, 10000),
                               test::makeSine (500, 44100, 10000), {512});
    ASSERT_GT (std::abs (first[0][9000]), 0.0f);

    processor->releaseResources();
    const auto input = test::makeSine (800, 44100, 10000);
    const auto out = renderStereo (*processor, input, input, {100});
    for (int i = 0; i < 2048; ++i)
        ASSERT_EQ (out[0][(size_t)i], 0.0f) << i;
    for (int i = 2048 + 700; i < 10000; ++i)
        ASSERT_NEAR (out[0][(size_t)i], input[(size_t)(i - 2048)], 2e-6f) << i;

    // prepareToPlay again also starts from scratch.
    processor->prepareToPlay (44100.0, 512);
    const auto again = renderStereo (*processor, input, input, {512});
    for (int i = 0; i < 2048; ++i)
        ASSERT_EQ (again[1][(size_t)i], 0.0f) << i;
}

TEST (StftEngine, NonFiniteInputIsSilencedAndTheChannelRecovers)
{
    auto processor = test::makePreparedProcessor (2, 48000.0);
    const int n = 24000;
    auto left = test::makeSine (1000, 48000, n);
    const auto right = test::makeSine (1000, 48000, n);
    auto cleanLeft = left;
    const float poison[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()};
    for (int i = 6000; i < 6030; ++i)
    {
        left[(size_t)i] = poison[i % 3];
        cleanLeft[(size_t)i] = 0.0f;
    }

    const auto out = renderStereo (*processor, left, right, {512});
    auto reference = test::makePreparedProcessor (2, 48000.0);
    const auto expected = renderStereo (*reference, cleanLeft, right, {512});

    for (int i = 0; i < n; ++i)
    {
        ASSERT_TRUE (std::isfinite (out[0][(size_t)i])) << i;
        ASSERT_EQ (out[0][(size_t)i], expected[0][(size_t)i]) << i;
        ASSERT_EQ (out[1][(size_t)i], expected[1][(size_t)i]) << i;
    }
    // Well after the bad samples the output is the delayed input again.
    for (int i = 6030 + 2048 * 2; i < n; ++i)
        ASSERT_NEAR (out[0][(size_t)i], left[(size_t)(i - 2048)], 2e-6f) << i;
}

TEST (StftEngine, ChannelsAreProcessedIndependently)
{
    const int n = 16000;
    const auto left = test::makeWhiteNoise (n, 0.5f, 3);
    const auto right = test::makeSine (2000, 44100, n);
    auto stereo = test::makePreparedProcessor (2, 44100.0);
    const auto both = renderStereo (*stereo, left, right, {512});

    // The left output is the same whatever the right channel carries.
    auto other = test::makePreparedProcessor (2, 44100.0);
    const auto withSilentRight = renderStereo (*other, left, std::vector<float> ((size_t)n, 0.0f), {512});
    for (int i = 0; i < n; ++i)
        ASSERT_EQ (both[0][(size_t)i], withSilentRight[0][(size_t)i]) << i;
}
