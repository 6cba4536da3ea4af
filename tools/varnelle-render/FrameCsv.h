#pragma once

#include "engine/SpectrumExchange.h"

#include <juce_core/juce_core.h>

#include <string>

/** One CSV row per analysis frame of channel 0, with a header row: the display spectra
    (frame,before_0..before_1023,after_0..after_1023) or what the bands changed
    (frame,band1..band5,change_0..change_1023, in dB). Writes to a stream it does not own. */
class FrameCsvWriter
{
public:
    enum class Content
    {
        spectra,
        gainChanges
    };

    FrameCsvWriter (juce::OutputStream& destination, Content content) : out (destination), kind (content) {}

    bool writeHeader();
    bool writeFrame (int frameIndex, const varnelle::DisplayFrame& frame);

private:
    void appendValues (const float* values, int count);
    bool writeLine();

    juce::OutputStream& out;
    Content kind;
    std::string line;
};
