#include "InputAudio.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace
{
juce::Result fail (const juce::String& message)
{
    return juce::Result::fail (message);
}

juce::String claimText (juce::int64 claimed, juce::int64 real)
{
    return "says it holds " + juce::String (claimed) + " samples but ends after " + juce::String (real) +
           "; rendering " + juce::String (real);
}

bool hasId (const char* bytes, const char* id)
{
    return std::memcmp (bytes, id, 4) == 0;
}

// --- WAV ------------------------------------------------------------------------------------

/** What the chunks of a RIFF or RF64 WAVE file say, and how much of it is really there. */
struct WavLayout
{
    int formatTag = 0, channels = 0, blockAlign = 0, bitsPerSample = 0;
    double sampleRate = 0.0;
    juce::int64 dataStart = -1, claimedBytes = 0, realBytes = 0;
    bool sizeIsPlaceholder = false; // 0xFFFFFFFF: "to the end of the file"
};

constexpr juce::uint32 wavePlaceholderSize = 0xffffffffu;
constexpr int wavePcm = 1, waveFloat = 3, waveExtensible = 0xfffe;

juce::Result readWavLayout (juce::InputStream& in, const juce::String& name, WavLayout& layout)
{
    const auto total = in.getTotalLength();
    char header[12];
    if (total < 12 || in.read (header, 12) != 12)
        return fail (name + " is too short to be a WAV file");

    const bool isRf64 = hasId (header, "RF64");
    juce::int64 ds64DataBytes = -1;
    bool haveFormat = false;
    juce::int64 position = 12;

    // The RIFF size field is not trusted either: the chunks are walked to the end of the bytes.
    while (position + 8 <= total)
    {
        in.setPosition (position);
        char id[4];
        in.read (id, 4);
        const auto size = (juce::uint32)in.readInt();
        const auto body = position + 8;
        const auto bodyEnd = body + (juce::int64)size;

        if (hasId (id, "ds64") && isRf64 && size >= 24)
        {
            in.readInt64(); // the RIFF size
            ds64DataBytes = in.readInt64();
        }
        else if (hasId (id, "fmt ") && size >= 16)
        {
            layout.formatTag = (juce::uint16)in.readShort();
            layout.channels = (juce::uint16)in.readShort();
            layout.sampleRate = (double)(juce::uint32)in.readInt();
            in.readInt(); // bytes per second
            layout.blockAlign = (juce::uint16)in.readShort();
            layout.bitsPerSample = (juce::uint16)in.readShort();

            if (layout.formatTag == waveExtensible && size >= 40)
            {
                in.skipNextBytes (8);                            // extension size, valid bits, channel mask
                layout.formatTag = (juce::uint16)in.readShort(); // the sub-format GUID's first field
            }
            haveFormat = true;
        }
        else if (hasId (id, "data"))
        {
            const auto available = total - body;
            layout.dataStart = body;
            layout.claimedBytes = (isRf64 && size == wavePlaceholderSize && ds64DataBytes >= 0)
                                      ? ds64DataBytes
                                      : (juce::int64)size;
            layout.sizeIsPlaceholder = size == wavePlaceholderSize && !(isRf64 && ds64DataBytes >= 0);
            layout.realBytes =
                layout.sizeIsPlaceholder ? available : std::min (layout.claimedBytes, available);

            // The audio found: what may follow it is not needed, and when its size cannot be
            // believed, nothing can be found after it anyway.
            if (haveFormat || layout.claimedBytes > available)
                break;
        }

        position = bodyEnd + (size & 1);
    }

    if (!haveFormat)
        return fail (name + " is a WAV file without a format chunk");
    if (layout.dataStart < 0)
        return fail (name + " is a WAV file without audio (no data chunk)");
    if (layout.channels < 1 || layout.blockAlign < layout.channels ||
        layout.blockAlign % layout.channels != 0)
        return fail (name + " has an inconsistent WAV format chunk (" + juce::String (layout.channels) +
                     " channels in frames of " + juce::String (layout.blockAlign) + " bytes)");

    const int bytesPerSample = layout.blockAlign / layout.channels;
    const bool decodable = (layout.formatTag == wavePcm && bytesPerSample <= 4 && layout.bitsPerSample >= 1 &&
                            layout.bitsPerSample <= 8 * bytesPerSample) ||
                           (layout.formatTag == waveFloat && (bytesPerSample == 4 || bytesPerSample == 8));
    if (!decodable)
        return fail ("cannot read " + name + ": it uses a WAV encoding that cannot be decoded (format " +
                     juce::String (layout.formatTag) + ", " + juce::String (layout.bitsPerSample) +
                     " bits in " + juce::String (bytesPerSample) + " bytes)");

    return juce::Result::ok();
}

class WavInput final : public InputAudio
{
public:
    WavInput (std::unique_ptr<juce::InputStream> streamToUse, const WavLayout& wavLayout,
              const juce::String& name)
        : stream (std::move (streamToUse)), layout (wavLayout),
          bytesPerSample (wavLayout.blockAlign / wavLayout.channels)
    {
        numChannels = layout.channels;
        sampleRate = layout.sampleRate;
        knownLength = layout.realBytes / layout.blockAlign; // whole frames only
        claimedLength = layout.claimedBytes / layout.blockAlign;

        const auto following = stream->getTotalLength() - layout.dataStart;
        if (layout.claimedBytes == 0 && following >= layout.blockAlign)
            warnings.add (name + " says its audio is 0 samples long, but " + juce::String (following) +
                          " bytes follow its header; rendering 0 samples");
        else if (claimedLength != knownLength)
            warnings.add (name + " " + claimText (claimedLength, knownLength));

        stream->setPosition (layout.dataStart);
    }

    int read (float* const* channels, int numSamples) override
    {
        const auto count = (int)std::min<juce::int64> (numSamples, knownLength - samplesRead);
        if (count <= 0)
            return 0;

        bytes.resize ((size_t)count * (size_t)layout.blockAlign);
        if (stream->read (bytes.data(), (int)bytes.size()) != (int)bytes.size())
        {
            error = "the file ended early or could not be read";
            return -1;
        }

        for (int i = 0; i < count; ++i)
            for (int ch = 0; ch < numChannels; ++ch)
                channels[ch][i] = sampleAt (bytes.data() + (size_t)i * (size_t)layout.blockAlign +
                                            (size_t)ch * (size_t)bytesPerSample);

        samplesRead += count;
        return count;
    }

private:
    float sampleAt (const unsigned char* p) const
    {
        if (layout.formatTag == waveFloat)
        {
            if (bytesPerSample == 4)
            {
                float value;
                std::memcpy (&value, p, 4);
                return value;
            }
            double value;
            std::memcpy (&value, p, 8);
            return (float)value;
        }

        switch (bytesPerSample)
        {
            case 1:
                return ((int)p[0] - 128) / 128.0f; // 8-bit WAV is unsigned
            case 2:
                return (float)(juce::int16) (p[0] | (p[1] << 8)) / 32768.0f;
            case 3:
                return (float)((juce::int32) ((juce::uint32)p[0] << 8 | (juce::uint32)p[1] << 16 |
                                              (juce::uint32)p[2] << 24) >>
                               8) /
                       8388608.0f;
            default:
                return (float)(juce::int32) ((juce::uint32)p[0] | (juce::uint32)p[1] << 8 |
                                             (juce::uint32)p[2] << 16 | (juce::uint32)p[3] << 24) /
                       2147483648.0f;
        }
    }

    std::unique_ptr<juce::InputStream> stream;
    const WavLayout layout;
    const int bytesPerSample;
    std::vector<unsigned char> bytes;
};

// --- AIFF -----------------------------------------------------------------------------------

/** The AIFF file as JUCE's reader is to see it: only the chunks that make up the sound (FVER,
    COMM, SSND) keep their ids; the others are renamed, so that it skips them. A render needs
    none of the metadata, and JUCE's readers of it trust what they read: its reader of Apple's
    "cate" chunk reads up to two bytes past the chunk's data when the data does not end on a
    whole tag, and its reader of "INST" allocates as much as the chunk's length field says (up
    to 4 GB). The chunks are found by walking the file as JUCE's reader walks it. */
class AiffSoundChunksOnly final : public juce::InputStream
{
public:
    explicit AiffSoundChunksOnly (std::unique_ptr<juce::InputStream> sourceToUse)
        : source (std::move (sourceToUse))
    {
        findChunksToRename();
        source->setPosition (0);
    }

    juce::int64 getTotalLength() override { return source->getTotalLength(); }
    bool isExhausted() override { return source->isExhausted(); }
    juce::int64 getPosition() override { return source->getPosition(); }
    bool setPosition (juce::int64 newPosition) override { return source->setPosition (newPosition); }

    int read (void* destination, int maxBytes) override
    {
        const auto start = source->getPosition();
        const int got = source->read (destination, maxBytes);
        auto* bytes = static_cast<char*> (destination);
        for (const auto id : renamedIds)
            for (int k = 0; k < 4; ++k)
                if (const auto at = id + k - start; at >= 0 && at < got)
                    bytes[at] = "skip"[k];
        return got;
    }

private:
    void findChunksToRename()
    {
        const auto total = source->getTotalLength();
        char header[12] = {};
        if (source->read (header, 12) != 12)
            return;
        const auto end = 8 + (juce::int64) (juce::int32)juce::ByteOrder::bigEndianInt (header + 4);
        for (juce::int64 position = 12; position < end && position + 8 <= total;)
        {
            char chunk[8] = {};
            if (!source->setPosition (position) || source->read (chunk, 8) != 8)
                return;
            const bool sound = std::memcmp (chunk, "FVER", 4) == 0 || std::memcmp (chunk, "COMM", 4) == 0 ||
                               std::memcmp (chunk, "SSND", 4) == 0;
            if (!sound)
                renamedIds.push_back (position);
            const auto chunkEnd = position + 8 + (juce::int64)juce::ByteOrder::bigEndianInt (chunk + 4);
            position = chunkEnd + (chunkEnd & 1);
        }
    }

    std::unique_ptr<juce::InputStream> source;
    std::vector<juce::int64> renamedIds; // where a renamed chunk's id starts
};

/** JUCE's AIFF reader, which takes its length from the sound data's real size; the length is
    still held to what the bytes could carry. */
class AiffInput final : public InputAudio
{
public:
    AiffInput (std::unique_ptr<juce::AudioFormatReader> readerToUse, juce::int64 totalBytes,
               const juce::String& name)
        : reader (std::move (readerToUse))
    {
        numChannels = (int)reader->numChannels;
        sampleRate = reader->sampleRate;
        claimedLength = reader->lengthInSamples;

        const auto bytesPerFrame = (juce::int64)numChannels * std::max (1, (int)reader->bitsPerSample / 8);
        knownLength = std::clamp<juce::int64> (reader->lengthInSamples, 0, totalBytes / bytesPerFrame);
        if (knownLength != claimedLength)
            warnings.add (name + " " + claimText (claimedLength, knownLength));
    }

    int read (float* const* channels, int numSamples) override
    {
        const auto count = (int)std::min<juce::int64> (numSamples, knownLength - samplesRead);
        if (count <= 0)
            return 0;

        if (!reader->read (channels, numChannels, samplesRead, count))
        {
            error = "the file could not be read at sample " + juce::String (samplesRead);
            return -1;
        }
        samplesRead += count;
        return count;
    }

private:
    std::unique_ptr<juce::AudioFormatReader> reader;
};

// --- FLAC -----------------------------------------------------------------------------------

/** libFLAC's decoder, run until it reports the end of the stream: STREAMINFO's total is only
    compared with what was decoded. */
class FlacInput final : public InputAudio
{
public:
    FlacInput (std::unique_ptr<juce::InputStream> streamToUse, const juce::String& inputName)
        : stream (std::move (streamToUse)), name (inputName), decoder (FLAC__stream_decoder_new())
    {
    }

    ~FlacInput() override
    {
        if (decoder != nullptr)
        {
            FLAC__stream_decoder_finish (decoder);
            FLAC__stream_decoder_delete (decoder);
        }
    }

    juce::Result open()
    {
        if (decoder == nullptr)
            return fail ("cannot start a FLAC decoder");

        FLAC__stream_decoder_set_md5_checking (decoder, false);
        if (FLAC__stream_decoder_init_stream (decoder, readBytes, nullptr, nullptr, nullptr, nullptr,
                                              takeFrame, takeMetadata, noteError,
                                              this) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
            return fail ("cannot start a FLAC decoder");

        if (!FLAC__stream_decoder_process_until_end_of_metadata (decoder) || !haveStreamInfo)
            return fail ("cannot read " + name + ": it is not a FLAC stream that can be decoded");

        if (numChannels < 1)
            return fail (name + " is a FLAC stream without channels");
        return juce::Result::ok();
    }

    int read (float* const* channels, int numSamples) override
    {
        while ((int)pendingSamples() < numSamples && !ended && error.isEmpty())
        {
            const bool decoded = FLAC__stream_decoder_process_single (decoder);
            const auto state = FLAC__stream_decoder_get_state (decoder);
            if (state == FLAC__STREAM_DECODER_END_OF_STREAM)
                ended = true;
            else if (!decoded && error.isEmpty())
                error = "the FLAC decoder stopped: " + juce::String (FLAC__StreamDecoderStateString[state]);
        }

        if (error.isNotEmpty())
            return -1;

        const int count = (int)std::min<size_t> ((size_t)numSamples, pendingSamples());
        for (int ch = 0; ch < numChannels; ++ch)
            std::copy_n (pending[(size_t)ch].begin() + (std::ptrdiff_t)readIndex, count, channels[ch]);

        readIndex += (size_t)count;
        samplesRead += count;
        if (readIndex > 65536 && readIndex * 2 > pending[0].size())
        {
            for (auto& channel : pending)
                channel.erase (channel.begin(), channel.begin() + (std::ptrdiff_t)readIndex);
            readIndex = 0;
        }

        if (ended && pendingSamples() == 0)
            finish();
        return count;
    }

    double getProportionRead() const override
    {
        const auto total = stream->getTotalLength();
        return total > 0 ? (double)stream->getPosition() / (double)total : 1.0;
    }

private:
    size_t pendingSamples() const { return pending.empty() ? 0 : pending[0].size() - readIndex; }

    void finish()
    {
        if (knownLength >= 0)
            return;

        knownLength = samplesRead;
        if (claimedLength > 0 && claimedLength != knownLength)
            warnings.add (name + " " + claimText (claimedLength, knownLength));
        if (numDecodeErrors > 0)
            warnings.add (name + ": the FLAC decoder reported " + juce::String (numDecodeErrors) +
                          " damaged or lost frames");
    }

    static FLAC__StreamDecoderReadStatus readBytes (const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                                    size_t* bytes, void* client)
    {
        auto& self = *static_cast<FlacInput*> (client);
        const auto wanted = (int)std::min<size_t> (*bytes, 1 << 20);
        const auto got = self.stream->read (buffer, wanted);
        *bytes = got > 0 ? (size_t)got : 0;
        return got > 0 ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE
                       : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }

    static FLAC__StreamDecoderWriteStatus takeFrame (const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                     const FLAC__int32* const buffer[], void* client)
    {
        auto& self = *static_cast<FlacInput*> (client);
        const auto bits = frame->header.bits_per_sample;
        if ((int)frame->header.channels != self.numChannels || bits < 1 || bits > 32)
        {
            self.error = "its channel count or sample size changes in the middle of the stream";
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }

        const float scale = 1.0f / (float)(1ull << (bits - 1));
        for (int ch = 0; ch < self.numChannels; ++ch)
        {
            auto& channel = self.pending[(size_t)ch];
            for (unsigned i = 0; i < frame->header.blocksize; ++i)
                channel.push_back ((float)buffer[ch][i] * scale);
        }
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static void takeMetadata (const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* client)
    {
        auto& self = *static_cast<FlacInput*> (client);
        if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO || self.haveStreamInfo)
            return;

        const auto& info = metadata->data.stream_info;
        self.haveStreamInfo = true;
        self.numChannels = (int)info.channels;
        self.sampleRate = (double)info.sample_rate;
        self.claimedLength = info.total_samples > 0 ? (juce::int64)info.total_samples : -1; // 0: unknown
        self.pending.assign ((size_t)self.numChannels, {});
    }

    static void noteError (const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* client)
    {
        ++static_cast<FlacInput*> (client)->numDecodeErrors;
    }

    std::unique_ptr<juce::InputStream> stream;
    const juce::String name;
    FLAC__StreamDecoder* decoder = nullptr;
    bool haveStreamInfo = false, ended = false;
    int numDecodeErrors = 0;
    std::vector<std::vector<float>> pending;
    size_t readIndex = 0;
};
} // namespace

juce::Result openInputAudio (std::unique_ptr<juce::InputStream> stream, const juce::String& name,
                             std::unique_ptr<InputAudio>& result)
{
    result.reset();
    char magic[12] = {};
    const auto total = stream->getTotalLength();
    stream->read (magic, (int)sizeof (magic));
    stream->setPosition (0);

    const auto notAudio =
        fail ("cannot read " + name +
              ": it is not a WAV, AIFF or FLAC file, or uses an encoding that cannot be decoded");

    if ((hasId (magic, "RIFF") || hasId (magic, "RF64")) && hasId (magic + 8, "WAVE"))
    {
        WavLayout layout;
        if (const auto read = readWavLayout (*stream, name, layout); read.failed())
            return read;
        result = std::make_unique<WavInput> (std::move (stream), layout, name);
        return juce::Result::ok();
    }

    if (hasId (magic, "FORM") && (hasId (magic + 8, "AIFF") || hasId (magic + 8, "AIFC")))
    {
        std::unique_ptr<juce::AudioFormatReader> reader (
            juce::AiffAudioFormat().createReaderFor (new AiffSoundChunksOnly (std::move (stream)), true));
        // JUCE's AIFF reader decodes these sample sizes only, and loops for ever on frames
        // larger than its 5760-byte buffer.
        const auto bits = reader != nullptr ? reader->bitsPerSample : 0;
        if (reader == nullptr || reader->numChannels < 1 || reader->numChannels > 64 ||
            (bits != 8 && bits != 16 && bits != 24 && bits != 32))
            return notAudio;
        result = std::make_unique<AiffInput> (std::move (reader), total, name);
        return juce::Result::ok();
    }

    // A FLAC stream, possibly behind an ID3v2 tag, which libFLAC skips.
    if (hasId (magic, "fLaC") || std::memcmp (magic, "ID3", 3) == 0)
    {
        auto flac = std::make_unique<FlacInput> (std::move (stream), name);
        if (const auto opened = flac->open(); opened.failed())
            return opened;
        result = std::move (flac);
        return juce::Result::ok();
    }

    return notAudio;
}
