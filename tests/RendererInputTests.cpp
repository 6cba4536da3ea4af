// The renderer reads the audio an input really holds, whatever its header's length fields
// claim, and a render stopped by a signal leaves nothing behind.

#include "RenderOptions.h"
#include "Renderer.h"
#include "helpers/TestHelpers.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace
{
constexpr int rate = 48000;

class DamagedInput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = varnelle::test::createUniqueTemporaryFolder ("varnelle-render-input");
        ASSERT_TRUE (dir.isDirectory());
    }

    void TearDown() override { dir.deleteRecursively(); }

    juce::File file (const juce::String& name) const { return dir.getChildFile (name); }

    /** One second of a stereo tone in `format`, as bytes. */
    static juce::MemoryBlock encodeOneSecond (juce::AudioFormat& format, int bits)
    {
        juce::MemoryBlock block;
        std::unique_ptr<juce::AudioFormatWriter> writer (
            format.createWriterFor (new juce::MemoryOutputStream (block, false), rate, 2, bits, {}, 0));
        EXPECT_NE (writer, nullptr);
        const auto left = varnelle::test::makeSine (440.0, rate, rate),
                   right = varnelle::test::makeSine (990.0, rate, rate);
        const float* channels[] = {left.data(), right.data()};
        writer->writeFromFloatArrays (channels, 2, rate);
        writer.reset();
        return block;
    }

    /** Renders `bytes` (written as `name`) at default settings; the output's samples, or none
        if the render failed. */
    juce::MemoryBlock render (const juce::String& name, const juce::MemoryBlock& bytes)
    {
        file (name).replaceWithData (bytes.getData(), bytes.getSize());
        const auto out = file ("out-" + name + ".wav");
        warnings.clear();
        RenderCallbacks callbacks;
        callbacks.warning = [this] (const juce::String& message) { warnings.add (message); };
        const auto parsed = parseRenderOptions ({file (name).getFullPathName(), out.getFullPathName()});
        const auto result = runRender (*parsed.options, callbacks);
        EXPECT_TRUE (result.wasOk()) << result.getErrorMessage();

        juce::MemoryBlock samples;
        std::unique_ptr<juce::AudioFormatReader> reader (
            juce::WavAudioFormat().createReaderFor (out.createInputStream().release(), true));
        if (reader != nullptr)
        {
            juce::AudioBuffer<float> buffer (2, (int)reader->lengthInSamples);
            reader->read (&buffer, 0, buffer.getNumSamples(), 0, true, true);
            for (int ch = 0; ch < 2; ++ch)
                samples.append (buffer.getReadPointer (ch), (size_t)buffer.getNumSamples() * sizeof (float));
        }
        return samples;
    }

    /** Renders `intact` as `name`: the samples every damaged copy must give, two channels of one
        second, read without a warning. */
    juce::MemoryBlock renderIntact (const juce::String& name, const juce::MemoryBlock& intact)
    {
        auto samples = render (name, intact);
        EXPECT_EQ (samples.getSize(), 2u * rate * sizeof (float));
        EXPECT_TRUE (warnings.isEmpty()) << warnings.joinIntoString ("\n");
        return samples;
    }

    static size_t offsetOf (const juce::MemoryBlock& bytes, const char* id)
    {
        const auto* data = static_cast<const char*> (bytes.getData());
        for (size_t i = 0; i + 4 <= bytes.getSize(); ++i)
            if (std::memcmp (data + i, id, 4) == 0)
                return i;
        ADD_FAILURE() << id << " not found";
        return 0;
    }

    static void putLittle32 (juce::MemoryBlock& bytes, size_t at, juce::uint32 value)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + (size_t)i] = (char)((value >> (8 * i)) & 0xff);
    }

    juce::File dir;
    juce::StringArray warnings;
};

const juce::String warnsRealLength = "samples but ends after 48000; rendering 48000";

