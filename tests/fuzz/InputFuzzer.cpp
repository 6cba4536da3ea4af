// libFuzzer target for the renderer's reading of its input file (WAV, RF64, AIFF, FLAC), header
// fields included: every input must be read to its end, without a crash or hang, and never
// yield more audio than its bytes can carry, whatever its length fields claim.
//
// Setting VARNELLE_FUZZ_WRITE_SEEDS=<dir> makes the binary write its seed corpus into <dir>
// and exit instead of fuzzing.

#include "InputAudio.h"
#include "SeedRequest.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{
[[noreturn]] void fail (const char* what, const juce::String& detail = {})
{
    std::fprintf (stderr, "\n*** varnelle_input_fuzzer: invariant broken: %s %s\n", what, detail.toRawUTF8());
    std::fflush (stderr);
    __builtin_trap();
}

/** The most samples per channel `size` bytes of the format can hold. A WAV or AIFF sample
    takes at least one byte. A FLAC frame of up to 65536 samples takes at least 11 bytes
    (header with its block size and CRC, one constant subframe, the frame's CRC), so silence
    in FLAC legitimately holds thousands of samples per byte. */
juce::int64 mostSamplesFor (const std::uint8_t* data, size_t size)
{
    const bool isFlac =
        size >= 4 && (std::memcmp (data, "fLaC", 4) == 0 || std::memcmp (data, "ID3", 3) == 0);
    return isFlac ? 65536 * ((juce::int64)size / 11 + 1) : (juce::int64)size;
}

juce::MemoryBlock encode (juce::AudioFormat& format, int numChannels, int numSamples, int bits)
{
    juce::MemoryBlock block;
    {
        std::unique_ptr<juce::AudioFormatWriter> writer (format.createWriterFor (
            new juce::MemoryOutputStream (block, false), 44100.0, (unsigned)numChannels, bits, {}, 0));
        if (writer == nullptr)
            fail ("no writer for a seed of", format.getFormatName());

        juce::AudioBuffer<float> buffer (numChannels, numSamples);
        for (int ch = 0; ch < numChannels; ++ch)
            for (int i = 0; i < numSamples; ++i)
                buffer.setSample (ch, i,
                                  std::sin (0.05f * (float)(i + 7 * ch)) * (i % 64 < 32 ? 0.5f : 0.0f));
        writer->writeFromAudioSampleBuffer (buffer, 0, numSamples);
    }
    return block;
}

void writeSeed (const juce::File& dir, const char* name, const juce::MemoryBlock& bytes)
{
    if (!dir.getChildFile (name).replaceWithData (bytes.getData(), bytes.getSize()))
        fail ("could not write", dir.getChildFile (name).getFullPathName());
}

void setWord (juce::MemoryBlock& block, const char* id, juce::uint32 value)
{
    auto* bytes = static_cast<char*> (block.getData());
    for (size_t i = 0; i + 8 <= block.getSize(); ++i)
        if (std::memcmp (bytes + i, id, 4) == 0)
        {
            for (int b = 0; b < 4; ++b)
                bytes[i + 4 + (size_t)b] = (char)((value >> (8 * b)) & 0xff); // little-endian
            return;
        }
}

void writeSeeds (const juce::File& dir)
{
    if (!dir.createDirectory().wasOk())
        fail ("could not create", dir.getFullPathName());

    juce::WavAudioFormat wav;
    juce::AiffAudioFormat aiff;
    juce::FlacAudioFormat flac;
    writeSeed (dir, "stereo-16.wav", encode (wav, 2, 300, 16));
    writeSeed (dir, "mono-8.wav", encode (wav, 1, 200, 8));
    writeSeed (dir, "mono-24.wav", encode (wav, 1, 150, 24));
    writeSeed (dir, "stereo-float.wav", encode (wav, 2, 100, 32));
    auto placeholder = encode (wav, 2, 300, 16);
    setWord (placeholder, "data", 0xffffffffu);
    writeSeed (dir, "placeholder-size.wav", placeholder);
    writeSeed (dir, "stereo-16.aiff", encode (aiff, 2, 300, 16));
    writeSeed (dir, "mono-24.aiff", encode (aiff, 1, 120, 24));
    // Apple's loop categories after the sound: a tag, then data not ending on a whole tag.
    auto categories = encode (aiff, 1, 120, 16);
    const char cate[] = "cate\0\0\0\x40\0\0\0\0Rock/Blues";
    categories.append (cate, sizeof (cate) - 1);
    categories.ensureSize (categories.getSize() + 8 + 64 - (sizeof (cate) - 1), true);
    const auto formSize = (juce::uint32)categories.getSize() - 8;
    for (int k = 0; k < 4; ++k)
        categories[4 + k] = (char)(formSize >> (24 - 8 * k));
    writeSeed (dir, "categories.aiff", categories);
    writeSeed (dir, "stereo-16.flac", encode (flac, 2, 5000, 16));
    writeSeed (dir, "mono-24.flac", encode (flac, 1, 3000, 24));
}

} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    writeSeedsAndExitIfAsked ([] (const juce::File& dir) { writeSeeds (dir); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    std::unique_ptr<InputAudio> input;
    const auto opened =
        openInputAudio (std::make_unique<juce::MemoryInputStream> (data, size, false), "'fuzz'", input);
    if (opened.failed())
    {
        if (input != nullptr || opened.getErrorMessage().isEmpty())
            fail ("a failed open left an input or said nothing");
        return 0;
    }

    const int numChannels = input->getNumChannels();
    if (numChannels < 1)
        fail ("an opened input has no channels");

    // The renderer refuses more than two channels before it reads; up to eight are read here.
    if (numChannels > 8)
        return 0;

    constexpr int blockSize = 4096;
    std::vector<std::vector<float>> buffers ((size_t)numChannels, std::vector<float> (blockSize));
    std::vector<float*> pointers;
    for (auto& buffer : buffers)
        pointers.push_back (buffer.data());

    const auto limit = mostSamplesFor (data, size);
    juce::int64 total = 0;
    for (;;)
    {
        const int got = input->read (pointers.data(), blockSize);
        if (got < 0)
            break; // a read error ends the render with a message
        if (got > blockSize)
            fail ("read more than was asked");

        total += got;
        if (total > limit)
            fail ("more samples than the bytes can hold:",
                  juce::String (total) + " from " + juce::String ((juce::int64)size) + " bytes");
        if (got < blockSize)
            break;
    }

    if (input->getKnownLength() >= 0 && input->getError().isEmpty() && input->getKnownLength() != total)
        fail ("the known length and the samples read differ:",
              juce::String (input->getKnownLength()) + " vs " + juce::String (total));
    if (input->getNumSamplesRead() != total)
        fail ("the count of samples read is wrong");
    return 0;
}
