#pragma once

#include <juce_core/juce_core.h>

#include <optional>
#include <vector>

/** One `--set ID=VALUE`: the value is already known to be a finite number, in the parameter's
    real units. Whether the ID exists is only known once a processor is at hand. */
struct ParameterSetting
{
    juce::String id;
    double value = 0.0;
};

/** Everything the command line asks for. Paths are as typed; empty means "not given". */
struct RenderOptions
{
    static constexpr int defaultBlockSize = 512;
    static constexpr int maxBlockSize = 65536;

    juce::String inputPath;
    juce::String outputPath;
    std::vector<ParameterSetting> settings;
    int blockSize = defaultBlockSize;
    juce::String statePath;
    juce::String saveStatePath;
    juce::String spectraPath;
    juce::String gainChangesPath;
    juce::String keyPath;         // renders through Varnelle Key, keyed by this file
    bool listensToChange = false; // "Listen to the Change": OUT is what the bands add or remove
    int listenedBand = -1;        // 0..4: OUT is what that band alone adds or removes

    // The editor window as it looks at the end of the render.
    juce::String snapshotPath;
    int snapshotWidth = 1140;
    int snapshotHeight = 760;
    bool snapshotShowsAfterGain = false;
    bool snapshotShowsChange = false;
    int snapshotSelectedBand = 0; // band index 0..4

    bool showHelp = false;

    /** False when the only job is to write a state file. */
    bool rendersAudio() const { return inputPath.isNotEmpty(); }
};

/** Either usable options or the reason the command line was rejected. */
struct RenderOptionsOrError
{
    std::optional<RenderOptions> options;
    juce::String error;
};

/** Parses the arguments that follow the program name. Never exits or prints. */
RenderOptionsOrError parseRenderOptions (const juce::StringArray& args);

/** The text printed by --help. */
juce::String getRenderUsage();

/** True if the whole of `text` is a finite decimal number (no spaces, no hex, no "inf"). */
bool parseStrictNumber (const juce::String& text, double& result);