TEST_F (DamagedInput, WavDataSizesAreHeldToTheBytesPresent)
{
    juce::WavAudioFormat wav;
    const auto intact = encodeOneSecond (wav, 16);
    const auto reference = renderIntact ("intact.wav", intact);
    ASSERT_FALSE (HasFailure());

    const auto sizeAt = offsetOf (intact, "data") + 4;
    const struct
    {
        const char* name;
        juce::uint32 dataSize;
        const char* claim;
    } cases[] = {
        {"placeholder.wav", 0xffffffffu, "placeholder.wav' says it holds 1073741823 "},
        {"oversized.wav", 4 * rate + 1000, "says it holds 48250 "},
        {"odd-oversized.wav", 4 * rate + 3, "says it holds 48000 "}, // whole frames only: no warning
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto damaged = intact;
        putLittle32 (damaged, sizeAt, c.dataSize);
        EXPECT_TRUE (render (c.name, damaged) == reference);
        if (c.dataSize % 4 == 0 || c.dataSize == 0xffffffffu)
        {
            ASSERT_EQ (warnings.size(), 1) << warnings.joinIntoString ("\n");
            EXPECT_TRUE (warnings[0].contains (c.claim) && warnings[0].contains (warnsRealLength))
                << warnings[0];
        }
        else
        {
            EXPECT_TRUE (warnings.isEmpty()) << warnings.joinIntoString ("\n");
        }
    }

    // A size of 0 is taken at its word, as sox does, with the audio behind it named.
    auto empty = intact;
    putLittle32 (empty, sizeAt, 0);
    EXPECT_EQ (render ("zero.wav", empty).getSize(), 0u);
    ASSERT_EQ (warnings.size(), 1);
    EXPECT_TRUE (warnings[0].contains ("0 samples long, but 192000 bytes follow")) << warnings[0];

    // RF64: the data chunk's placeholder points at ds64, whose size is checked the same way.
    juce::MemoryBlock rf64;
    const auto fmtAt = offsetOf (intact, "fmt ");
    const auto dataAt = offsetOf (intact, "data");
    const char ds64[] = "RF64\xff\xff\xff\xffWAVEds64\x1c\0\0\0";
    rf64.append (ds64, sizeof (ds64) - 1);
    const juce::int64 riffSize = -1, dataSize = (juce::int64)1 << 40, sampleCount = 0;
    for (auto value : {riffSize, dataSize, sampleCount})
        rf64.append (&value, 8);
    rf64.append ("\0\0\0\0", 4); // no table
    rf64.append (static_cast<const char*> (intact.getData()) + fmtAt, dataAt - fmtAt);
    rf64.append ("data\xff\xff\xff\xff", 8);
    rf64.append (static_cast<const char*> (intact.getData()) + dataAt + 8, intact.getSize() - dataAt - 8);
    EXPECT_TRUE (render ("long.rf64.wav", rf64) == reference);
    ASSERT_EQ (warnings.size(), 1);
    EXPECT_TRUE (warnings[0].contains ("says it holds 274877906944 " + warnsRealLength)) << warnings[0];
}

TEST_F (DamagedInput, FlacIsDecodedToItsEndWhateverItsTotalSays)
{
    juce::FlacAudioFormat flac;
    const auto intact = encodeOneSecond (flac, 16);
    const auto reference = renderIntact ("intact.flac", intact);
    ASSERT_FALSE (HasFailure());

    // STREAMINFO follows "fLaC" and its 4-byte block header; its total is the low 36 bits of
    // the big-endian word at byte 10 of the block.
    const auto setTotal = [&] (juce::uint64 total)
    {
        auto damaged = intact;
        auto* word = static_cast<unsigned char*> (damaged.getData()) + 8 + 10;
        juce::uint64 bits = 0;
        for (int i = 0; i < 8; ++i)
            bits = bits << 8 | word[i];
        bits = (bits & ~((juce::uint64 (1) << 36) - 1)) | total;
        for (int i = 7; i >= 0; --i, bits >>= 8)
            word[i] = (unsigned char)(bits & 0xff);
        return damaged;
    };

    EXPECT_TRUE (render ("huge.flac", setTotal (0xffffffffu)) == reference);
    ASSERT_EQ (warnings.size(), 1);
    EXPECT_TRUE (warnings[0].contains ("huge.flac' says it holds 4294967295 " + warnsRealLength))
        << warnings[0];

    EXPECT_TRUE (render ("short.flac", setTotal (1000)) == reference);
    ASSERT_EQ (warnings.size(), 1);
    EXPECT_TRUE (warnings[0].contains ("says it holds 1000 " + warnsRealLength)) << warnings[0];

    EXPECT_TRUE (render ("unknown.flac", setTotal (0)) == reference); // 0: the encoder did not know
    EXPECT_TRUE (warnings.isEmpty()) << warnings.joinIntoString ("\n");
}

TEST_F (DamagedInput, AiffWithAnImpossibleSampleSizeFailsClearly)
{
    // JUCE's AIFF reader would loop for ever on frames larger than its buffer.
    juce::AiffAudioFormat aiff;
    auto damaged = encodeOneSecond (aiff, 16);
    const auto sampleSizeAt = offsetOf (damaged, "COMM") + 14;
    damaged[sampleSizeAt] = (char)0x7f;
    damaged[sampleSizeAt + 1] = (char)0x10;
    file ("huge-samples.aiff").replaceWithData (damaged.getData(), damaged.getSize());

    const auto parsed = parseRenderOptions (
        {file ("huge-samples.aiff").getFullPathName(), file ("out.wav").getFullPathName()});
    const auto result = runRender (*parsed.options, {});
    ASSERT_TRUE (result.failed());
    EXPECT_TRUE (result.getErrorMessage().contains ("cannot be decoded")) << result.getErrorMessage();
    EXPECT_FALSE (file ("out.wav").exists());
}

