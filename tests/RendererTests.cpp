#include "RenderOptions.h"
#include "Renderer.h"
#include "editor/PresetManager.h"
#include "engine/StftConstants.h"
#include "helpers/TestHelpers.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <cmath>

using namespace varnelle;

namespace
{
using Channels = std::vector<std::vector<float>>;

struct WavContents
{
    double sampleRate = 0.0;
    Channels channels;
};

void writeWav (const juce::File& file, const Channels& channels, double sampleRate, int bitsPerSample)
{
    file.deleteFile();
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (
        new juce::FileOutputStream (file), sampleRate, (unsigned int)channels.size(), bitsPerSample, {}, 0));
    ASSERT_NE (writer, nullptr);
    std::vector<const float*> pointers;
    for (const auto& channel : channels)
        pointers.push_back (channel.data());
    ASSERT_TRUE (
        writer->writeFromFloatArrays (pointers.data(), (int)pointers.size(), (int)channels[0].size()));
}

WavContents readWav (const juce::File& file)
{
    auto stream = file.createInputStream();
    if (stream == nullptr)
        return {};

    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (stream.release(), true));
    if (reader == nullptr)
        return {};

    juce::AudioBuffer<float> buffer ((int)reader->numChannels, (int)reader->lengthInSamples);
    reader->read (&buffer, 0, buffer.getNumSamples(), 0, true, true);
    WavContents contents{reader->sampleRate, {}};
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        contents.channels.emplace_back (buffer.getReadPointer (ch),
                                        buffer.getReadPointer (ch) + buffer.getNumSamples());
    return contents;
}

juce::MemoryBlock fileBytes (const juce::File& file)
{
    juce::MemoryBlock data;
    file.loadFileAsData (data);
    return data;
}

class RendererTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = varnelle::test::createUniqueTemporaryFolder ("varnelle-render-tests");
        ASSERT_TRUE (dir.isDirectory());
    }

    void TearDown() override { dir.deleteRecursively(); }

    juce::File file (const juce::String& name) const { return dir.getChildFile (name); }
    juce::String path (const juce::String& name) const { return file (name).getFullPathName(); }

    /** Parses `args` (which must parse) and renders them. */
    juce::Result render (const juce::StringArray& args)
    {
        const auto parsed = parseRenderOptions (args);
        if (!parsed.options.has_value())
            return juce::Result::fail ("parse error: " + parsed.error);

        RenderCallbacks callbacks;
        callbacks.warning = [this] (const juce::String& message) { warnings.add (message); };
        callbacks.progress = [this] (int percent) { progress.push_back (percent); };
        return runRender (*parsed.options, callbacks);
    }

    /** Renders `input` with the extra options and returns the output file's contents. */
    WavContents renderToWav (const juce::String& input, juce::StringArray extra = {})
    {
        extra.insert (0, path (input));
        extra.insert (1, path ("out.wav"));
        file ("out.wav").deleteFile(); // so that a failed render cannot pass off an older result
        const auto result = render (extra);
        EXPECT_TRUE (result.wasOk()) << result.getErrorMessage();
        return readWav (file ("out.wav"));
    }

    juce::File dir;
    juce::StringArray warnings;
    std::vector<int> progress;
};

using RenderAudio = RendererTest;
using RenderState = RendererTest;
using RenderErrors = RendererTest;
} // namespace

