#pragma once

#include <juce_core/juce_core.h>

#include <memory>

/** An input file's audio as the file really holds it, read from start to end.

    A header's length field is only a claim: streaming writers leave 0xFFFFFFFF in a WAV's
    data size, a crashed recorder leaves any value, a FLAC encoder may not know its total. The
    length here is what the bytes hold (whole sample frames of a WAV or AIFF; for FLAC whatever
    the decoder delivers until it reports the end of the stream), so no input yields more audio
    than its bytes can carry. Any thread, one at a time. */
class InputAudio
{
public:
    virtual ~InputAudio() = default;

    int getNumChannels() const noexcept { return numChannels; }
    double getSampleRate() const noexcept { return sampleRate; }

    /** The length the header claims, in samples per channel; -1 if it claims none. */
    juce::int64 getClaimedLength() const noexcept { return claimedLength; }

    /** The real length, when it is known before reading (WAV, AIFF); -1 until the end is
        reached otherwise (FLAC). */
    juce::int64 getKnownLength() const noexcept { return knownLength; }

    /** Reads the next samples into `channels` (getNumChannels() arrays of `numSamples`).
        Returns how many were read: fewer than asked only at the end; -1 on a read error, with
        the reason in getError(). */
    virtual int read (float* const* channels, int numSamples) = 0;

    /** How much of the input has been read, 0 to 1: by samples where the length is known,
        by bytes where it is not. */
    virtual double getProportionRead() const
    {
        return knownLength > 0 ? (double)samplesRead / (double)knownLength : 1.0;
    }

    /** Samples read so far, per channel. */
    juce::int64 getNumSamplesRead() const noexcept { return samplesRead; }

    const juce::String& getError() const noexcept { return error; }

    /** Problems with the header that do not stop reading ("'x.wav' says it holds ... but
        ends after ..."), one line each; complete once read() has returned fewer samples than
        asked. */
    const juce::StringArray& getWarnings() const noexcept { return warnings; }

protected:
    int numChannels = 0;
    double sampleRate = 0.0;
    juce::int64 claimedLength = -1, knownLength = -1, samplesRead = 0;
    juce::String error;
    juce::StringArray warnings;
};

/** Opens a WAV (RIFF or RF64), AIFF or FLAC stream, told apart by its first bytes. `name` is
    how messages refer to the input ("'in.wav'"). On failure `result` stays empty and the
    message says why, in the user's terms. */
juce::Result openInputAudio (std::unique_ptr<juce::InputStream> stream, const juce::String& name,
                             std::unique_ptr<InputAudio>& result);