// JUCE's readers of AIFF metadata trust it: its reader of Apple's "cate" chunk reads past the
// data when it does not end on a whole tag (found by the fuzzer, under AddressSanitizer), its
// reader of "INST" allocates what the length field says. A render needs none of it, so the
// renderer's reader shows JUCE's the sound's chunks only.
TEST_F (DamagedInput, AiffMetadataIsNotReadAndTheSoundIsAsWithout)
{
    juce::AiffAudioFormat aiff;
    const auto intact = encodeOneSecond (aiff, 16);
    const auto reference = renderIntact ("intact.aiff", intact);
    ASSERT_FALSE (HasFailure());

    // The intact file with a chunk after its sound, the FORM's size following.
    const auto withChunk = [&intact] (const juce::MemoryBlock& chunk)
    {
        auto bytes = intact;
        bytes.append (chunk.getData(), chunk.getSize());
        const auto formSize = (juce::uint32)bytes.getSize() - 8;
        for (int k = 0; k < 4; ++k)
            bytes[4 + k] = (char)(formSize >> (24 - 8 * k));
        return bytes;
    };

    // Loop categories: 4 bytes JUCE skips, then 201 of which the last starts a tag (tags go
    // every 50), and a byte to an even length.
    juce::MemoryBlock categories ("cate\0\0\0\xcd", 8);
    categories.ensureSize (8 + 4 + 201 + 1, true);
    categories[8 + 4 + 200] = 'R';
    EXPECT_TRUE (render ("categories.aiff", withChunk (categories)) == reference);
    EXPECT_TRUE (warnings.isEmpty()) << warnings.joinIntoString ("\n");

    // An instrument chunk that claims 4 GB.
    EXPECT_TRUE (render ("instrument.aiff", withChunk ({"INST\xff\xff\xff\xf0\0\0", 10})) == reference);
}

#ifdef VARNELLE_RENDER_BINARY
/** Starts the real renderer on a long render and stops it with `signalNumber` once its
    temporary outputs exist. Returns its exit status, or -1 if it did not end that way. */
int renderAndInterrupt (const juce::File& folder, const juce::StringArray& args, int signalNumber)
{
    std::vector<std::string> words{VARNELLE_RENDER_BINARY};
    for (const auto& arg : args)
        words.push_back (arg.toStdString());
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back (word.data());
    argv.push_back (nullptr);

    pid_t child = 0;
    if (::posix_spawn (&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;

    // Wait for the temporary audio output (and so every output: they are opened together).
    for (int i = 0; i < 3000; ++i)
    {
        if (!folder.findChildFiles (juce::File::findFiles, false, "*_temp*").isEmpty())
            break;
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }
    std::this_thread::sleep_for (std::chrono::milliseconds (100));
    ::kill (child, signalNumber);

    int status = 0;
    if (::waitpid (child, &status, 0) != child || !WIFEXITED (status))
        return -1;
    return WEXITSTATUS (status);
}

TEST_F (DamagedInput, SignalledRenderLeavesNoTemporaryFileAndKeepsTheOldOutputs)
{
    // Ten minutes of near-silence: a few kilobytes of FLAC, seconds of rendering.
    {
        juce::FlacAudioFormat flac;
        std::unique_ptr<juce::AudioFormatWriter> writer (
            flac.createWriterFor (new juce::FileOutputStream (file ("long.flac")), rate, 2, 16, {}, 0));
        ASSERT_NE (writer, nullptr);
        juce::AudioBuffer<float> block (2, rate);
        block.clear();
        for (int second = 0; second < 600; ++second)
            writer->writeFromAudioSampleBuffer (block, 0, rate);
    }

    const juce::StringArray outputs{"out.wav", "frames.csv", "window.png", "saved.state"};
    for (const auto& name : outputs)
        file (name).replaceWithText ("keep me");

    for (const int signalNumber : {SIGTERM, SIGINT})
    {
        SCOPED_TRACE (signalNumber == SIGTERM ? "SIGTERM" : "SIGINT");
        const auto status = renderAndInterrupt (
            dir,
            {file ("long.flac").getFullPathName(), file ("out.wav").getFullPathName(), "--spectra",
             file ("frames.csv").getFullPathName(), "--snapshot", file ("window.png").getFullPathName(),
             "--save-state", file ("saved.state").getFullPathName()},
            signalNumber);
        EXPECT_EQ (status, 128 + signalNumber);

        juce::StringArray left;
        for (const auto& f : dir.findChildFiles (juce::File::findFiles, false))
            left.add (f.getFileName());
        left.sort (false);
        EXPECT_EQ (left.joinIntoString (" "), "frames.csv long.flac out.wav saved.state window.png");
        for (const auto& name : outputs)
            EXPECT_EQ (file (name).loadFileAsString(), "keep me") << name;
    }
}
#endif

} // namespace
