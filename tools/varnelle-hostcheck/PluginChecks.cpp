#include "PluginChecks.h"

#include "AllocationCounter.h"
#include "HostHelpers.h"
#include "HostJuceExtras.h"
#include "LibraryInspection.h"
#include "XErrorHandling.h"
#include "XKeyboard.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <iostream>
#include <thread>

namespace varnelle::hostcheck
{
namespace
{
// --- What the plug-in is expected to present -----------------------------------------------

constexpr int numBands = 5;
constexpr int paramsPerBand = 11;
constexpr int numBandParameters = numBands * paramsPerBand;
constexpr int expectedLatency = 2048;
constexpr int fadeInSamples = 700; // the engine fades in over its first ~650 input samples
constexpr int bypassSlot = 10;

struct SlotSpec
{
    const char* id;
    const char* suffix;
    float minimum, maximum, defaultValue;
    bool isFrequency;
};

// The eleven slots of a band, in host order. Frequency defaults depend on the band.
const SlotSpec slotSpecs[paramsPerBand] = {
    {"freqLow", " Frequency Low", 20.0f, 20000.0f, 0.0f, true},
    {"freqHigh", " Frequency High", 20.0f, 20000.0f, 0.0f, true},
    {"levelMin", " Level Min", -80.0f, 0.0f, -80.0f, false},
    {"levelMax", " Level Max", -80.0f, 0.0f, 0.0f, false},
    {"gain", " Gain", -60.0f, 24.0f, 0.0f, false},
    {"attackMs", " Attack", 1.0f, 300.0f, 25.0f, false},
    {"releaseMs", " Release", 10.0f, 2500.0f, 250.0f, false},
    {"lookaheadMs", " Lookahead", 0.0f, 20.0f, 10.0f, false},
    {"upperKneeDb", " Upper Knee", 0.0f, 24.0f, 0.0f, false},
    {"lowerKneeDb", " Lower Knee", 0.0f, 24.0f, 0.0f, false},
    {"bypass", " Bypass", 0.0f, 1.0f, 0.0f, false},
};

const float frequencyEdges[numBands + 1] = {20.0f, 120.0f, 600.0f, 2500.0f, 7000.0f, 20000.0f};

float expectedDefault (int band, int slot)
{
    if (slot == 0)
        return frequencyEdges[band];
    if (slot == 1)
        return frequencyEdges[band + 1];
    return slotSpecs[slot].defaultValue;
}

/** The plug-in's own normalisation: 20..20000 Hz skewed so that 1000 Hz sits at 0.5, all
    other ranges linear. */
float expectedNormalised (int slot, float value)
{
    const auto& expectedSlot = slotSpecs[slot];

    if (expectedSlot.isFrequency)
    {
        const float skew = std::log (0.5f) / std::log (980.0f / 19980.0f);
        return std::pow ((value - 20.0f) / 19980.0f, skew);
    }

    return (value - expectedSlot.minimum) / (expectedSlot.maximum - expectedSlot.minimum);
}

juce::String expectedName (int band, int slot)
{
    return "Band " + juce::String (band + 1) + slotSpecs[slot].suffix;
}

juce::String parameterId (int band, int slot)
{
    return "band" + juce::String (band + 1) + "_" + slotSpecs[slot].id;
}

/** A band setting used by the renderer, state and allocation checks; values lie on the
    parameters' 0.1 grid, so that every host's conversion lands on the same value. */
struct BandSetting
{
    int band; // 0-based
    int slot;
    float value;
};

const BandSetting activeSettings[] = {
    {1, 4, -18.0f}, {1, 2, -50.0f}, {1, 5, 5.0f},          {1, 6, 100.0f}, {1, 8, 6.0f},
    {2, 4, -6.0f},  {2, 3, -30.0f}, {3, 4, 9.0f},          {3, 3, -20.0f}, {3, 9, 12.0f},
    {3, 7, 3.0f},   {4, 4, -30.0f}, {4, bypassSlot, 1.0f},
};

// --- Small helpers -----------------------------------------------------------------------------

/** Runs `job` on its own thread while this (message) thread keeps dispatching messages. */
void runOnThreadWhilePumping (const std::function<void()>& job)
{
    std::atomic<bool> done{false};
    std::thread worker (
        [&]
        {
            job();
            done = true;
        });

    while (!done)
        pump (5);

    worker.join();
}

std::vector<juce::AudioProcessorParameter*> bandParameters (juce::AudioPluginInstance& instance)
{
    // Both JUCE hosts add the format's own bypass (VST3's bypass flag, LV2's "enabled" port).
    std::vector<juce::AudioProcessorParameter*> result;
    auto* hostBypass = instance.getBypassParameter();

    for (auto* parameter : instance.getParameters())
        if (parameter != hostBypass)
            result.push_back (parameter);

    return result;
}

juce::AudioProcessorParameter* findBandParameter (juce::AudioPluginInstance& instance, int band, int slot)
{
    const auto name = expectedName (band, slot);

    for (auto* parameter : bandParameters (instance))
        if (parameter->getName (128) == name)
            return parameter;

    return nullptr;
}

/** Real-unit value of a normalised one, through the host's own text. */
float textValue (const juce::AudioProcessorParameter& parameter, float normalised)
{
    return parameter.getText (normalised, 64).getFloatValue();
}

bool setRealValue (juce::AudioPluginInstance& instance, int band, int slot, float value)
{
    auto* parameter = findBandParameter (instance, band, slot);
    if (parameter == nullptr)
        return false;

    if (slot == bypassSlot)
        parameter->setValue (value >= 0.5f ? 1.0f : 0.0f);
    else
        parameter->setValue (parameter->getValueForText (juce::String (value, 1)));

    return true;
}

float readRealValue (juce::AudioPluginInstance& instance, int band, int slot)
{
    auto* parameter = findBandParameter (instance, band, slot);
    if (parameter == nullptr)
        return std::numeric_limits<float>::quiet_NaN();

    if (slot == bypassSlot)
        return parameter->getValue() >= 0.5f ? 1.0f : 0.0f;

    return textValue (*parameter, parameter->getValue());
}

bool nearlyEqual (float a, float b, float relative = 1.0e-4f)
{
    return std::abs (a - b) <= std::max (1.0e-3f, relative * std::abs (b));
}

Signal silence (int numChannels, int numSamples)
{
    return Signal ((size_t)numChannels, std::vector<float> ((size_t)numSamples, 0.0f));
}

Signal withTrailingSilence (Signal signal, int extra)
{
    for (auto& channel : signal)
        channel.resize (channel.size() + (size_t)extra, 0.0f);
    return signal;
}

juce::MemoryBlock saveState (juce::AudioPluginInstance& instance)
{
    juce::MemoryBlock block;
    instance.getStateInformation (block);
    return block;
}

juce::String describeDifference (const juce::MemoryBlock& a, const juce::MemoryBlock& b)
{
    const auto size = std::min (a.getSize(), b.getSize());
    size_t first = 0;
    while (first < size && a[first] == b[first])
        ++first;

    return juce::String (a.getSize()) + " vs " + juce::String (b.getSize()) +
           " bytes, first difference at byte " + juce::String ((juce::int64)first);
}

/** What float rounding may explain: 1e-6, or four units in the last place for louder samples
    (the engine's sums round a little differently when the block boundaries fall elsewhere). */
float roundingTolerance (float reference)
{
    const float magnitude = std::abs (reference);
    return std::max (1.0e-6f, 4.0f * (std::nextafter (magnitude, INFINITY) - magnitude));
}

juce::String formatError (float error)
{
    return juce::String (error, 9);
}

} // namespace

// --- CheckReport -------------------------------------------------------------------------------

void CheckReport::add (const juce::String& format, const juce::String& title,
                       const juce::StringArray& problems)
{
    juce::String line = "[" + format + "] " + title + " ... ";

    if (problems.isEmpty())
    {
        line << "ok";
        ++numPassed;
    }
    else
    {
        constexpr int maxShown = 6;
        juce::StringArray shown;
        for (int i = 0; i < std::min (maxShown, problems.size()); ++i)
            shown.add (problems[i]);
        if (problems.size() > maxShown)
            shown.add ("and " + juce::String (problems.size() - maxShown) + " more");

        line << "FAILED: " << shown.joinIntoString ("; ");
        ++numFailed;
    }

    std::cout << line << std::endl;
}

void CheckReport::skip (const juce::String& format, const juce::String& title, const juce::String& reason)
{
    std::cout << "[" << format << "] " << title << " ... skipped: " << reason << std::endl;
}

void CheckReport::note (const juce::String& text)
{
    std::cout << text << std::endl;
}

// --- PluginChecker -----------------------------------------------------------------------------

PluginChecker::PluginChecker (PluginUnderTest pluginToCheck, const CheckSettings& settingsToUse,
                              CheckReport& reportTo)
    : plugin (std::move (pluginToCheck)), settings (settingsToUse), report (reportTo)
{
}

PluginChecker::~PluginChecker()
{
    closeFormat();
}

std::unique_ptr<juce::AudioPluginFormatManager> openPluginFormat (const PluginUnderTest& plugin,
                                                                  juce::PluginDescription& description,
                                                                  juce::StringArray& problems)
{
    auto formats = std::make_unique<juce::AudioPluginFormatManager>();
    juce::OwnedArray<juce::PluginDescription> found;

    if (plugin.isVst3())
    {
        auto* vst3 = new juce::VST3PluginFormat();
        formats->addFormat (vst3);
        vst3->findAllTypesForFile (found, plugin.bundle.getFullPathName());
    }
    else
    {
        // JUCE's LV2 host ignores LV2_PATH; it only knows the bundles of folders it is told.
        auto* lv2 = new juce::LV2PluginFormat();
        formats->addFormat (lv2);
        const auto uris = lv2->searchPathsForPlugins (
            juce::FileSearchPath (plugin.bundle.getParentDirectory().getFullPathName()), false, false);

        if (!uris.contains (plugin.lv2Uri))
            problems.add ("no plug-in with the URI " + plugin.lv2Uri + " in " +
                          plugin.bundle.getParentDirectory().getFullPathName());

        lv2->findAllTypesForFile (found, plugin.lv2Uri);
    }

    if (found.isEmpty())
    {
        problems.add ("JUCE's " + plugin.formatName + " host finds no plug-in in " +
                      plugin.bundle.getFullPathName());
        return nullptr;
    }

    if (found.size() != 1)
        problems.add (juce::String (found.size()) + " plug-ins found where one was expected");

    description = *found.getFirst();
    return formats;
}

namespace
{
juce::StringArray findOtherLv2BundlesWithUri (const juce::File& bundle, const juce::String& uri)
{
    // The folders JUCE's LV2 host reads before any it is told; lilv keeps the first bundle of
    // a URI there and merges the UI descriptions of all of them.
    const auto searched = juce::LV2PluginFormat().getDefaultLocationsToSearch();
    const auto given = getCanonicalPath (bundle);
    const auto declaration = "<" + uri + ">";
    juce::StringArray others;

    for (int i = 0; i < searched.getNumPaths(); ++i)
        for (const auto& candidate : searched[i].findChildFiles (juce::File::findDirectories, false))
            if (getCanonicalPath (candidate) != given &&
                candidate.getChildFile ("manifest.ttl").loadFileAsString().contains (declaration))
                others.add (candidate.getFullPathName());

    return others;
}
} // namespace

bool PluginChecker::openFormat (juce::StringArray& problems)
{
    formats = openPluginFormat (plugin, description, problems);
    return formats != nullptr;
}

juce::StringArray PluginChecker::findOtherMappedCopies() const
{
    const auto given = getCanonicalPath (library);
    juce::StringArray others;
    for (const auto& path : findMappedFilesNamed (library.getFileName()))
        if (path != given)
            others.add (path);
    return others;
}

juce::String PluginChecker::describeOtherCopies (const juce::StringArray& others) const
{
    return others.joinIntoString (", ") + " is mapped besides " + library.getFullPathName() +
           ": another installed copy of Varnelle takes part; the remaining " + tag() + " checks are not run";
}

bool PluginChecker::onlyTheGivenLibraryIsMapped (const juce::String& when)
{
    if (stopped)
        return false;

    const auto others = findOtherMappedCopies();
    if (others.isEmpty())
        return true;

    report.add (tag(), "only the library of the given bundle is mapped " + when,
                {describeOtherCopies (others)});
    stopped = true;
    return false;
}

void PluginChecker::closeFormat()
{
    formats.reset();

    if (plugin.isVst3())
        unloadCachedVst3Modules();
}

std::unique_ptr<juce::AudioPluginInstance> PluginChecker::createInstance (double rate, int blockSize,
                                                                          juce::String& error)
{
    if (formats == nullptr)
    {
        error = "the format is not open";
        return nullptr;
    }

    auto instance = formats->createPluginInstance (description, rate, blockSize, error);

    if (instance != nullptr && settings.realWindows)
        installCountingXErrorHandler(); // the plug-in's JUCE may have installed its own

    return instance;
}

void PluginChecker::runAll()
{
    library = findBundleLibrary (plugin.bundle, plugin.isVst3());

    checkLoading();

    const std::function<void()> checks[] = {
        [this] { checkLatency(); },          [this] { checkBuses(); },
        [this] { checkProcessing(); },       [this] { checkLargerBlockThanPrepared(); },
        [this] { checkAgainstRenderer(); },  [this] { checkKey(); },
        [this] { checkFactoryPresets(); },   [this] { checkAutomation(); },
        [this] { checkBypassAutomation(); }, [this] { checkHostBypass(); },
        [this] { checkStateRoundTrip(); },   [this] { checkStateFromBackgroundThread(); },
        [this] { checkEditor (false); },     [this] { checkEditor (true); },
        [this] { checkEditorKeys(); },       [this] { checkNoAllocationOnAudioThread(); },
        [this] { checkLoadUnload(); },       [this] { checkTwoCopies(); },
    };

    // Once another copy of the plug-in has taken part, every further result would be about it.
    for (const auto& check : checks)
        if (formats != nullptr && !stopped)
            check();
}

void PluginChecker::checkLoading()
{
    juce::StringArray problems;

    if (!plugin.bundle.isDirectory())
        problems.add ("there is no bundle at " + plugin.bundle.getFullPathName());
    else if (!library.existsAsFile())
        problems.add ("the bundle holds no library at " + library.getFullPathName());

    std::unique_ptr<juce::AudioPluginInstance> instance;

    if (problems.isEmpty() && !plugin.isVst3())
    {
        if (const auto others = findOtherLv2BundlesWithUri (plugin.bundle, plugin.lv2Uri); !others.isEmpty())
        {
            problems.add (others.joinIntoString (", ") + " also declares " + plugin.lv2Uri +
                          ": hosts take that bundle's plug-in or parts of both (lilv keeps the first "
                          "bundle of a URI and merges their UIs); remove it, or check where it is not "
                          "installed; the remaining LV2 checks are not run");
            stopped = true;
        }
    }

    if (problems.isEmpty() && openFormat (problems))
    {
        juce::String error;
        instance = createInstance (44100.0, 512, error);

        if (instance == nullptr)
            problems.add ("no instance: " + error);
        else if (!isLibraryMapped (library))
            problems.add ("the instance does not run " + library.getFullPathName() +
                          " (another bundle with the same identity was loaded instead)");

        if (const auto others = findOtherMappedCopies(); !others.isEmpty())
        {
            problems.add (describeOtherCopies (others));
            stopped = true;
        }
    }

    report.add (tag(),
                "loads " + plugin.bundle.getFileName() + " through JUCE's " + plugin.formatName +
                    " host and runs its library " + library.getFileName() + ", and no other copy",
                problems);

    if (instance == nullptr || stopped)
    {
        instance.reset();
        formats.reset();
        return;
    }

    checkIdentity (*instance);
    checkParameters (*instance);
}

void PluginChecker::checkIdentity (juce::AudioPluginInstance& instance)
{
    juce::StringArray problems;

    if (instance.getName() != plugin.name)
        problems.add ("name is \"" + instance.getName() + "\"");
    if (description.manufacturerName != "Quorvane Audio")
        problems.add ("maker is \"" + description.manufacturerName + "\"");

    juce::String versionNote;

    if (plugin.isVst3())
    {
        if (description.version != "1.2.0")
            problems.add ("version is \"" + description.version + "\"");

        if (instance.getTailLengthSeconds() != 0.0)
            problems.add ("tail is " + juce::String (instance.getTailLengthSeconds()) + " s");
    }
    else
    {
        // JUCE's LV2 host reads no version, so read the bundle's own description of it.
        juce::String ttl;
        for (const auto& file : plugin.bundle.findChildFiles (juce::File::findFiles, false, "*.ttl"))
            ttl << file.loadFileAsString() << "\n";

        const auto revision = ttl.fromFirstOccurrenceOf ("doap:revision \"", false, false)
                                  .upToFirstOccurrenceOf ("\"", false, false);
        const auto minor =
            ttl.fromFirstOccurrenceOf ("lv2:minorVersion", false, false).trimStart().getIntValue();
        const auto micro =
            ttl.fromFirstOccurrenceOf ("lv2:microVersion", false, false).trimStart().getIntValue();

        if (revision != "1.2.0")
            problems.add ("doap:revision is \"" + revision + "\"");
        if (minor != 2 || micro != 0)
            problems.add ("lv2:minorVersion/microVersion are " + juce::String (minor) + "/" +
                          juce::String (micro));

        versionNote = " (doap:revision; lv2 minor 2, micro 0)";
    }

    if (instance.acceptsMidi())
        problems.add ("accepts MIDI");
    if (instance.producesMidi())
        problems.add ("produces MIDI");

    report.add (tag(),
                "identity: name \"" + plugin.name + "\", maker \"Quorvane Audio\", version 1.2.0" +
                    versionNote + ", no MIDI in or out" + (plugin.isVst3() ? ", tail 0 s" : ""),
                problems);
}

void PluginChecker::checkParameters (juce::AudioPluginInstance& instance)
{
    juce::StringArray problems;
    const auto parameters = bandParameters (instance);

    if ((int)parameters.size() != numBandParameters)
        problems.add (juce::String ((int)parameters.size()) + " parameters besides the host's bypass");

    // VST3 keeps the plug-in's parameter order. LV2 declares its parameters as a set, which
    // JUCE's LV2 host lists in URI order, so there each one is looked up by its name.
    for (int index = 0; index < numBandParameters; ++index)
    {
        const int band = index / paramsPerBand;
        const int slot = index % paramsPerBand;
        const auto& expectedSlot = slotSpecs[slot];
        juce::AudioProcessorParameter* found = nullptr;

        if (plugin.isVst3())
        {
            if (index >= (int)parameters.size())
                break;

            found = parameters[(size_t)index];
            if (found->getName (128) != expectedName (band, slot))
            {
                problems.add ("parameter " + juce::String (index) + " is \"" + found->getName (128) +
                              "\", expected \"" + expectedName (band, slot) + "\"");
                continue;
            }
        }
        else
        {
            const auto matches =
                std::count_if (parameters.begin(), parameters.end(),
                               [&] (auto* p) { return p->getName (128) == expectedName (band, slot); });
            found = findBandParameter (instance, band, slot);

            if (matches != 1)
            {
                problems.add (juce::String ((int)matches) + " parameters named \"" +
                              expectedName (band, slot) + "\"");
                continue;
            }
        }

        auto& parameter = *found;
        const auto where = "\"" + expectedName (band, slot) + "\"";

        const float normalisedDefault = parameter.getDefaultValue();

        if (slot == bypassSlot)
        {
            const auto text = parameter.getText (normalisedDefault, 16);
            if (normalisedDefault >= 0.5f || !(text.equalsIgnoreCase ("off") || text.getFloatValue() == 0.0f))
                problems.add (where + " defaults to " + juce::String (normalisedDefault) + " (\"" + text +
                              "\"), not off");
            continue;
        }

        const float expected = expectedDefault (band, slot);
        const float realDefault = textValue (parameter, normalisedDefault);
        if (!nearlyEqual (realDefault, expected))
            problems.add (where + " defaults to " + juce::String (realDefault) + ", expected " +
                          juce::String (expected));

        // The ends of the range, as the host shows them.
        const float lowEnd = textValue (parameter, 0.0f), highEnd = textValue (parameter, 1.0f);
        if (!nearlyEqual (lowEnd, expectedSlot.minimum) || !nearlyEqual (highEnd, expectedSlot.maximum))
            problems.add (where + " spans " + juce::String (lowEnd) + " .. " + juce::String (highEnd));

        // A VST3 host normalises through the plug-in's own ranges; an LV2 host only knows the
        // minimum and maximum and maps linearly between them.
        if (plugin.isVst3())
        {
            const float expectedNorm = expectedNormalised (slot, expected);
            if (std::abs (normalisedDefault - expectedNorm) > 1.0e-5f)
                problems.add (where + " normalised default " + juce::String (normalisedDefault, 6) +
                              ", expected " + juce::String (expectedNorm, 6));

            if (expectedSlot.isFrequency && !nearlyEqual (textValue (parameter, 0.5f), 1000.0f, 1.0e-5f))
                problems.add (where + " reads " + parameter.getText (0.5f, 64) + " at 0.5, expected 1000 Hz");
        }
    }

    report.add (tag(),
                "parameters: 55 band parameters besides the host's bypass, named \"Band 1 Frequency Low\" .. "
                "\"Band 5 Bypass\", with their defaults and ranges" +
                    juce::String (plugin.isVst3() ? ", in band order, frequency skewed so that 0.5 is 1000 Hz"
                                                  : " (LV2 parameters form a set: matched by name)"),
                problems);
}

void PluginChecker::checkLatency()
{
    juce::StringArray problems;
    juce::String error;
    auto instance = createInstance (44100.0, 512, error);

    if (instance == nullptr)
    {
        report.add (tag(), "latency", {"no instance: " + error});
        return;
    }

    auto expect = [&] (const juce::String& when)
    {
        if (instance->getLatencySamples() != expectedLatency)
            problems.add (juce::String (instance->getLatencySamples()) + " samples " + when);
    };

    // A VST3 host learns the latency when it activates the plug-in; an LV2 plug-in reports it
    // through an output port, which only a run writes.
    for (const double rate : {44100.0, 96000.0})
    {
        prepare (*instance, rate, 512, 2);
        if (plugin.isVst3())
            expect ("after prepareToPlay at " + juce::String (rate) + " Hz");

        processThrough (*instance, silence (2, 512), fixedBlocks (512), 512);
        expect ("after a block at " + juce::String (rate) + " Hz");
    }

    const juce::String steps = plugin.isVst3()
                                   ? "after prepareToPlay and after the first block at 44100 and 96000 Hz"
                                   : "after the first block at 44100 and 96000 Hz";
    report.add (tag(), "latency: 2048 samples " + steps, problems);
}

void PluginChecker::checkBuses()
{
    juce::StringArray problems;
    juce::String error;
    auto instance = createInstance (44100.0, 512, error);

    if (instance == nullptr)
    {
        report.add (tag(), "buses", {"no instance: " + error});
        return;
    }

    instance->releaseResources();

    struct Case
    {
        const char* name;
        juce::AudioChannelSet in, out;
        bool accepted;
    };

    const Case cases[] = {
        {"mono->mono", juce::AudioChannelSet::mono(), juce::AudioChannelSet::mono(), true},
        {"stereo->stereo", juce::AudioChannelSet::stereo(), juce::AudioChannelSet::stereo(), true},
        {"mono->stereo", juce::AudioChannelSet::mono(), juce::AudioChannelSet::stereo(), false},
        {"stereo->mono", juce::AudioChannelSet::stereo(), juce::AudioChannelSet::mono(), false},
        {"5.1->5.1", juce::AudioChannelSet::create5point1(), juce::AudioChannelSet::create5point1(), false},
    };

    // LV2 has no layout negotiation: JUCE exports the default layout's ports (two in, two out)
    // and its host accepts exactly those.
    const bool monoExpected = plugin.isVst3();
    juce::String title = "buses: ";

    for (const auto& c : cases)
    {
        const bool isMono = juce::String (c.name) == "mono->mono";
        const bool expected = isMono ? monoExpected : c.accepted;
        const auto layout = withMainBuses (*instance, c.in, c.out);
        const bool supported = instance->checkBusesLayoutSupported (layout);
        const bool applied = instance->setBusesLayout (layout);

        if (supported != expected)
            problems.add (juce::String (c.name) + (supported ? " accepted" : " refused") +
                          " by checkBusesLayoutSupported");
        if (applied != expected)
            problems.add (juce::String (c.name) + (applied ? " accepted" : " refused") +
                          " by setBusesLayout");
        if (applied && (instance->getMainBusNumInputChannels() != c.in.size() ||
                        instance->getMainBusNumOutputChannels() != c.out.size()))
            problems.add (juce::String (c.name) + " applied as " +
                          juce::String (instance->getMainBusNumInputChannels()) + "->" +
                          juce::String (instance->getMainBusNumOutputChannels()) + " channels");

        if (isMono && applied)
            monoSupported = true;

        instance->setBusesLayout (
            withMainBuses (*instance, juce::AudioChannelSet::stereo(), juce::AudioChannelSet::stereo()));
    }

    title << (monoExpected ? "mono->mono and stereo->stereo accepted; "
                           : "stereo->stereo accepted; mono->mono refused (LV2 ports are fixed at stereo); ")
          << "mono->stereo, stereo->mono and 5.1 refused";
    if (plugin.isKeyed())
        title << checkKeyBus (*instance, problems);
    else if (instance->getBusCount (true) != 1)
        problems.add (juce::String (instance->getBusCount (true)) + " input buses");
    report.add (tag(), title, problems);
}

// The key: VST3 offers an auxiliary input that is off until the host switches it on, mono or
// stereo; LV2 has its two key ports always.
juce::String PluginChecker::checkKeyBus (juce::AudioPluginInstance& instance, juce::StringArray& problems)
{
    const auto* key = instance.getBus (true, 1);
    if (instance.getBusCount (true) != 2 || key == nullptr)
    {
        problems.add (juce::String (instance.getBusCount (true)) + " input buses, not the input and \"Key\"");
        return {};
    }
    if (plugin.isVst3() && key->getName() != "Key")
        problems.add ("the second input bus is \"" + key->getName() + "\"");

    const auto stereo = juce::AudioChannelSet::stereo();
    if (!plugin.isVst3())
    {
        if (key->getNumberOfChannels() != 2)
            problems.add ("the key has " + juce::String (key->getNumberOfChannels()) + " ports");
        return "; the key's two ports always there";
    }

    if (key->isEnabled())
        problems.add ("the key bus is on before the host asks");
    for (const auto& set : {juce::AudioChannelSet::disabled(), juce::AudioChannelSet::mono(), stereo})
    {
        auto layout = withMainBuses (instance, stereo, stereo);
        layout.inputBuses.getReference (1) = set;
        if (!instance.setBusesLayout (layout) || instance.getChannelCountOfBus (true, 1) != set.size())
            problems.add ("a " + (set.isDisabled() ? juce::String ("switched-off") : set.getDescription()) +
                          " key is refused");
    }
    auto surround = withMainBuses (instance, stereo, stereo);
    surround.inputBuses.getReference (1) = juce::AudioChannelSet::create5point1();
    if (instance.checkBusesLayoutSupported (surround))
        problems.add ("a 5.1 key is accepted");
    return "; the \"Key\" bus off by default, off, mono and stereo accepted, 5.1 refused";
}

void PluginChecker::checkProcessing()
{
    const double rates[] = {22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0};
    const int fixedSizes[] = {1, 32, 64, 511, 512, 1024, 4096};
    constexpr int randomMax = 2048;
    constexpr int length = expectedLatency + fadeInSamples + 10000;

    juce::String error;
    auto instance = createInstance (44100.0, 512, error);

    for (const double rate : rates)
    {
        juce::StringArray problems;

        if (instance == nullptr)
        {
            report.add (tag(), "processing at " + juce::String (rate) + " Hz", {"no instance: " + error});
            continue;
        }

        struct Run
        {
            juce::String label;
            BlockPlan plan;
            int prepared;
            int channels;
        };

        std::vector<Run> runs;
        for (const int size : fixedSizes)
            runs.push_back ({"blocks of " + juce::String (size), fixedBlocks (size), size, 2});
        runs.push_back (
            {"random blocks", randomBlocks (randomMax, settings.seed + (juce::int64)rate), randomMax, 2});

        if (monoSupported)
        {
            runs.push_back ({"mono, blocks of 512", fixedBlocks (512), 512, 1});
            runs.push_back ({"mono, random blocks",
                             randomBlocks (randomMax, settings.seed + 1 + (juce::int64)rate), randomMax, 1});
        }

        for (const auto& run : runs)
        {
            if (!prepare (*instance, rate, run.prepared, run.channels))
            {
                problems.add (run.label + ": cannot prepare " + juce::String (run.channels) + " channels");
                continue;
            }

            const auto input = makeTestSignal (run.channels, length, rate, settings.seed);
            const auto output = processThrough (*instance, input, run.plan, run.prepared);
            const auto stats = analyse (output);

            // The delay that the instance reports (for LV2, known once a block has run).
            const int latency = instance->getLatencySamples();

            if (!stats.isClean())
                problems.add (run.label + ": " + stats.describeProblems());

            if (latency != expectedLatency)
            {
                problems.add (run.label + ": reports a latency of " + juce::String (latency));
                continue;
            }

            bool silentStart = true;
            for (const auto& channel : output)
                silentStart = silentStart && std::all_of (channel.begin(), channel.begin() + latency,
                                                          [] (float v) { return v == 0.0f; });
            if (!silentStart)
                problems.add (run.label + ": sound within the first 2048 samples");

            const auto delayed = compareDelayed (output, input, latency, fadeInSamples, 1.0e-5f);
            if (delayed.firstBadSample >= 0)
                problems.add (run.label +
                              ": differs from the input delayed by the reported 2048 samples by up to " +
                              formatError (delayed.maxError) + " (first at output sample " +
                              juce::String (delayed.firstBadSample) + ", channel " +
                              juce::String (delayed.badChannel) + ")");
        }

        report.add (tag(),
                    "processing at " + juce::String ((int)rate) +
                        " Hz, blocks 1, 32, 64, 511, 512, 1024, 4096 and random 1.." +
                        juce::String (randomMax) + (monoSupported ? ", stereo and mono" : ", stereo") +
                        ": no NaN/Inf/subnormal, silent for the reported 2048 samples of latency, then the "
                        "input delayed by exactly "
                        "that (from input sample 700)",
                    problems);
    }
}

void PluginChecker::checkLargerBlockThanPrepared()
{
    const juce::String title = "processing blocks of 4096 after prepareToPlay for 256";

    if (plugin.isVst3())
    {
        // IAudioProcessor::setupProcessing's maxSamplesPerBlock is a hard limit in VST3, and
        // JUCE 7.0.5's VST3 wrapper copies each block into buffers of exactly that size.
        report.skip (
            tag(), title,
            "VST3 forbids blocks above maxSamplesPerBlock (JUCE's wrapper would overrun its buffers)");
        return;
    }

    juce::StringArray problems;
    juce::String error;
    auto instance = createInstance (48000.0, 256, error);

    if (instance == nullptr || !prepare (*instance, 48000.0, 256, 2))
    {
        report.add (tag(), title, {"no prepared instance: " + error});
        return;
    }

    // Every eighth block is 16 times the prepared size.
    auto counter = std::make_shared<int> (0);
    const BlockPlan plan = [counter] (juce::int64) { return (++*counter % 8 == 0) ? 4096 : 256; };
    const auto input = makeTestSignal (2, 40000, 48000.0, settings.seed);
    const auto output = processThrough (*instance, input, plan, 4096);
    const auto stats = analyse (output);

    if (!stats.isClean())
        problems.add (stats.describeProblems());

    const auto delayed = compareDelayed (output, input, expectedLatency, fadeInSamples, 1.0e-5f);
    if (delayed.firstBadSample >= 0)
        problems.add ("differs from the input delayed by 2048 by up to " + formatError (delayed.maxError) +
                      " (first at output sample " + juce::String (delayed.firstBadSample) + ")");

    report.add (tag(), title + ": no NaN/Inf/subnormal, the input delayed by 2048", problems);
}

void PluginChecker::checkAgainstRenderer()
{
    // Varnelle Key's LV2 always has its key ports: keyed by its own input, it is Varnelle.
    const bool selfKeyed = plugin.isKeyed() && !plugin.isVst3();
    std::vector<RendererComparison> configs = {{44100.0, 2, 0, selfKeyed}, {96000.0, 2, 0, selfKeyed}};
    if (monoSupported)
        configs.push_back ({48000.0, 1});
    compareWithRenderer ("same output as varnelle-render (13 band settings; 44100 and 96000 Hz stereo" +
                             juce::String (monoSupported ? ", 48000 Hz mono" : "") + ")" +
                             (selfKeyed ? ", keyed by its own input" : "") +
                             ": equal within float rounding (1e-6, or 4 ulp above 1)",
                         configs);
}

// Varnelle Key in both formats: keyed, it gives what `varnelle-render --key` gives; with its
// key bus off (VST3), what Varnelle gives. (The LV2's key ports are always there: keyed by its
// own input it measures what Varnelle measures, which checkAgainstRenderer compares.)
void PluginChecker::checkKey()
{
    if (!plugin.isKeyed())
        return;

    std::vector<RendererComparison> keyed = {{44100.0, 2, 2}, {48000.0, 2, 1}};
    if (monoSupported)
        keyed.push_back ({48000.0, 1, 2});
    compareWithRenderer (
        "keyed: same output as varnelle-render --key (13 band settings; stereo with a stereo "
        "and a mono key" +
            juce::String (monoSupported ? ", mono with a stereo key" : "") + "), within float rounding",
        keyed);

    if (plugin.isVst3())
        compareWithRenderer ("key bus off: same output as Varnelle's varnelle-render, 48000 Hz stereo",
                             {{48000.0, 2}});
}

// The LV2 bundle lists the factory presets, which JUCE's LV2 host offers as programs; each
// must give exactly the built-in preset's values (as varnelle-presets prints them).
void PluginChecker::checkFactoryPresets()
{
    // VST3: the .vstpreset files the build wrote (the folder hosts read them from is the
    // user's); the preset is handed to the instance as a host loads one from its browser.
    const auto vst3Presets = settings.vst3PresetFolder.getChildFile (plugin.name);
    const juce::String title =
        plugin.isVst3() ? "the .vstpreset files: the five factory presets, each loaded through "
                          "JUCE's VST3 host giving the built-in one's 55 parameter values"
                        : "the bundle's presets: the five factory presets, each giving the built-in "
                          "one's 55 parameter values";
    if (!settings.presetTool.existsAsFile() || (plugin.isVst3() && !vst3Presets.isDirectory()))
    {
        report.skip (tag(), title,
                     plugin.isVst3() ? "no --presets PATH and --vst3-presets FOLDER" : "no --presets PATH");
        return;
    }

    juce::ChildProcess tool;
    if (!tool.start (juce::StringArray{settings.presetTool.getFullPathName(), "values"}))
    {
        report.add (tag(), title, {"cannot start " + settings.presetTool.getFullPathName()});
        return;
    }
    juce::StringArray lines;
    lines.addLines (tool.readAllProcessOutput());
    lines.removeEmptyStrings();

    juce::StringArray problems;
    juce::String error;
    auto instance = createInstance (48000.0, 512, error);
    if (instance == nullptr || !prepare (*instance, 48000.0, 512, 2))
    {
        report.add (tag(), title, {"no prepared instance: " + error});
        return;
    }
    if (lines.size() != 5)
        problems.add ("varnelle-presets printed " + juce::String (lines.size()) + " presets");

    for (const auto& line : lines)
    {
        juce::StringArray fields;
        fields.addTokens (line, "\t", "");
        const auto label = fields[0];
        if (plugin.isVst3())
        {
            struct PresetLoader final : juce::ExtensionsVisitor
            {
                void visitVST3Client (const VST3Client& client) override
                {
                    loaded = client.setPreset (preset);
                }
                juce::MemoryBlock preset;
                bool loaded = false;
            } loader;
            const auto file =
                vst3Presets.getChildFile (label.replace ("Factory: ", "Factory - ") + ".vstpreset");
            file.loadFileAsData (loader.preset);
            instance->getExtensions (loader);
            if (!loader.loaded)
            {
                problems.add ("cannot load " + file.getFullPathName());
                continue;
            }
        }
        else
        {
            int program = -1;
            for (int i = 0; i < instance->getNumPrograms(); ++i)
                if (instance->getProgramName (i) == label)
                    program = i;
            if (program < 0)
            {
                problems.add ("no preset \"" + label + "\"");
                continue;
            }
            instance->setCurrentProgram (program);
        }
        // The plug-in reports its new values to the host from its next blocks.
        processThrough (*instance, silence (2, 2048), fixedBlocks (512), 512);
        int differing = 0;
        for (int f = 1; f < fields.size(); ++f)
        {
            const auto id = fields[f].upToFirstOccurrenceOf ("=", false, false);
            const float expected = fields[f]
                                       .fromFirstOccurrenceOf ("=", false, false)
                                       .upToFirstOccurrenceOf ("/", false, false)
                                       .getFloatValue();
            for (int band = 0; band < numBands; ++band)
                for (int slot = 0; slot < paramsPerBand; ++slot)
                    if (parameterId (band, slot) == id &&
                        !nearlyEqual (readRealValue (*instance, band, slot), expected))
                    {
                        if (++differing <= 2)
                            problems.add ("\"" + label + "\": " + id + " reads " +
                                          juce::String (readRealValue (*instance, band, slot)) + ", not " +
                                          juce::String (expected));
                    }
        }
        if (fields.size() != 1 + numBandParameters)
            problems.add ("\"" + label + "\": " + juce::String (fields.size() - 1) + " values printed");
    }
    report.add (tag(), title, problems);
}

void PluginChecker::compareWithRenderer (const juce::String& title,
                                         const std::vector<RendererComparison>& configs)
{
    juce::StringArray problems;

    if (!settings.renderer.existsAsFile())
    {
        report.add (tag(), title,
                    {"no renderer at " + settings.renderer.getFullPathName() + " (--renderer PATH)"});
        return;
    }

    juce::String error;
    auto instance = createInstance (44100.0, 512, error);
    if (instance == nullptr)
    {
        report.add (tag(), title, {"no instance: " + error});
        return;
    }

    float worst = 0.0f;

    for (const auto& config : configs)
    {
        auto label = juce::String ((int)config.rate) + " Hz " + (config.channels == 1 ? "mono" : "stereo");
        if (config.keyChannels > 0)
            label << ", " << (config.keyChannels == 1 ? "mono" : "stereo") << " key";
        const int length = (int)config.rate; // one second
        const auto input = makeTestSignal (config.channels, length, config.rate, settings.seed + 11);
        const auto key = makeTestSignal (config.keyChannels, length, config.rate, settings.seed + 12);
        const auto inFile = settings.scratchFolder.getChildFile ("render-in.wav");
        const auto keyFile = settings.scratchFolder.getChildFile ("render-key.wav");
        const auto outFile = settings.scratchFolder.getChildFile ("render-out.wav");
        outFile.deleteFile();

        if (!writeFloatWav (inFile, input, config.rate, error) ||
            (config.keyChannels > 0 && !writeFloatWav (keyFile, key, config.rate, error)))
        {
            problems.add (label + ": " + error);
            continue;
        }

        juce::StringArray command{settings.renderer.getFullPathName(), inFile.getFullPathName(),
                                  outFile.getFullPathName(), "--block", "512"};
        if (config.keyChannels > 0)
            command.addArray ({"--key", keyFile.getFullPathName()});
        for (const auto& s : activeSettings)
            command.addArray ({"--set", parameterId (s.band, s.slot) + "=" + juce::String (s.value, 1)});

        juce::ChildProcess renderer;
        if (!renderer.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        {
            problems.add (label + ": cannot start " + settings.renderer.getFullPathName());
            continue;
        }

        const auto rendererOutput = renderer.readAllProcessOutput();
        renderer.waitForProcessToFinish (60000);
        if (renderer.getExitCode() != 0)
        {
            problems.add (label + ": varnelle-render failed: " + rendererOutput.trim());
            continue;
        }

        Signal rendered;
        double renderedRate = 0.0;
        if (!readWav (outFile, rendered, renderedRate, error))
        {
            problems.add (label + ": " + error);
            continue;
        }

        // The hosted instance: the same settings through the host's parameters, random blocks.
        // A fixed key bus that cannot take the key's layout hears it on both its channels.
        if (!prepare (*instance, config.rate, 512, config.channels, config.keyChannels))
        {
            problems.add (label + ": cannot prepare the instance");
            continue;
        }
        const int hostedKeyChannels = getKeyChannels (*instance);
        if (config.keyChannels > 0 && hostedKeyChannels == 0)
        {
            problems.add (label + ": the instance takes no key");
            continue;
        }

        for (const auto& s : activeSettings)
            if (!setRealValue (*instance, s.band, s.slot, s.value))
                problems.add ("no parameter \"" + expectedName (s.band, s.slot) + "\"");

        // Main channels, then the key's: the key file, or the input itself.
        auto hostedInput = input;
        const auto& keySource = config.keyIsInput ? input : key;
        for (int ch = 0; ch < hostedKeyChannels && !keySource.empty(); ++ch)
            hostedInput.push_back (keySource[(size_t)std::min (ch, (int)keySource.size() - 1)]);
        auto hosted = processThrough (*instance, withTrailingSilence (hostedInput, expectedLatency),
                                      randomBlocks (512, settings.seed + 3), 512);
        hosted.resize ((size_t)config.channels);

        for (const auto& s : activeSettings)
        {
            const float value = readRealValue (*instance, s.band, s.slot);
            if (!nearlyEqual (value, s.value))
                problems.add (label + ": \"" + expectedName (s.band, s.slot) + "\" reads " +
                              juce::String (value) + " after being set to " + juce::String (s.value));
        }

        if ((int)rendered.size() != config.channels || (int)rendered[0].size() != length)
        {
            problems.add (label + ": the renderer wrote " + juce::String ((int)rendered.size()) +
                          " channels of " + juce::String (rendered.empty() ? 0 : (int)rendered[0].size()) +
                          " samples");
            continue;
        }

        // The renderer removes the latency; the host's output still carries it.
        float maxDifference = 0.0f, maxChange = 0.0f;
        juce::int64 outsideRounding = 0;
        for (int ch = 0; ch < config.channels; ++ch)
            for (int i = 0; i < length; ++i)
            {
                const float h = hosted[(size_t)ch][(size_t)(i + expectedLatency)];
                const float r = rendered[(size_t)ch][(size_t)i];
                const float d = std::abs (h - r);
                maxDifference = (d <= maxDifference) ? maxDifference : (std::isfinite (d) ? d : INFINITY);
                if (!(d <= roundingTolerance (r)))
                    ++outsideRounding;
                if (i >= fadeInSamples)
                    maxChange = std::max (maxChange, std::abs (r - input[(size_t)ch][(size_t)i]));
            }

        worst = std::max (worst, maxDifference);

        if (outsideRounding > 0)
            problems.add (label + ": hosted and rendered output differ by up to " +
                          formatError (maxDifference) + " (" + juce::String (outsideRounding) +
                          " samples beyond float rounding)");

        // Otherwise the comparison would not show that the bands act the same way.
        if (maxChange < 1.0e-2f)
            problems.add (label + ": the band settings hardly change the sound (max change " +
                          formatError (maxChange) + ")");
    }

    report.add (tag(), title + " (largest difference " + formatError (worst) + ")", problems);
}

void PluginChecker::checkAutomation()
{
    juce::StringArray problems;
    juce::String error;
    auto instance = createInstance (48000.0, 32, error);

    if (instance == nullptr || !prepare (*instance, 48000.0, 32, 2))
    {
        report.add (tag(), "automation", {"no prepared instance: " + error});
        return;
    }

    const auto parameters = bandParameters (*instance);
    juce::Random random (settings.seed + 5);
    juce::int64 blockIndex = 0;
    std::vector<bool> touched (parameters.size(), false);

    // Before every 32-sample block: the next parameter in turn and two random ones move, a
    // tenth of the time to an end of their range.
    auto automate = [&] (juce::int64, int)
    {
        auto move = [&] (size_t index)
        {
            const float r = random.nextFloat();
            const float value = r < 0.05f ? 0.0f : (r < 0.1f ? 1.0f : random.nextFloat());
            parameters[index]->setValue (value);
            touched[index] = true;
        };

        if (!parameters.empty())
        {
            move ((size_t)(blockIndex % (juce::int64)parameters.size()));
            move ((size_t)random.nextInt ((int)parameters.size()));
            move ((size_t)random.nextInt ((int)parameters.size()));
        }
        ++blockIndex;
    };

    const auto input = makeTestSignal (2, 2 * 48000, 48000.0, settings.seed + 6);
    const auto output = processThrough (*instance, input, fixedBlocks (32), 32, automate);
    const auto stats = analyse (output);

    if (!stats.isClean())
        problems.add (stats.describeProblems());
    if ((int)parameters.size() != numBandParameters ||
        std::find (touched.begin(), touched.end(), false) != touched.end())
        problems.add ("not all 55 parameters were automated");

    report.add (tag(),
                "automation: every parameter (and two random ones) moved before each 32-sample block for 2 s "
                "at 48 kHz: "
                "no NaN/Inf/subnormal (peak " +
                    juce::String (stats.peak, 3) + ")",
                problems);
}

void PluginChecker::checkBypassAutomation()
{
    juce::StringArray problems;
    juce::String error;
    auto instance = createInstance (48000.0, 32, error);

    if (instance == nullptr || !prepare (*instance, 48000.0, 32, 2))
    {
        report.add (tag(), "bypass automation", {"no prepared instance: " + error});
        return;
    }

    // Every band pulls all it covers down hard or lifts it, so that a bypass changes the sound.
    for (int band = 0; band < numBands; ++band)
    {
        setRealValue (*instance, band, 4, band % 2 == 0 ? -40.0f : 18.0f);
        setRealValue (*instance, band, 5, 1.0f);
        setRealValue (*instance, band, 6, 10.0f);
    }

    std::vector<juce::AudioProcessorParameter*> bypasses;
    for (int band = 0; band < numBands; ++band)
        if (auto* p = findBandParameter (*instance, band, bypassSlot))
            bypasses.push_back (p);

    if ((int)bypasses.size() != numBands)
        problems.add ("found " + juce::String ((int)bypasses.size()) + " band bypasses");

    juce::Random random (settings.seed + 8);
    juce::int64 blockIndex = 0;
    auto toggle = [&] (juce::int64, int)
    {
        if (!bypasses.empty())
        {
            auto* p = bypasses[(size_t)(blockIndex % (juce::int64)bypasses.size())];
            p->setValue (p->getValue() >= 0.5f ? 0.0f : 1.0f);
            if (random.nextInt (4) == 0)
                bypasses[(size_t)random.nextInt ((int)bypasses.size())]->setValue (random.nextBool() ? 1.0f
                                                                                                     : 0.0f);
        }
        ++blockIndex;
    };

    const auto input = makeTestSignal (2, 2 * 48000, 48000.0, settings.seed + 9);
    const auto output = processThrough (*instance, input, fixedBlocks (32), 32, toggle);
    const auto stats = analyse (output);

    if (!stats.isClean())
        problems.add (stats.describeProblems());

    report.add (tag(),
                "bypass automation: band bypasses toggled before each 32-sample block for 2 s with strong "
                "band gains: "
                "no NaN/Inf/subnormal (peak " +
                    juce::String (stats.peak, 3) + ")",
                problems);
}

void PluginChecker::checkHostBypass()
{
    const juce::String title = "host bypass: bypassed output is the input delayed by the reported latency, "
                               "exactly; switching back brings back no audio from before the bypass";
    juce::StringArray problems;
    juce::String error;
    auto instance = createInstance (48000.0, 512, error);

    if (instance == nullptr || !prepare (*instance, 48000.0, 512, 2))
    {
        report.add (tag(), title, {"no prepared instance: " + error});
        return;
    }

    auto* bypass = instance->getBypassParameter();
    if (bypass == nullptr)
    {
        report.add (tag(), title, {"the format offers no bypass parameter"});
        return;
    }

    for (int band = 0; band < numBands; ++band)
        setRealValue (*instance, band, 4, band % 2 == 0 ? -40.0f : 18.0f);

    // Noise, then silence from 1.0 s on; bypassed from 0.5 s to 1.5 s, switched at the start
    // of random-sized blocks. Once the engine has heard the silence, nothing may follow it.
    constexpr juce::int64 bypassFrom = 24000, silenceFrom = 48000, bypassUntil = 72000, total = 100000;
    auto input = makeTestSignal (2, (int)total, 48000.0, settings.seed + 10);
    for (auto& channel : input)
        std::fill (channel.begin() + silenceFrom, channel.end(), 0.0f);

    juce::int64 switchedOn = -1, switchedOff = -1;
    auto switchBypass = [&] (juce::int64 start, int)
    {
        const bool bypassed = start >= bypassFrom && start < bypassUntil;
        if (bypassed && switchedOn < 0)
            switchedOn = start;
        if (!bypassed && switchedOn >= 0 && switchedOff < 0)
            switchedOff = start;
        bypass->setValue (bypassed ? 1.0f : 0.0f);
    };
    const auto output =
        processThrough (*instance, input, randomBlocks (512, settings.seed + 11), 512, switchBypass);
    const int latency = instance->getLatencySamples();
    const int crossfade = 480; // the plug-in's 10 ms at 48 kHz

    juce::int64 mismatches = 0, firstMismatch = -1, staleSamples = 0, firstStale = -1;
    for (size_t ch = 0; ch < output.size(); ++ch)
    {
        for (auto i = switchedOn + crossfade; i < switchedOff; ++i)
            if (output[ch][(size_t)i] != input[ch][(size_t)(i - latency)] && mismatches++ == 0)
                firstMismatch = i;
        for (auto i = switchedOff; i < total; ++i)
            if (output[ch][(size_t)i] != 0.0f && staleSamples++ == 0)
                firstStale = i;
    }

    if (switchedOn < 0 || switchedOff < 0)
        problems.add ("the bypass was never switched");
    if (mismatches > 0)
        problems.add (juce::String (mismatches) + " bypassed samples differ from the input delayed by " +
                      juce::String (latency) + ", the first at " + juce::String (firstMismatch));
    if (staleSamples > 0)
        problems.add (juce::String (staleSamples) +
                      " samples of audio after switching back, where the input " +
                      "had been silent for the whole delay; the first at " + juce::String (firstStale));
    const auto stats = analyse (output);
    if (!stats.isClean())
        problems.add (stats.describeProblems());

    report.add (tag(), title, problems);
}

void PluginChecker::checkStateRoundTrip()
{
    juce::StringArray problems;
    const juce::String title =
        "state: saved, restored into a fresh instance and saved again gives the same bytes and values";
    juce::String error;

    auto first = createInstance (48000.0, 512, error);
    auto second = first != nullptr ? createInstance (48000.0, 512, error) : nullptr;

    if (second == nullptr || !prepare (*first, 48000.0, 512, 2) || !prepare (*second, 48000.0, 512, 2))
    {
        report.add (tag(), title, {"no prepared instances: " + error});
        return;
    }

    const auto defaults = saveState (*first);

    for (const auto& s : activeSettings)
        setRealValue (*first, s.band, s.slot, s.value);

    // An LV2 plug-in hears of parameter changes at its next run.
    processThrough (*first, silence (2, 512), fixedBlocks (512), 512);
    pump (20);

    const auto saved = saveState (*first);

    if (saved.isEmpty())
        problems.add ("the saved state is empty");
    if (saved == defaults)
        problems.add ("the state does not change when parameters do");

    second->setStateInformation (saved.getData(), (int)saved.getSize());
    processThrough (*second, silence (2, 512), fixedBlocks (512), 512);
    pump (20);

    const auto savedAgain = saveState (*second);

    if (savedAgain != saved)
        problems.add ("the restored instance saves different bytes (" +
                      describeDifference (saved, savedAgain) + ")");

    for (const auto& s : activeSettings)
    {
        const float value = readRealValue (*second, s.band, s.slot);
        if (!nearlyEqual (value, s.value))
            problems.add ("\"" + expectedName (s.band, s.slot) + "\" restored as " + juce::String (value) +
                          ", saved as " + juce::String (s.value));
    }

    report.add (tag(), title + " (" + juce::String ((int)saved.getSize()) + " bytes)", problems);
}

void PluginChecker::checkStateFromBackgroundThread()
{
    juce::StringArray problems;
    const juce::String title = "state set 60 times from a background thread while another thread processes";
    juce::String error;
    auto instance = createInstance (48000.0, 512, error);

    if (instance == nullptr || !prepare (*instance, 48000.0, 512, 2))
    {
        report.add (tag(), title, {"no prepared instance: " + error});
        return;
    }

    const auto defaults = saveState (*instance);
    for (const auto& s : activeSettings)
        setRealValue (*instance, s.band, s.slot, s.value);
    processThrough (*instance, silence (2, 512), fixedBlocks (512), 512);
    pump (20);
    const auto active = saveState (*instance);

    if (active == defaults)
        problems.add ("the state does not change when parameters do");

    BackgroundProcessing audio (*instance, 2, 48000.0);
    audio.start();

    runOnThreadWhilePumping (
        [&]
        {
            for (int i = 0; i < 60; ++i)
            {
                const auto& state = i % 2 == 0 ? defaults : active;
                instance->setStateInformation (state.getData(), (int)state.getSize());
                std::this_thread::sleep_for (std::chrono::milliseconds (8));
            }
        });

    audio.stop();

    if (audio.getNumBlocks() < 10)
        problems.add ("only " + juce::String (audio.getNumBlocks()) + " blocks were processed meanwhile");
    if (audio.getNumBadSamples() > 0)
        problems.add (juce::String (audio.getNumBadSamples()) + " NaN/Inf/subnormal output samples");

    // The last restore wins.
    processThrough (*instance, silence (2, 512), fixedBlocks (512), 512);
    pump (20);
    if (saveState (*instance) != active)
        problems.add ("after the last restore the instance saves other bytes than the restored ones");

    report.add (tag(),
                title + " (" + juce::String (audio.getNumBlocks()) +
                    " blocks): output finite, last state wins",
                problems);
}

juce::String PluginChecker::whyNoEditor() const
{
    if (!settings.editorAllowed)
        return settings.editorRefusal;

    // Otherwise the editor's update check would go to whatever site the plug-in was built with.
    if (!fileContainsCString (library, settings.makerSite))
        return "the plug-in library was not built with the maker site " + settings.makerSite;

    if (!settings.realWindows && !plugin.isVst3())
        return "JUCE's LV2 host embeds the plug-in's UI through XEmbed, which needs an X display (run under "
               "xvfb-run)";

    return {};
}

void PluginChecker::checkEditor (bool whileProcessing)
{
    const juce::String title =
        "editor opened and closed " + juce::String (settings.editorRounds) + " times" +
        (whileProcessing ? " while another thread processes" : "") +
        (settings.realWindows ? " (in a window on the display)" : " (without a window: no DISPLAY)");

    if (const auto reason = whyNoEditor(); reason.isNotEmpty())
    {
        report.skip (tag(), title, reason);
        return;
    }

    juce::StringArray problems;
    juce::String error;
    auto instance = createInstance (48000.0, 512, error);

    if (instance == nullptr || !prepare (*instance, 48000.0, 512, 2))
    {
        report.add (tag(), title, {"no prepared instance: " + error});
        return;
    }

    if (!instance->hasEditor())
        problems.add ("hasEditor() is false");

    std::unique_ptr<BackgroundProcessing> audio;
    if (whileProcessing)
    {
        audio = std::make_unique<BackgroundProcessing> (*instance, 2, 48000.0);
        audio->start();
    }

    const int requestsBefore =
        settings.updateServer != nullptr ? settings.updateServer->getNumFeedRequests() : 0;
    juce::String sizeSeen;

    for (int round = 0; round < settings.editorRounds && problems.isEmpty(); ++round)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());

        if (editor == nullptr)
        {
            problems.add ("no editor in round " + juce::String (round + 1));
            break;
        }

        if (settings.realWindows)
        {
            editor->addToDesktop (juce::ComponentPeer::windowHasTitleBar);
            editor->setVisible (true);
            installCountingXErrorHandler();
        }

        pump (settings.realWindows ? 80 : 20);

        if (!onlyTheGivenLibraryIsMapped ("after an editor opened"))
        {
            closeEditor (std::move (editor), !plugin.isVst3());
            problems.add ("another copy of the library took part in round " + juce::String (round + 1));
            break;
        }

        if (round == 0)
        {
            sizeSeen = juce::String (editor->getWidth()) + " x " + juce::String (editor->getHeight());
            if (settings.realWindows && (editor->getWidth() != 1140 || editor->getHeight() != 760))
                problems.add ("the editor is " + sizeSeen + ", expected 1140 x 760");
        }

        closeEditor (std::move (editor), !plugin.isVst3());

        if (instance->getActiveEditor() != nullptr)
            problems.add ("the instance still has an active editor after round " + juce::String (round + 1));
    }

