#pragma once

#include "AudioChecks.h"
#include "SlowLoopbackServer.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

namespace varnelle::hostcheck
{

/** Prints one line per check and keeps the totals. Message thread only. */
class CheckReport
{
public:
    /** "[format] title ... ok" if `problems` is empty, else "... FAILED: <problems>". */
    void add (const juce::String& format, const juce::String& title, const juce::StringArray& problems);

    /** A check that could not be run; counted neither as passed nor as failed. */
    void skip (const juce::String& format, const juce::String& title, const juce::String& reason);

    /** A line of information that is not a check. */
    void note (const juce::String& text);

    int getNumPassed() const noexcept { return numPassed; }
    int getNumFailed() const noexcept { return numFailed; }

private:
    int numPassed = 0;
    int numFailed = 0;
};

/** One built bundle to check. */
struct PluginUnderTest
{
    juce::String formatName; // "VST3" or "LV2"
    juce::File bundle;
    juce::String lv2Uri; // LV2 only
    juce::String name;   // the plug-in's own: "Varnelle" or "Varnelle Key", as its bundle is named

    bool isVst3() const { return formatName == "VST3"; }
    bool isKeyed() const { return name == "Varnelle Key"; }
};

/** JUCE's host format for the bundle with its one plug-in described in `description`; null,
    with the reasons in `problems`, if the host finds none. Message thread. */
std::unique_ptr<juce::AudioPluginFormatManager> openPluginFormat (const PluginUnderTest& plugin,
                                                                  juce::PluginDescription& description,
                                                                  juce::StringArray& problems);

struct CheckSettings
{
    juce::File renderer;                        // the varnelle-render binary
    juce::File presetTool;                      // varnelle-presets; none: no preset check
    juce::File vst3PresetFolder;                // the build's .vstpreset files, a folder per plug-in
    bool editorAllowed = false;                 // false: editor checks are skipped
    juce::String editorRefusal;                 // why, when they are
    bool realWindows = false;                   // a DISPLAY exists: editors go on the desktop
    juce::String makerSite;                     // the site the plug-in's update check should talk to
    SlowLoopbackServer* updateServer = nullptr; // null: no slow server for the unload checks
    int waitScale = 1;                          // waits for the plug-in's threads are this many times longer
    juce::int64 seed = 1;
    int loadUnloadRounds = 20;
    int editorRounds = 20;
    int twoCopiesRounds = 10; // per unloading order, arrangement and update-check outcome
    juce::File scratchFolder;
};

/** Runs every check on one plug-in bundle. Message thread; the checks start their own audio
    and background threads where a check needs them and join them before they return. */
class PluginChecker
{
public:
    PluginChecker (PluginUnderTest plugin, const CheckSettings& settings, CheckReport& report);
    ~PluginChecker();

    void runAll();

private:
    bool openFormat (juce::StringArray& problems);
    void closeFormat();
    std::unique_ptr<juce::AudioPluginInstance> createInstance (double rate, int blockSize,
                                                               juce::String& error);

    void checkLoading();
    void checkIdentity (juce::AudioPluginInstance&);
    void checkLatency();
    void checkParameters (juce::AudioPluginInstance&);
    void checkBuses();
    juce::String checkKeyBus (juce::AudioPluginInstance& instance, juce::StringArray& problems);
    void checkProcessing();
    void checkLargerBlockThanPrepared();
    void checkAgainstRenderer();
    void checkKey();
    void checkFactoryPresets();

    /** One comparison with varnelle-render: main channels, key channels (0: none; the
        renderer gets --key), or the main input as its own key (the renderer gets none). */
    struct RendererComparison
    {
        double rate;
        int channels;
        int keyChannels = 0;
        bool keyIsInput = false;
    };
    void compareWithRenderer (const juce::String& title, const std::vector<RendererComparison>& configs);
    void checkAutomation();
    void checkBypassAutomation();
    void checkHostBypass();
    void checkStateRoundTrip();
    void checkStateFromBackgroundThread();
    /** Empty if this plug-in's editor may and can be opened here, else why not. */
    juce::String whyNoEditor() const;
    void checkEditor (bool whileProcessing);
    void checkEditorKeys();
    void checkNoAllocationOnAudioThread();
    void checkLoadUnload();
    void checkTwoCopies();

    /** Mapped libraries of the plug-in's file name other than the given bundle's. */
    juce::StringArray findOtherMappedCopies() const;
    /** What a failed check says about them. */
    juce::String describeOtherCopies (const juce::StringArray& others) const;
    /** False, with a failed check and the format stopped, if another copy of the library is
        mapped: a shadowing copy took over what the host loaded, so the checks would test it. */
    bool onlyTheGivenLibraryIsMapped (const juce::String& when);

    juce::String tag() const { return plugin.name + " " + plugin.formatName; }

    PluginUnderTest plugin;
    const CheckSettings& settings;
    CheckReport& report;

    juce::File library;
    std::unique_ptr<juce::AudioPluginFormatManager> formats;
    juce::PluginDescription description;
    bool monoSupported = false;
    bool stopped = false; // another copy of the plug-in took part: no further checks
};

} // namespace varnelle::hostcheck
