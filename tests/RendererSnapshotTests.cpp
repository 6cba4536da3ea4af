#include "RenderOptions.h"
#include "Renderer.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>
#include <juce_audio_formats/juce_audio_formats.h>

namespace
{
struct RenderSnapshot : ::testing::Test
{
    juce::TemporaryFile folderName;
    juce::File folder = folderName.getFile();

    void SetUp() override
    {
        ASSERT_TRUE (folder.createDirectory());
        juce::AudioBuffer<float> audio (2, 48000 * 2);
        const auto noise = varnelle::test::makePinkNoise (audio.getNumSamples(), 0.6f, 5);
        for (int ch = 0; ch < 2; ++ch)
            audio.copyFrom (ch, 0, noise.data(), audio.getNumSamples());
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (
            wav.createWriterFor (new juce::FileOutputStream (input()), 48000.0, 2, 24, {}, 0));
        ASSERT_NE (writer, nullptr);
        writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples());
    }

    void TearDown() override { folder.deleteRecursively(); }

    juce::File input() const { return folder.getChildFile ("in.wav"); }

    juce::Image render (juce::StringArray extraArgs)
    {
        juce::StringArray args{input().getFullPathName(), folder.getChildFile ("out.wav").getFullPathName(),
                               "--snapshot", folder.getChildFile ("window.png").getFullPathName()};
        args.addArray (extraArgs);
        const auto parsed = parseRenderOptions (args);
        EXPECT_TRUE (parsed.options.has_value()) << parsed.error;
        if (!parsed.options)
            return {};
        const auto result = runRender (*parsed.options, {});
        EXPECT_TRUE (result.wasOk()) << result.getErrorMessage();
        return juce::ImageFileFormat::loadFrom (folder.getChildFile ("window.png"));
    }
};

float hueDistance (juce::Colour a, juce::Colour b)
{
    const float d = std::abs (a.getHue() - b.getHue());
    return juce::jmin (d, 1.0f - d);
}
} // namespace

TEST_F (RenderSnapshot, ShowsTheWindowWithTheChosenSelectionBypassAndSize)
{
    const auto image = render ({"--select", "3", "--set", "band2_bypass=1"});
    ASSERT_TRUE (image.isValid());
    ASSERT_EQ (image.getWidth(), 1140);
    ASSERT_EQ (image.getHeight(), 760);

    // Card outlines run 5 px left of each band column, at the height of the Attack knobs.
    auto outline = [&image] (int band) { return image.getPixelAt (197 + 186 * band, 638); };
    EXPECT_LT (hueDistance (outline (1), juce::Colour (0xfff15b6b)), 0.06f);      // band 2 bypassed: red
    EXPECT_GT (outline (2).getBrightness(), outline (0).getBrightness() + 0.15f); // band 3 selected

    // The display followed the audio: the history is not the empty colour everywhere.
    int lit = 0;
    for (int x = 20; x < 1000; x += 10)
        if (image.getPixelAt (x, 300) != image.getPixelAt (5, 5))
            ++lit;
    EXPECT_GT (lit, 50);

    const auto small = render ({"--size", "900x620", "--view", "after"});
    EXPECT_EQ (small.getWidth(), 900);
    EXPECT_EQ (small.getHeight(), 620);
}

// The Change view of a band that cuts: the plot shows the cut's colour in the band's rows, the
// spectrum views never do (their colour map holds no amber below its hottest stops).
TEST_F (RenderSnapshot, TheChangeViewShowsABandsCut)
{
    const juce::StringArray cut{"--set", "band2_gain=-18", "--set", "band2_levelMin=-80"};
    auto amberInBandTwo = [] (const juce::Image& image)
    {
        // The newest columns, left of the Change view's curve.
        int amber = 0;
        for (int x = 760; x < 930; x += 5)
            if (const auto c = image.getPixelAt (x, 330);
                c.getRed() > c.getGreen() + 30 && c.getGreen() > c.getBlue())
                ++amber;
        return amber;
    };
    auto change = cut;
    change.addArray ({"--view", "change"});
    EXPECT_GT (amberInBandTwo (render (change)), 25);
    EXPECT_EQ (amberInBandTwo (render (cut)), 0);
}

TEST_F (RenderSnapshot, RejectsBadWindowOptions)
{
    for (const auto& bad : {juce::StringArray{"--size", "800x600"}, juce::StringArray{"--size", "1140"},
                            juce::StringArray{"--view", "sideways"}, juce::StringArray{"--view", "Change"},
                            juce::StringArray{"--select", "6"}, juce::StringArray{"--select", "0"}})
    {
        juce::StringArray args{"in.wav", "out.wav", "--snapshot", "w.png"};
        args.addArray (bad);
        const auto parsed = parseRenderOptions (args);
        EXPECT_FALSE (parsed.options.has_value()) << bad.joinIntoString (" ");
        EXPECT_TRUE (parsed.error.isNotEmpty());
    }
    EXPECT_FALSE (parseRenderOptions ({"--save-state", "s.bin", "--snapshot", "w.png"}).options.has_value());
}