    if (audio != nullptr)
    {
        audio->stop();
        if (audio->getNumBadSamples() > 0)
            problems.add (juce::String (audio->getNumBadSamples()) + " NaN/Inf/subnormal output samples");
        if (audio->getNumBlocks() < 10)
            problems.add ("only " + juce::String (audio->getNumBlocks()) +
                          " blocks were processed meanwhile");
    }

    juce::String detail = " (first editor " + sizeSeen;
    if (settings.updateServer != nullptr)
        detail << "; update server saw " << (settings.updateServer->getNumFeedRequests() - requestsBefore)
               << " feed requests";
    detail << ")";

    report.add (tag(), title + detail, problems);
}

// The window's own keys, typed into the plug-in's window through the X server: "Listen to the
// Change" (D) is heard by the host as exactly silent output while every band is at 0 dB; a key
// edit (Tab to a control, Up) is undone by Ctrl+Z and, in an editor opened afterwards, redone by
// Ctrl+Y. Each editor is closed with the history and the listening in use.
void PluginChecker::checkEditorKeys()
{
    const juce::String title = "window keys: D makes the output the change (exactly silent with every band "
                               "at 0 dB); Ctrl+Z undoes a key edit, Ctrl+Y redoes it in a reopened editor; "
                               "Shift+D listens to band 1 alone, and the window closes and opens in the "
                               "Change view (C) with it on";
    if (const auto reason = whyNoEditor(); reason.isNotEmpty())
    {
        report.skip (tag(), title, reason);
        return;
    }
    if (!settings.realWindows)
    {
        report.skip (tag(), title, "keys need a window on a display");
        return;
    }

    juce::StringArray problems;
    juce::String error;
    auto instance = createInstance (48000.0, 512, error);
    if (instance == nullptr || !prepare (*instance, 48000.0, 512, 2))
    {
        report.add (tag(), title, {"no prepared instance: " + error});
        return;
    }

    // The host's view of the parameters; an LV2 host takes the UI's changes in while it
    // processes, so a few blocks run first.
    const auto values = [&]
    {
        processThrough (*instance, Signal (2, std::vector<float> (2048, 0.0f)), fixedBlocks (512), 512);
        std::vector<float> result;
        for (auto* parameter : instance->getParameters())
            result.push_back (parameter->getValue());
        return result;
    };
    // Whether a stretch of noise comes out exactly silent past the first `settle` samples.
    const auto outputIsSilent = [&] (int settle)
    {
        const auto input = makeTestSignal (2, 16384, 48000.0, settings.seed + 20);
        const auto output = processThrough (*instance, input, fixedBlocks (512), 512);
        for (const auto& channel : output)
            for (size_t i = (size_t)settle; i < channel.size(); ++i)
                if (channel[i] != 0.0f)
                    return false;
        return true;
    };
    const auto openEditor = [&]
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());
        if (editor != nullptr)
        {
            editor->addToDesktop (juce::ComponentPeer::windowHasTitleBar);
            editor->setVisible (true);
            installCountingXErrorHandler();
            pump (300);

            if (!onlyTheGivenLibraryIsMapped ("after an editor opened"))
                closeEditor (std::move (editor), !plugin.isVst3());
        }
        return editor;
    };
    const auto type = [&] (juce::AudioProcessorEditor& editor, const juce::StringArray& keys)
    {
        auto* peer = editor.getPeer();
        if (peer == nullptr ||
            !typeIntoPluginWindow ((unsigned long)(juce::pointer_sized_int)peer->getNativeHandle(), 2, 500,
                                   keys, error))
            problems.addIfNotAlreadyThere ("could not type into the window: " +
                                           (peer == nullptr ? "no window" : error));
        pump (250);
    };

    if (outputIsSilent (4096))
        problems.add ("the output is silent before D was pressed");

    const auto atStart = values();
    std::vector<float> edited;
    if (auto editor = openEditor(); editor != nullptr)
    {
        type (*editor, {"d"});
        if (!outputIsSilent (4096))
            problems.add ("after D the output is not exactly silent with every band at 0 dB");

        type (*editor, {"Tab", "Tab", "Tab", "Tab", "Tab", "Up"});
        edited = values();
        if (edited == atStart)
            problems.add ("Tab and Up changed no parameter");
        type (*editor, {"ctrl+z"});
        if (values() != atStart)
            problems.add ("Ctrl+Z did not undo the key edit");
        closeEditor (std::move (editor), !plugin.isVst3());
    }
    else
    {
        problems.add ("no editor");
    }

    if (auto editor = openEditor(); editor != nullptr && problems.isEmpty())
    {
        type (*editor, {"ctrl+y"});
        if (values() != edited)
            problems.add ("Ctrl+Y in a reopened editor did not redo the key edit");
        type (*editor, {"d"});
        if (outputIsSilent (4096))
            problems.add ("a second D did not bring the sound back");

        // Band 1 alone changes nothing at 0 dB; the window closes in the Change view while
        // the band is being listened to, and opens again so.
        type (*editor, {"shift+d", "c"});
        if (!outputIsSilent (4096))
            problems.add ("after Shift+D, listening to band 1 at 0 dB is not exactly silent");
        closeEditor (std::move (editor), !plugin.isVst3());
    }

    if (auto editor = openEditor(); editor != nullptr && problems.isEmpty())
    {
        type (*editor, {"c", "shift+d"});
        if (outputIsSilent (4096))
            problems.add ("a second Shift+D in a reopened editor did not bring the sound back");
        closeEditor (std::move (editor), !plugin.isVst3());
    }

    report.add (tag(), title, problems);
}

