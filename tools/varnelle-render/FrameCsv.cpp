#include "FrameCsv.h"

#include <cstdio>

bool FrameCsvWriter::writeHeader()
{
    line = "frame";
    if (kind == Content::spectra)
    {
        for (const char* prefix : {",before_", ",after_"})
            for (int i = 0; i < varnelle::numDisplayBins; ++i)
                line.append (prefix).append (std::to_string (i));
    }
    else
    {
        for (int b = 1; b <= varnelle::numBands; ++b)
            line.append (",band").append (std::to_string (b));
        for (int i = 0; i < varnelle::numDisplayBins; ++i)
            line.append (",change_").append (std::to_string (i));
    }
    return writeLine();
}

bool FrameCsvWriter::writeFrame (int frameIndex, const varnelle::DisplayFrame& frame)
{
    line = std::to_string (frameIndex);
    if (kind == Content::spectra)
    {
        appendValues (frame.before, varnelle::numDisplayBins);
        appendValues (frame.after, varnelle::numDisplayBins);
    }
    else
    {
        appendValues (frame.activityDb, varnelle::numBands);
        appendValues (frame.changeDb, varnelle::numDisplayBins);
    }
    return writeLine();
}

void FrameCsvWriter::appendValues (const float* values, int count)
{
    char text[32];
    for (int i = 0; i < count; ++i)
    {
        const int length = std::snprintf (text, sizeof (text), ",%.9g", (double)values[i]);
        line.append (text, (size_t)juce::jlimit (0, (int)sizeof (text) - 1, length));
    }
}

bool FrameCsvWriter::writeLine()
{
    line.push_back ('\n');
    return out.write (line.data(), line.size());
}