TEST_F (RenderAudio, DefaultParametersGiveTheInputBackAfterTheFadeIn)
{
    struct Case
    {
        double rate;
        int bits;
        Channels channels;
    };
    const std::vector<Case> cases{
        {44100.0, 24, {test::makeWhiteNoise (20001, 0.7f, 1)}},
        {48000.0, 32, {test::makePinkNoise (30000, 0.8f, 2), test::makeSine (997.0, 48000.0, 30000, 0.9f)}}};

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String ((int)c.channels.size()) + " channels at " + juce::String (c.rate));
        writeWav (file ("in.wav"), c.channels, c.rate, c.bits);
        const auto in = readWav (file ("in.wav")); // as quantised in the file
        const auto out = renderToWav ("in.wav");

        ASSERT_EQ (out.sampleRate, c.rate);
        ASSERT_EQ (out.channels.size(), c.channels.size());
        for (size_t ch = 0; ch < c.channels.size(); ++ch)
        {
            const auto& x = in.channels[ch];
            const auto& y = out.channels[ch];
            ASSERT_EQ (y.size(), x.size());
            for (size_t i = 0; i < 700; ++i)
                ASSERT_LE (std::abs (y[i]), std::abs (x[i]) + 1e-6f) << "channel " << ch << " sample " << i;
            for (size_t i = 700; i < x.size(); ++i)
                ASSERT_NEAR (y[i], x[i], 2e-6f) << "channel " << ch << " sample " << i;
        }
    }
    EXPECT_TRUE (warnings.isEmpty());
    EXPECT_TRUE (progress.empty()); // short inputs report no progress
}

TEST_F (RenderAudio, BandThreeCutLowersOnlyItsOwnFrequencies)
{
    const double rate = 48000.0;
    const int n = 48000;
    for (const auto& [frequency, expectedChangeDb] : {std::pair{1000.0, -12.0}, std::pair{5000.0, 0.0}})
    {
        SCOPED_TRACE (juce::String (frequency) + " Hz");
        writeWav (file ("sine.wav"), {test::makeSine (frequency, rate, n, 0.5f)}, rate, 32);
        const auto in = readWav (file ("sine.wav")).channels.at (0);
        const auto out = renderToWav ("sine.wav", {"--set", "band3_gain=-12"});
        ASSERT_EQ (out.channels.size(), 1u);
        ASSERT_EQ (out.channels[0].size(), (size_t)n);
        EXPECT_NEAR (test::rmsDb (out.channels[0], n / 2, n) - test::rmsDb (in, n / 2, n), expectedChangeDb,
                     0.2);
    }
}

TEST_F (RenderAudio, ListeningToTheChangeWritesOutputMinusInput)
{
    const int n = 24000;
    writeWav (file ("in.wav"), {test::makePinkNoise (n, 0.8f, 9)}, 48000.0, 32);
    const auto in = readWav (file ("in.wav")).channels.at (0);

    // Nothing changes: exactly silence once the frames are complete.
    const auto unity = renderToWav ("in.wav", {"--listen-to-change"}).channels.at (0);
    for (int i = 2048; i < n; ++i)
        ASSERT_EQ (unity[(size_t)i], 0.0f) << i;

    const auto processed = renderToWav ("in.wav", {"--set", "band2_gain=-20"}).channels.at (0);
    const auto change =
        renderToWav ("in.wav", {"--set", "band2_gain=-20", "--listen-to-change"}).channels.at (0);
    for (int i = 2048; i < n; ++i)
        ASSERT_NEAR (change[(size_t)i], processed[(size_t)i] - in[(size_t)i], 1e-6f) << i;
    EXPECT_GT (test::rmsDb (change, 2048, n), -40.0);
}

TEST_F (RenderAudio, ListeningToOneBandWritesWhatThatBandAloneDoes)
{
    const int n = 24000;
    writeWav (file ("in.wav"), {test::makePinkNoise (n, 0.8f, 10)}, 48000.0, 32);
    const auto in = readWav (file ("in.wav")).channels.at (0);
    const juce::StringArray bands{"--set", "band2_gain=-20", "--set", "band4_gain=8"};

    // Band 2 alone does what a render with band 2 alone gives; band 5 (0 dB) does nothing.
    auto args = bands;
    args.addArray ({"--listen-to-band", "2"});
    const auto bandTwo = renderToWav ("in.wav", args).channels.at (0);
    const auto onlyBandTwo = renderToWav ("in.wav", {"--set", "band2_gain=-20"}).channels.at (0);
    args = bands;
    args.addArray ({"--listen-to-band=5"});
    const auto bandFive = renderToWav ("in.wav", args).channels.at (0);
    for (int i = 4096; i < n; ++i)
    {
        ASSERT_NEAR (bandTwo[(size_t)i], onlyBandTwo[(size_t)i] - in[(size_t)i], 1e-6f) << i;
        ASSERT_EQ (bandFive[(size_t)i], 0.0f) << i;
    }
    EXPECT_GT (test::rmsDb (bandTwo, 4096, n), -40.0);
}