void PluginChecker::checkNoAllocationOnAudioThread()
{
    constexpr int blockSize = 512;
    constexpr int warmUpBlocks = 300; // 3.2 s at 48 kHz
    constexpr int countedBlocks = 200;
    const juce::String title = "no heap allocation on the audio thread: " + juce::String (countedBlocks) +
                               " blocks of 512 after " + juce::String (warmUpBlocks) +
                               " warm-up blocks, 48 kHz stereo, bands active" +
                               (plugin.isKeyed() ? ", keyed by a stereo key" : "");

    juce::StringArray problems;
    juce::String error;
    auto instance = createInstance (48000.0, blockSize, error);

    // Varnelle Key with a key that sounds: the keyed path is the one to count.
    if (instance == nullptr || !prepare (*instance, 48000.0, blockSize, 2, plugin.isKeyed() ? 2 : 0))
    {
        report.add (tag(), title, {"no prepared instance: " + error});
        return;
    }

    for (const auto& s : activeSettings)
        setRealValue (*instance, s.band, s.slot, s.value);

    // JUCE 7.0.5's VST3 wrapper (compiled into the plug-in) copies a channel mapping, and with
    // it a std::vector, per input bus in every process call before it calls processBlock
    // (ClientBufferMapperData::setUpInputChannels). Allocations made under the wrapper but
    // outside the processor's processBlock are counted apart; every other allocation - host
    // side, or anywhere under processBlock - still fails the check.
    AddressRange wrapper, processBlock;
    if (plugin.isVst3())
    {
        wrapper = findMappedFunction (
            library, "_ZN4juce17JuceVST3Component12processAudioIfEEvRN9Steinberg3Vst11ProcessDataE");
        processBlock = findMappedFunction (
            library, "_ZN22VarnelleAudioProcessor12processBlockERN4juce11AudioBufferIfEERNS0_10MidiBufferE");
        if (!wrapper.isEmpty() && !processBlock.isEmpty())
            setSeparatelyCountedCaller (wrapper.begin, wrapper.end, processBlock.begin, processBlock.end);
    }

    const auto input = makeTestSignal (2, 48000, 48000.0, settings.seed + 12);
    std::int64_t counted = 0, inWrapper = 0;
    forgetFirstCountedAllocation();

    runOnThreadWhilePumping (
        [&]
        {
            // Every channel the host's buffer has, the key's too (silent here).
            juce::AudioBuffer<float> work (
                std::max ({2, instance->getTotalNumInputChannels(), instance->getTotalNumOutputChannels()}),
                blockSize);
            work.clear();
            juce::MidiBuffer midi;
            const auto length = (juce::int64)input[0].size();
            juce::int64 position = 0;

            auto processOne = [&] (bool count)
            {
                for (int ch = 0; ch < std::min (work.getNumChannels(), instance->getTotalNumInputChannels());
                     ++ch)
                    for (int i = 0; i < blockSize; ++i)
                        work.setSample (ch, i, input[(size_t)(ch % 2)][(size_t)((position + i) % length)]);
                position += blockSize;
                midi.clear();

                if (count)
                {
                    const ScopedAllocationCounting counting;
                    instance->processBlock (work, midi);
                }
                else
                {
                    instance->processBlock (work, midi);
                }
            };

            for (int i = 0; i < warmUpBlocks; ++i)
                processOne (false);

            const auto before = getCountedAllocations();
            const auto wrapperBefore = getSeparatelyCountedAllocations();
            for (int i = 0; i < countedBlocks; ++i)
                processOne (true);
            counted = getCountedAllocations() - before;
            inWrapper = getSeparatelyCountedAllocations() - wrapperBefore;
        });

    setSeparatelyCountedCaller (0, 0, 0, 0);

    if (counted != 0)
    {
        const auto where = describeFirstCountedAllocation();
        problems.add (juce::String ((juce::int64)counted) + " allocations" +
                      (where.empty() ? juce::String() : ", the first from " + juce::String (where)));
    }

    juce::String detail = " (" + juce::String (getAllocationCountingMethod()) +
                          "): " + juce::String ((juce::int64)counted) + " allocations";
    if (plugin.isVst3())
        detail
            << (wrapper.isEmpty()
                    ? "; JUCE's VST3 wrapper not found in the library's symbols, so its allocations count too"
                    : "; apart from these, " + juce::String ((juce::int64)inWrapper) +
                          " in JUCE 7.0.5's VST3 wrapper (JuceVST3Component::processAudio<float>)");

    report.add (tag(), title + detail, problems);
}

