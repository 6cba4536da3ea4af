#include "RenderOptions.h"

#include <cmath>
#include <cstdlib>

namespace
{
// strtod alone would also take leading spaces, hex, "inf" and "nan"; a render driven by a
// script should fail on such a typo rather than quietly use something else.
bool containsOnlyDecimalNumberCharacters (const juce::String& text)
{
    return text.isNotEmpty() && text.containsOnly ("0123456789+-.eE");
}

bool parseBlockSize (const juce::String& text, int& result)
{
    if (text.isEmpty() || !text.containsOnly ("0123456789") || text.length() > 6)
        return false;

    const int value = text.getIntValue();
    if (value < 1 || value > RenderOptions::maxBlockSize)
        return false;

    result = value;
    return true;
}

juce::String parseSetting (const juce::String& text, ParameterSetting& setting)
{
    const int equals = text.indexOfChar ('=');
    if (equals <= 0)
        return "--set expects ID=VALUE (e.g. --set band1_gain=-12), got '" + text + "'";

    setting.id = text.substring (0, equals);
    const auto valueText = text.substring (equals + 1);

    if (!parseStrictNumber (valueText, setting.value))
        return "the value for " + setting.id + " is not a number: '" + valueText + "'";

    return {};
}

// "WxH" within the window's size limits.
bool parseWindowSize (const juce::String& text, int& width, int& height)
{
    const auto w = text.upToFirstOccurrenceOf ("x", false, true);
    const auto h = text.fromFirstOccurrenceOf ("x", false, true);
    if (w.isEmpty() || h.isEmpty() || !w.containsOnly ("0123456789") || !h.containsOnly ("0123456789") ||
        w.length() > 5 || h.length() > 5)
        return false;

    const int parsedWidth = w.getIntValue(), parsedHeight = h.getIntValue();
    if (parsedWidth < 900 || parsedWidth > 2400 || parsedHeight < 620 || parsedHeight > 1600)
        return false;

    width = parsedWidth;
    height = parsedHeight;
    return true;
}

RenderOptionsOrError failure (const juce::String& message)
{
    return {std::nullopt, message};
}
} // namespace

bool parseStrictNumber (const juce::String& text, double& result)
{
    if (!containsOnlyDecimalNumberCharacters (text))
        return false;

    const auto utf8 = text.toStdString();
    char* end = nullptr;
    const double value = std::strtod (utf8.c_str(), &end);

    // Overflow comes back as infinity; underflow to zero or a denormal is a fine value.
    if (end != utf8.c_str() + utf8.size() || !std::isfinite (value))
        return false;

    result = value;
    return true;
}

RenderOptionsOrError parseRenderOptions (const juce::StringArray& args)
{
    RenderOptions options;
    juce::StringArray positional;
    bool onlyPositionalFromHere = false;

    for (int i = 0; i < args.size(); ++i)
    {
        const auto& arg = args[i];

        if (onlyPositionalFromHere || !arg.startsWith ("-") || arg == "-")
        {
            positional.add (arg);
            continue;
        }

        if (arg == "--")
        {
            onlyPositionalFromHere = true;
            continue;
        }

        if (arg == "--help" || arg == "-h")
        {
            options.showHelp = true;
            return {options, {}};
        }

        // Both "--block 256" and "--block=256" are accepted.
        juce::String name = arg;
        juce::String value;
        bool hasInlineValue = false;
        if (arg.startsWith ("--") && arg.containsChar ('='))
        {
            name = arg.upToFirstOccurrenceOf ("=", false, false);
            value = arg.fromFirstOccurrenceOf ("=", false, false);
            hasInlineValue = true;
        }

        if (arg == "--listen-to-change")
        {
            options.listensToChange = true;
            continue;
        }

        const bool takesValue = name == "--set" || name == "--block" || name == "--state" ||
                                name == "--save-state" || name == "--spectra" || name == "--snapshot" ||
                                name == "--size" || name == "--view" || name == "--select" ||
                                name == "--gain-changes" || name == "--listen-to-band" || name == "--key";

        if (!takesValue)
            return failure ("unknown option '" + arg + "' (see --help)");

        if (!hasInlineValue)
        {
            if (i + 1 >= args.size())
                return failure (name + " needs a value (see --help)");
            value = args[++i];
        }

        if (name == "--set")
        {
            ParameterSetting setting;
            const auto error = parseSetting (value, setting);
            if (error.isNotEmpty())
                return failure (error);
            options.settings.push_back (setting);
        }
        else if (name == "--block")
        {
            if (!parseBlockSize (value, options.blockSize))
                return failure ("--block expects a whole number of samples from 1 to " +
                                juce::String (RenderOptions::maxBlockSize) + ", got '" + value + "'");
        }
        else if (name == "--size")
        {
            if (!parseWindowSize (value, options.snapshotWidth, options.snapshotHeight))
                return failure ("--size expects WIDTHxHEIGHT within 900x620 to 2400x1600, got '" + value +
                                "'");
        }
        else if (name == "--view")
        {
            if (value != "before" && value != "after" && value != "change")
                return failure ("--view expects 'before', 'after' or 'change', got '" + value + "'");
            options.snapshotShowsAfterGain = value == "after";
            options.snapshotShowsChange = value == "change";
        }
        else if (name == "--listen-to-band")
        {
            if (value.length() != 1 || !value.containsOnly ("12345"))
                return failure ("--listen-to-band expects a band number from 1 to 5, got '" + value + "'");
            options.listenedBand = value.getIntValue() - 1;
        }
        else if (name == "--select")
        {
            if (value.length() != 1 || !value.containsOnly ("12345"))
                return failure ("--select expects a band number from 1 to 5, got '" + value + "'");
            options.snapshotSelectedBand = value.getIntValue() - 1;
        }
        else
        {
            if (value.isEmpty())
                return failure (name + " needs a file name");

            if (name == "--state")
                options.statePath = value;
            else if (name == "--save-state")
                options.saveStatePath = value;
            else if (name == "--snapshot")
                options.snapshotPath = value;
            else if (name == "--gain-changes")
                options.gainChangesPath = value;
            else if (name == "--key")
                options.keyPath = value;
            else
                options.spectraPath = value;
        }
    }

    if (options.listensToChange && options.listenedBand >= 0)
        return failure ("--listen-to-change and --listen-to-band are two ways of listening: give one");

    if (positional.size() > 2)
        return failure ("too many arguments: '" + positional[2] + "' (expected an input and an output file)");

    if (positional.size() == 1)
        return failure ("missing the output file after '" + positional[0] + "'");

    if (positional.isEmpty())
    {
        if (options.saveStatePath.isEmpty())
            return failure ("missing the input and output files (see --help)");

        if (options.spectraPath.isNotEmpty())
            return failure ("--spectra needs an input and an output file");

        if (options.gainChangesPath.isNotEmpty())
            return failure ("--gain-changes needs an input and an output file");

        if (options.snapshotPath.isNotEmpty())
            return failure ("--snapshot needs an input and an output file");

        if (options.keyPath.isNotEmpty())
            return failure ("--key needs an input and an output file");

        return {options, {}};
    }

    options.inputPath = positional[0];
    options.outputPath = positional[1];

    if (options.inputPath.isEmpty() || options.outputPath.isEmpty())
        return failure ("the input and output file names must not be empty");

    return {options, {}};
}