// --key renders through Varnelle Key: the key decides; a shorter key goes on as silence and a
// longer one is cut at the input's end, so both render as the key of the input's length would.
TEST_F (RenderAudio, AKeyFileDecidesAndIsFittedToTheInputsLength)
{
    const double rate = 48000.0;
    const int n = 30000;
    writeWav (file ("in.wav"), {test::makeWhiteNoise (n, 0.3f, 4), test::makeWhiteNoise (n, 0.3f, 5)}, rate,
              32);
    auto key = test::makeWhiteNoise (n, 0.3f, 6);
    const std::vector<float> shortKey (key.begin(), key.begin() + n / 2);
    std::vector<float> padded (shortKey);
    padded.resize ((size_t)n, 0.0f);
    // Silent towards IN's end and sounding past it: the frames of IN's last samples reach 2048
    // samples beyond it, where only a key that is not cut would sound.
    std::fill (key.end() - 4096, key.end(), 0.0f);
    std::vector<float> longKey (key);
    const auto tail = test::makeWhiteNoise (5000, 0.3f, 7);
    longKey.insert (longKey.end(), tail.begin(), tail.end());
    writeWav (file ("key.wav"), {key}, rate, 32);
    writeWav (file ("long-key.wav"), {longKey}, rate, 32);
    writeWav (file ("short-key.wav"), {shortKey}, rate, 32);
    writeWav (file ("padded-key.wav"), {padded}, rate, 32);

    const juce::StringArray cut{"--set", "band3_gain=-24",    "--set", "band3_levelMin=-50",
                                "--set", "band3_levelMax=-44"};
    const auto withKey = [&] (const juce::String& name)
    {
        auto args = cut;
        args.addArray ({"--key", path (name)});
        return renderToWav ("in.wav", args).channels;
    };
    const auto plain = renderToWav ("in.wav", cut);
    const auto keyed = withKey ("key.wav");
    ASSERT_EQ (keyed.size(), 2u);
    ASSERT_EQ (keyed[0].size(), (size_t)n);
    EXPECT_NE (keyed, plain.channels);
    EXPECT_EQ (withKey ("long-key.wav"), keyed);
    EXPECT_EQ (withKey ("short-key.wav"), withKey ("padded-key.wav"));

    // Another rate is refused, naming both.
    writeWav (file ("key-44k.wav"), {shortKey}, 44100.0, 32);
    file ("out.wav").deleteFile();
    const auto refused = render ({path ("in.wav"), path ("out.wav"), "--key", path ("key-44k.wav")});
    EXPECT_TRUE (refused.failed());
    EXPECT_TRUE (refused.getErrorMessage().contains ("44100 Hz")) << refused.getErrorMessage();
    EXPECT_TRUE (refused.getErrorMessage().contains ("48000 Hz")) << refused.getErrorMessage();
    EXPECT_FALSE (file ("out.wav").exists());
}