void PluginChecker::checkLoadUnload()
{
    const int rounds = settings.loadUnloadRounds;
    const bool withEditor = whyNoEditor().isEmpty();
    auto* server = withEditor ? settings.updateServer : nullptr;

    juce::String title = "loaded and unloaded " + juce::String (rounds) + " times";
    title << (server != nullptr
                  ? ", the editor's update check pending against a slow loopback server at each unload"
                  : (withEditor ? ", with the editor opened each time" : ""));
    title << ": library unmapped after each unload";

    // Start from nothing: earlier checks leave the format (and a VST3 module) open.
    closeFormat();
    pump (20);

    juce::StringArray problems;
    int stillMapped = 0, pendingAtUnload = 0, leftOpen = 0;

    for (int round = 0; round < rounds; ++round)
    {
        juce::StringArray openProblems;
        if (!openFormat (openProblems))
        {
            problems.addArray (openProblems);
            break;
        }

        juce::String error;
        auto instance = createInstance (48000.0, 512, error);
        if (instance == nullptr || !prepare (*instance, 48000.0, 512, 2))
        {
            problems.add ("round " + juce::String (round + 1) + ": no prepared instance: " + error);
            instance.reset();
            closeFormat();
            break;
        }

        processThrough (*instance, makeTestSignal (2, 4096, 48000.0, settings.seed), fixedBlocks (512), 512);

        if (withEditor)
        {
            const int requestsBefore = server != nullptr ? server->getNumFeedRequests() : 0;
            std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());

            if (editor != nullptr && settings.realWindows)
            {
                editor->addToDesktop (juce::ComponentPeer::windowHasTitleBar);
                editor->setVisible (true);
                installCountingXErrorHandler();
            }

            // Wait until the check's request has reached the server and hangs there.
            const auto deadline =
                juce::Time::getMillisecondCounter() + (juce::uint32)settings.waitScale * 3000;
            while (server != nullptr && server->getNumFeedRequests() == requestsBefore &&
                   juce::Time::getMillisecondCounter() < deadline)
                pump (10);

            if (server != nullptr && server->getNumFeedRequests() > requestsBefore &&
                server->getNumOpenConnections() > 0)
                ++pendingAtUnload;

            const bool onlyGiven = onlyTheGivenLibraryIsMapped ("after an editor opened");

            if (editor != nullptr)
                closeEditor (std::move (editor), !plugin.isVst3());

            if (!onlyGiven)
            {
                instance.reset();
                closeFormat();
                problems.add ("another copy of the library took part in round " + juce::String (round + 1));
                break;
            }
        }

        instance.reset();
        closeFormat();
        pump (10);

        if (isLibraryMapped (library))
            ++stillMapped;

        // The plug-in must end its pending request when it goes; no connection may outlive it.
        if (server != nullptr)
        {
            const auto deadline =
                juce::Time::getMillisecondCounter() + (juce::uint32)settings.waitScale * 2000;
            while (server->getNumOpenConnections() > 0 && juce::Time::getMillisecondCounter() < deadline)
                pump (10);

            if (server->getNumOpenConnections() > 0)
                ++leftOpen;
        }
    }

    if (stillMapped > 0)
    {
        juce::String problem = "the library stayed mapped after " + juce::String (stillMapped) + " of " +
                               juce::String (rounds) + " unloads";
        const int unique = countGnuUniqueSymbols (library);
        if (unique > 0)
            problem
                << " (it defines " << unique
                << " STB_GNU_UNIQUE symbols, which make glibc ignore dlclose; build it with -fno-gnu-unique)";
        problems.add (problem);
    }

    if (server != nullptr && pendingAtUnload < rounds)
        problems.add ("the update check was pending at only " + juce::String (pendingAtUnload) + " of " +
                      juce::String (rounds) + " unloads (the slow server on port " +
                      juce::String (server->getPort()) + " saw no request from the editor)");

    if (leftOpen > 0)
        problems.add ("an update request was still open 2 s after " + juce::String (leftOpen) + " unloads");

    report.add (tag(), title, problems);

    // Leave the format open for anything that follows.
    juce::StringArray reopenProblems;
    openFormat (reopenProblems);
}

} // namespace varnelle::hostcheck