juce::String getRenderUsage()
{
    return R"(Usage: varnelle-render IN OUT [options]
       varnelle-render IN OUT --key KEY [options]
       varnelle-render --save-state FILE [--state FILE] [--set ID=VALUE ...]

Runs the Varnelle processor over IN (WAV, AIFF or FLAC; mono or stereo) at the file's
sample rate and writes OUT as a 32-bit float WAV file with the same sample rate, channel
count and length. The processor's 2048-sample latency is removed: the input is followed by
2048 samples of silence and the first 2048 output samples are dropped, so OUT lines up with
IN sample for sample. The length is what IN really holds, not what its header claims: a WAV
whose data size is 0xFFFFFFFF (a streaming writer's placeholder) or larger than the file is
read to the end of its bytes, a FLAC stream until it ends whatever its total says; a header
that disagrees gets a warning with both figures.

Options:
  --set ID=VALUE      Sets a parameter in its own units, e.g. --set band1_gain=-12 or
                      --set band3_bypass=1. Repeatable; applied in order, after --state.
                      Values outside a parameter's range are clamped, with a warning.
  --key KEY           Renders through Varnelle Key instead: the bands measure the levels of
                      KEY (WAV, AIFF or FLAC, mono or stereo, at IN's sample rate) and
                      apply their gains to IN. Key channel c serves IN's channel c; a mono
                      key serves both; a mono IN hears the mean of a stereo key. A shorter
                      KEY is followed by silence, a longer one is cut at IN's end.
  --block N           Processes N samples per call, 1 to 65536 (default 512).
  --state FILE        Loads a state block (what a host stores, or a preset file) before
                      the --set values are applied.
  --save-state FILE   Writes the state block after --state and --set are applied. Without
                      IN and OUT only this file is written.
  --spectra FILE.csv  Writes the analyzer's display spectra of channel 0: one row per
                      analysis frame, columns frame,before_0..before_1023,after_0..after_1023.
                      Frame k (counting from 0) analyses IN's samples 512k to 512k+2047
                      (past the end of IN: the silence that flushes the latency), so there
                      are floor(length / 512) + 1 rows. Values are display levels 0..1,
                      (dB + 100) / 100, before and after the band gains.
  --gain-changes FILE.csv
                      Writes what the bands did to each analysis frame of channel 0 (the
                      frames of --spectra): columns frame,band1..band5,change_0..change_1023.
                      bandN is that band's activity: its gain, in dB, at the bin where its
                      smoothed gain lies furthest from 0 dB (negative: a cut); change_i is the
                      gain in dB that display bin i was given by the five bands together.
                      Exactly 0 where nothing changes.
  --snapshot FILE.png Writes a picture of the plug-in window as it looks at the end of the
                      render, its display having followed the audio at 30 frames a second.
  --size WxH          The window size for --snapshot (default 1140x760; 900x620 to 2400x1600).
  --listen-to-change  Writes what the bands add or remove instead of the processed sound:
                      the output minus IN (exactly 0 past the start-up where no band
                      changes anything), as
                      "Listen to the Change" in the window; a --snapshot shows it on.
  --listen-to-band N  Writes what band N (1 to 5) alone adds or removes: the output that
                      only its gains would give, minus IN (exactly 0 where that band changes
                      nothing). Not together with --listen-to-change.
  --view before|after|change
                      The display's view for --snapshot (default before); change shows the
                      gain change the bands made, as "View: Change" does in the window.
  --select N          The band (1 to 5) selected in the window for --snapshot (default 1).
  -h, --help          Prints this text.

Options may also be written --name=value. "--" ends the options.
Outputs are written to temporary files and only replace their targets once complete; a
render stopped by Ctrl+C, SIGTERM or SIGHUP removes them and leaves existing files as they were.
Progress is printed on stderr for inputs longer than 5 seconds.
Exit status: 0 on success, 1 on any error (the message goes to stderr), 130 after Ctrl+C
(SIGINT), 143 after SIGTERM, 129 after SIGHUP.
)";
}