TEST_F (RenderAudio, BlockSizeDoesNotChangeTheOutput)
{
    const int n = 12000;
    writeWav (file ("in.wav"), {test::makePinkNoise (n, 0.8f, 5), test::makeSine (1500.0, 44100.0, n)},
              44100.0, 32);
    const auto reference = renderToWav ("in.wav", {"--set", "band3_gain=-9"});
    ASSERT_EQ (reference.channels.size(), 2u);

    for (const juce::String block : {"1", "333", "65536"})
    {
        SCOPED_TRACE ("--block " + block);
        const auto out = renderToWav ("in.wav", {"--set", "band3_gain=-9", "--block", block});
        ASSERT_EQ (out.channels.size(), 2u);
        for (size_t ch = 0; ch < 2; ++ch)
            ASSERT_EQ (out.channels[ch], reference.channels[ch]) << "channel " << ch;
    }
}

TEST_F (RenderAudio, LongInputsReportProgressInTenPercentSteps)
{
    writeWav (file ("long.wav"), {std::vector<float> (8000 * 6, 0.0f)}, 8000.0, 16);
    renderToWav ("long.wav");
    EXPECT_EQ (progress, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
}

TEST_F (RenderAudio, SpectraFileHasOneRowPerAnalysisFrame)
{
    const int n = 10000;
    writeWav (file ("in.wav"), {test::makeSine (1000.0, 44100.0, n)}, 44100.0, 32);
    // A block longer than a hop: the renderer must still catch every frame.
    const auto withSpectra = renderToWav ("in.wav", {"--block", "1000", "--spectra", path ("spectra.csv")});
    EXPECT_EQ (withSpectra.channels, renderToWav ("in.wav").channels);

    juce::StringArray lines;
    lines.addLines (file ("spectra.csv").loadFileAsString());
    lines.removeEmptyStrings();
    ASSERT_EQ (lines.size(), 1 + n / hopSize + 1);

    const auto header = juce::StringArray::fromTokens (lines[0], ",", {});
    ASSERT_EQ (header.size(), 1 + 2 * numDisplayBins);
    EXPECT_EQ (header[0], "frame");
    EXPECT_EQ (header[1], "before_0");
    EXPECT_EQ (header[numDisplayBins], "before_" + juce::String (numDisplayBins - 1));
    EXPECT_EQ (header[numDisplayBins + 1], "after_0");
    EXPECT_EQ (header[2 * numDisplayBins], "after_" + juce::String (numDisplayBins - 1));

    for (int row = 1; row < lines.size(); ++row)
    {
        const auto cells = juce::StringArray::fromTokens (lines[row], ",", {});
        ASSERT_EQ (cells.size(), header.size()) << "row " << row;
        ASSERT_EQ (cells[0], juce::String (row - 1));
        for (int i = 1; i < cells.size(); ++i)
        {
            const double level = cells[i].getDoubleValue();
            ASSERT_TRUE (level >= 0.0 && level <= 1.0)
                << "row " << row << " column " << i << ": " << cells[i];
        }
    }
}

TEST_F (RenderAudio, GainChangesFileShowsEachFramesChangeBesideTheSpectra)
{
    const int n = 24000;
    writeWav (file ("in.wav"), {test::makePinkNoise (n, 0.6f, 11)}, 48000.0, 32);
    renderToWav ("in.wav", {"--set", "band3_gain=-12", "--set", "band5_gain=6", "--spectra",
                            path ("spectra.csv"), "--gain-changes", path ("changes.csv")});

    juce::StringArray spectra, changes;
    spectra.addLines (file ("spectra.csv").loadFileAsString());
    changes.addLines (file ("changes.csv").loadFileAsString());
    spectra.removeEmptyStrings();
    changes.removeEmptyStrings();
    ASSERT_EQ (changes.size(), spectra.size()); // the same frames
    ASSERT_EQ (changes.size(), 1 + n / hopSize + 1);

    const auto header = juce::StringArray::fromTokens (changes[0], ",", {});
    ASSERT_EQ (header.size(), 1 + numBands + numDisplayBins);
    EXPECT_EQ (header.joinIntoString (",").upToFirstOccurrenceOf (",change_0", true, false),
               "frame,band1,band2,band3,band4,band5,change_0");
    EXPECT_EQ (header[header.size() - 1], "change_" + juce::String (numDisplayBins - 1));

    // Row by row, where neither view is clipped, the change is the after level less the before.
    int compared = 0;
    for (int row = 1; row < changes.size(); ++row)
    {
        const auto cells = juce::StringArray::fromTokens (changes[row], ",", {});
        const auto levels = juce::StringArray::fromTokens (spectra[row], ",", {});
        ASSERT_EQ (cells.size(), header.size()) << "row " << row;
        ASSERT_EQ (cells[0], juce::String (row - 1));
        EXPECT_EQ (cells[1].getDoubleValue(), 0.0) << "row " << row; // band 1 stays at 0 dB
        for (int i = 1; i < numDisplayBins; ++i)
        {
            const double before = levels[1 + i].getDoubleValue();
            const double after = levels[1 + numDisplayBins + i].getDoubleValue();
            if (before > 0.01 && before < 0.99 && after > 0.01 && after < 0.99)
            {
                ASSERT_NEAR (cells[1 + numBands + i].getDoubleValue(), 100.0 * (after - before), 2e-3)
                    << "row " << row << " bin " << i;
                ++compared;
            }
        }
        if (row > 20 && row < changes.size() - 8) // settled, and still within the input
        {
            EXPECT_NEAR (cells[3].getDoubleValue(), -12.0, 0.1) << "row " << row;
            EXPECT_NEAR (cells[5].getDoubleValue(), 6.0, 0.1) << "row " << row;
        }
    }
    EXPECT_GT (compared, 20000);
}

TEST_F (RenderState, SavedStateReloadsExactlyAndRendersLikeTheSettings)
{
    ASSERT_TRUE (render ({"--set", "band3_gain=-12", "--save-state", path ("a.state")}).wasOk());
    ASSERT_TRUE (render ({"--state", path ("a.state"), "--save-state", path ("b.state")}).wasOk());
    const auto saved = fileBytes (file ("a.state"));
    ASSERT_GT (saved.getSize(), 8u);
    EXPECT_EQ (fileBytes (file ("b.state")), saved);

    const int n = 20000;
    writeWav (file ("in.wav"), {test::makePinkNoise (n, 0.8f, 9), test::makeSine (1000.0, 48000.0, n)},
              48000.0, 32);
    const auto direct = renderToWav ("in.wav", {"--set", "band3_gain=-12", "--save-state", path ("c.state")});
    EXPECT_EQ (fileBytes (file ("c.state")), saved); // saved alongside a render: the same block
    const auto fromState = renderToWav ("in.wav", {"--state", path ("a.state")});
    const auto unity = renderToWav ("in.wav");
    ASSERT_EQ (fromState.channels.size(), 2u);
    EXPECT_EQ (fromState.channels, direct.channels);
    EXPECT_NE (fromState.channels, unity.channels);
}

TEST_F (RenderState, PresetSavedByTheEditorRendersLikeTheEditorsProcessor)
{
    VarnelleAudioProcessor editorProcessor;
    const std::vector<std::pair<juce::String, float>> values{{"band1_gain", -9.0f},
                                                             {"band2_freqLow", 400.0f},
                                                             {"band3_gain", -14.0f},
                                                             {"band3_attackMs", 30.0f},
                                                             {"band4_bypass", 1.0f}};
    juce::StringArray setArgs;
    for (const auto& [id, value] : values)
    {
        test::setParameter (editorProcessor, id, value);
        setArgs.addArray ({"--set", id + "=" + juce::String (value)});
    }

    editor::PresetManager presets (editorProcessor, file ("Presets"));
    const auto preset = presets.savePresetWithName ("Render Me");
    ASSERT_TRUE (preset.existsAsFile());
    const auto presetBytes = fileBytes (preset);

    const int n = 24000;
    const Channels input{test::makePinkNoise (n, 0.8f, 17), test::makeSine (700.0, 48000.0, n, 0.6f)};
    writeWav (file ("in.wav"), input, 48000.0, 32);

    const auto fromPreset = renderToWav ("in.wav", {"--state", preset.getFullPathName()});
    const auto fromSettings = renderToWav ("in.wav", setArgs);
    const auto unity = renderToWav ("in.wav");
    ASSERT_EQ (fromPreset.channels.size(), 2u);
    ASSERT_EQ (fromPreset.channels[0].size(), (size_t)n);
    EXPECT_EQ (fromPreset.channels, fromSettings.channels);
    EXPECT_NE (fromPreset.channels, unity.channels);

    // The same input straight through a processor restored from the preset's bytes, with its
    // latency flushed by silence and dropped from the front.
    auto direct = test::makePreparedProcessor (2, 48000.0, 512);
    direct->setStateInformation (presetBytes.getData(), (int)presetBytes.getSize());
    for (int i = 0; i < direct->getParameters().size(); ++i)
        ASSERT_EQ (direct->getParameters()[i]->getValue(), editorProcessor.getParameters()[i]->getValue());

    auto audio = input;
    for (auto& channel : audio)
        channel.resize ((size_t)(n + latencySamples), 0.0f);
    test::processInBlocks (*direct, audio, {512});
    for (auto& channel : audio)
        channel.erase (channel.begin(), channel.begin() + latencySamples);
    EXPECT_EQ (fromPreset.channels, audio);

    EXPECT_EQ (fileBytes (preset), presetBytes); // rendering reads the preset, never writes it
}

TEST_F (RenderState, OutOfRangeSettingIsClampedWithAWarning)
{
    ASSERT_TRUE (render ({"--set", "band3_gain=-1e9", "--save-state", path ("clamped.state")}).wasOk());
    ASSERT_EQ (warnings.size(), 1);
    EXPECT_TRUE (warnings[0].contains ("band3_gain")) << warnings[0];

    VarnelleAudioProcessor processor;
    const auto* parameter = processor.parameters.getParameter ("band3_gain");
    ASSERT_NE (parameter, nullptr);
    const auto minimum = juce::String (parameter->getNormalisableRange().start);
    ASSERT_TRUE (render ({"--set", "band3_gain=" + minimum, "--save-state", path ("min.state")}).wasOk());
    EXPECT_EQ (warnings.size(), 1);
    EXPECT_EQ (fileBytes (file ("clamped.state")), fileBytes (file ("min.state")));
}

TEST_F (RenderErrors, CommandLineMistakesAreRejectedWithAClearMessage)
{
    const std::vector<std::pair<juce::StringArray, juce::String>> cases{
        {{"in.wav", "out.wav", "--set", "band3_gain=loud"}, "not a number"},
        {{"in.wav", "out.wav", "--set", "band3_gain=0x10"}, "not a number"},
        {{"in.wav", "out.wav", "--set", "band3_gain=inf"}, "not a number"},
        {{"in.wav", "out.wav", "--set", "band3_gain"}, "ID=VALUE"},
        {{"in.wav", "out.wav", "--block", "0"}, "--block expects"},
        {{"in.wav", "out.wav", "--block", "65537"}, "--block expects"},
        {{"in.wav", "out.wav", "--block=12x"}, "--block expects"},
        {{"in.wav", "out.wav", "--block", "-4"}, "--block expects"},
        {{"in.wav", "out.wav", "--block"}, "needs a value"},
        {{"in.wav"}, "missing the output"},
        {{}, "missing the input"},
        {{"in.wav", "out.wav", "extra.wav"}, "too many"},
        {{"in.wav", "out.wav", "--gain", "3"}, "unknown option"},
        {{"in.wav", "out.wav", "--listen-to-band", "6"}, "--listen-to-band expects"},
        {{"in.wav", "out.wav", "--listen-to-band", "0"}, "--listen-to-band expects"},
        {{"in.wav", "out.wav", "--listen-to-band=2", "--listen-to-change"}, "give one"},
        {{"--save-state", "s.xml", "--gain-changes", "c.csv"}, "--gain-changes needs an input"},
    };
    for (const auto& [args, expected] : cases)
    {
        const auto parsed = parseRenderOptions (args);
        EXPECT_FALSE (parsed.options.has_value()) << args.joinIntoString (" ");
        EXPECT_TRUE (parsed.error.contains (expected)) << args.joinIntoString (" ") << " -> " << parsed.error;
    }

    // The accepted spellings of the same options.
    const auto good =
        parseRenderOptions ({"--block=333", "--set", "band3_gain=-1.5e1", "--", "-in.wav", "o.wav"});
    ASSERT_TRUE (good.options.has_value()) << good.error;
    EXPECT_EQ (good.options->blockSize, 333);
    ASSERT_EQ (good.options->settings.size(), 1u);
    EXPECT_EQ (good.options->settings[0].value, -15.0);
    EXPECT_EQ (good.options->inputPath, "-in.wav");
}

TEST_F (RenderErrors, FailedRendersWriteNothingAndKeepExistingFiles)
{
    writeWav (file ("in.wav"), {test::makeSine (1000.0, 44100.0, 4000)}, 44100.0, 24);
    const auto sine = test::makeSine (440.0, 44100.0, 2000);
    writeWav (file ("three.wav"), {sine, sine, sine}, 44100.0, 16);
    file ("text.wav").replaceWithText ("this is not audio");
    file ("bad.state").replaceWithText ("<PARAMETERS/>");
    const auto in = path ("in.wav"), out = path ("out.wav"), noFolder = path ("missing/x");

    const std::vector<std::pair<juce::StringArray, juce::String>> cases{
        {{path ("absent.wav"), out}, "does not exist"},
        {{path ("text.wav"), out}, "not a WAV"},
        {{path ("three.wav"), out}, "3 channels"},
        {{in, out, "--set", "band9_gain=1"}, "unknown parameter ID 'band9_gain'"},
        {{in, out, "--state", path ("bad.state")}, "not a Varnelle state block"},
        {{in, out, "--state", path ("absent.state")}, "does not exist"},
        {{in, noFolder + ".wav"}, "does not exist"},
        {{in, path ("")}, "it is a folder"},
        {{in, out, "--spectra", noFolder + ".csv"}, "does not exist"},
        {{in, out, "--save-state", noFolder + ".state"}, "does not exist"},
    };

    const auto filesBefore = dir.findChildFiles (juce::File::findFiles, false).size();
    for (const bool outputExists : {false, true})
    {
        for (const auto& [args, expected] : cases)
        {
            SCOPED_TRACE (args.joinIntoString (" ") + (outputExists ? " (over an existing file)" : ""));
            if (outputExists)
                file ("out.wav").replaceWithText ("keep me");

            const auto result = render (args);
            ASSERT_TRUE (result.failed());
            EXPECT_TRUE (result.getErrorMessage().contains (expected)) << result.getErrorMessage();

            if (outputExists)
                EXPECT_EQ (file ("out.wav").loadFileAsString(), "keep me");
            else
                EXPECT_FALSE (file ("out.wav").exists());
            EXPECT_EQ (dir.findChildFiles (juce::File::findFiles, false).size(),
                       filesBefore + (outputExists ? 1 : 0))
                << "a temporary or partial file was left behind";
            EXPECT_FALSE (file ("missing").exists());
        }
    }

    // The list of valid IDs comes with an unknown one.
    const auto unknown = render ({in, out, "--set", "band3_gian=-3"});
    EXPECT_TRUE (unknown.getErrorMessage().contains ("band1_freqLow")) << unknown.getErrorMessage();
    EXPECT_TRUE (unknown.getErrorMessage().contains ("band5_bypass")) << unknown.getErrorMessage();
    EXPECT_TRUE (unknown.getErrorMessage().contains ("band3_gain")) << unknown.getErrorMessage();
}
