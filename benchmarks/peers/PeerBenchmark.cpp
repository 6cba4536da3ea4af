// Varnelle beside the multiband dynamics a Linux user would pick instead, timed through JUCE's
// plug-in hosting on the same input: Varnelle's built VST3 and LV2, Debian's LSP Multiband
// Compressor Stereo (lsp-plugins-lv2) and ZaMultiCompX2 (zam-plugins), each at its defaults
// and with all its bands on. Stereo, 48 kHz, blocks of 512, pink noise and sines.
//
// The subjects take turns, one repetition each per round, so that the machine's load falls on
// all alike; each repetition processes `seconds` of audio, timed with the thread's CPU clock.
// Prints the median realtime factor (seconds of audio per CPU second) of every subject and its
// ratio to Varnelle's VST3 with its bands on; a subject JUCE cannot load is listed with why.
//
// usage: varnelle-peer-bench --vst3 VARNELLE.vst3 --lv2 VARNELLE_LV2_FOLDER [--seconds S] [--rounds N]
// Run it through benchmarks/peers/run-peers.sh, which installs the peers and keeps ~/.lv2 out.

#include "../BenchmarkMaterial.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + 1.0e-9 * (double)t.tv_nsec;
}

/** Sets every parameter whose name is in `names` to the normalised `value`; how many were set. */
int setByName (juce::AudioPluginInstance& plugin, const juce::StringArray& names, float value)
{
    int set = 0;
    for (auto* parameter : plugin.getParameters())
        if (names.contains (parameter->getName (256)))
        {
            parameter->setValueNotifyingHost (value);
            ++set;
        }
    return set;
}

juce::StringArray numbered (const juce::String& pattern, int from, int to)
{
    juce::StringArray names;
    for (int i = from; i <= to; ++i)
        names.add (pattern.replace ("#", juce::String (i)));
    return names;
}

struct Subject
{
    juce::String name;
    juce::String formatName; // "VST3" or "LV2"
    juce::String fileOrUri;
    std::function<bool (juce::AudioPluginInstance&)> configure; // false: a setting was not found

    std::unique_ptr<juce::AudioPluginInstance> instance;
    juce::String problem;
    std::vector<double> factors;
};

// Varnelle with the benchmarks' five active bands (BenchmarkSetup.h), in normalised values.
bool varnelleBandsOn (juce::AudioPluginInstance& plugin)
{
    const float gains[] = {-6.0f, 3.0f, -9.0f, 4.5f, -3.0f};
    const float levelMins[] = {-50.0f, -70.0f, -40.0f, -60.0f, -45.0f};
    int set = 0;
    for (int b = 1; b <= 5; ++b)
    {
        const auto band = "Band " + juce::String (b);
        set += setByName (plugin, {band + " Gain"}, (gains[b - 1] + 60.0f) / 84.0f);
        set += setByName (plugin, {band + " Level Min"}, (levelMins[b - 1] + 80.0f) / 80.0f);
        set += setByName (plugin, {band + " Level Max"}, 74.0f / 80.0f);
        set += setByName (plugin, {band + " Upper Knee", band + " Lower Knee"}, 6.0f / 24.0f);
    }
    return set == 5 * 5;
}

std::unique_ptr<juce::AudioPluginInstance> load (juce::AudioPluginFormatManager& formats,
                                                 const Subject& subject,
                                                 const juce::FileSearchPath& lv2Folders, juce::String& error)
{
    juce::OwnedArray<juce::PluginDescription> found;
    for (auto* format : formats.getFormats())
        if (format->getName() == subject.formatName)
        {
            if (subject.formatName == "LV2")
            {
                // JUCE's LV2 host knows only the bundles of the folders it is told.
                format->searchPathsForPlugins (lv2Folders, false, false);
                format->findAllTypesForFile (found, subject.fileOrUri);
            }
            else
            {
                format->findAllTypesForFile (found, subject.fileOrUri);
            }
        }

    if (found.isEmpty())
    {
        error = "JUCE's " + subject.formatName + " host finds no plug-in at " + subject.fileOrUri;
        return nullptr;
    }

    auto instance = formats.createPluginInstance (*found.getFirst(), sampleRate, blockSize, error);
    if (instance == nullptr)
        return nullptr;

    juce::AudioProcessor::BusesLayout stereo;
    stereo.inputBuses.add (juce::AudioChannelSet::stereo());
    stereo.outputBuses.add (juce::AudioChannelSet::stereo());
    instance->releaseResources();
    // LV2 plug-ins have fixed ports: a stereo one may refuse even the layout it already has.
    const bool alreadyStereo =
        instance->getTotalNumInputChannels() == 2 && instance->getTotalNumOutputChannels() == 2;
    if (!alreadyStereo && !instance->setBusesLayout (stereo))
    {
        error = instance->getName() + " refuses stereo in, stereo out (it has " +
                juce::String (instance->getTotalNumInputChannels()) + " in, " +
                juce::String (instance->getTotalNumOutputChannels()) + " out)";
        return nullptr;
    }
    instance->prepareToPlay (sampleRate, blockSize);
    return instance;
}

double timeRepetition (juce::AudioPluginInstance& plugin, const juce::AudioBuffer<float>& material,
                       int blocks)
{
    juce::AudioBuffer<float> buffer (std::max (2, plugin.getTotalNumInputChannels()), blockSize);
    juce::MidiBuffer midi;
    double cpuSeconds = 0.0;
    for (int b = 0; b < blocks; ++b)
    {
        const int start = (b * blockSize) % (material.getNumSamples() - blockSize);
        for (int ch = 0; ch < 2; ++ch)
            buffer.copyFrom (ch, 0, material, ch, start, blockSize);
        const double before = threadCpuSeconds();
        plugin.processBlock (buffer, midi);
        cpuSeconds += threadCpuSeconds() - before;
    }
    return (double)blocks * blockSize / sampleRate / cpuSeconds;
}

double median (std::vector<double> values)
{
    std::sort (values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}
} // namespace

int main (int argc, char* argv[])
{
    juce::String vst3, lv2;
    double seconds = 10.0;
    int rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const juce::String option (argv[i]), value (argv[i + 1]);
        if (option == "--vst3")
            vst3 = value;
        else if (option == "--lv2")
            lv2 = value;
        else if (option == "--seconds")
            seconds = juce::jlimit (0.5, 600.0, value.getDoubleValue());
        else if (option == "--rounds")
            rounds = juce::jlimit (1, 100, value.getIntValue());
    }
    if (vst3.isEmpty() || lv2.isEmpty())
    {
        std::fprintf (stderr, "usage: varnelle-peer-bench --vst3 VARNELLE.vst3 --lv2 VARNELLE_LV2_FOLDER "
                              "[--seconds S] [--rounds N]\n");
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI juce;
    juce::AudioPluginFormatManager formats;
    formats.addFormat (new juce::VST3PluginFormat());
    formats.addFormat (new juce::LV2PluginFormat());

    const auto lspUri = "http://lsp-plug.in/plugins/lv2/mb_compressor_stereo";
    const auto zamUri = "urn:zamaudio:ZaMultiCompX2";
    const auto asIs = [] (juce::AudioPluginInstance&) { return true; };
    const auto lspBandsOn = [] (juce::AudioPluginInstance& p)
    {
        return setByName (p, numbered ("Compression band enable #", 1, 7), 1.0f) == 7 &&
               setByName (p, numbered ("Compressor enable #", 0, 7), 1.0f) == 8;
    };
    const auto zamBandsOn = [] (juce::AudioPluginInstance& p)
    { return setByName (p, numbered ("ZamComp # ON", 1, 3), 1.0f) == 3; };

    const juce::FileSearchPath lv2Folders (
        juce::File::getCurrentWorkingDirectory().getChildFile (lv2).getParentDirectory().getFullPathName() +
        ";/usr/lib/lv2");
    std::vector<Subject> subjects;
    const auto vst3Path = juce::File::getCurrentWorkingDirectory().getChildFile (vst3).getFullPathName();
    subjects.push_back ({"Varnelle VST3, five bands on", "VST3", vst3Path, varnelleBandsOn});
    subjects.push_back ({"Varnelle VST3, defaults", "VST3", vst3Path, asIs});
    subjects.push_back ({"Varnelle LV2, five bands on", "LV2", VARNELLE_PEER_LV2_URI, varnelleBandsOn});
    subjects.push_back ({"LSP Multiband Compressor Stereo, defaults", "LV2", lspUri, asIs});
    subjects.push_back ({"LSP Multiband Compressor Stereo, all 8 bands on", "LV2", lspUri, lspBandsOn});
    subjects.push_back ({"ZaMultiCompX2, defaults", "LV2", zamUri, asIs});
    subjects.push_back ({"ZaMultiCompX2, all 3 bands on", "LV2", zamUri, zamBandsOn});

    for (auto& subject : subjects)
    {
        juce::String error;
        subject.instance = load (formats, subject, lv2Folders, error);
        if (subject.instance == nullptr)
            subject.problem = "not loaded: " + error;
        else if (!subject.configure (*subject.instance))
            subject.problem = "a band setting was not found among its parameters";
    }

    const auto material = varnelle::bench::makeMaterial (1 << 17, sampleRate);
    const int blocks = (int)std::ceil (seconds * sampleRate / blockSize);
    for (auto& subject : subjects) // warm-up, untimed
        if (subject.problem.isEmpty())
            timeRepetition (*subject.instance, material, blocks / 4 + 1);
    for (int round = 0; round < rounds; ++round)
        for (auto& subject : subjects)
            if (subject.problem.isEmpty())
                subject.factors.push_back (timeRepetition (*subject.instance, material, blocks));

    const double reference = median (subjects.front().factors);
    std::printf ("stereo 48 kHz, blocks of %d, %.1f s of audio per repetition, median of %d rounds\n\n",
                 blockSize, seconds, rounds);
    std::printf ("| plug-in | realtime factor | Varnelle VST3 (bands on) is this many times as fast |\n");
    std::printf ("|---|---|---|\n");
    for (auto& subject : subjects)
    {
        if (subject.problem.isNotEmpty())
        {
            std::printf ("| %s | %s | |\n", subject.name.toRawUTF8(), subject.problem.toRawUTF8());
            continue;
        }
        const double factor = median (subject.factors);
        std::printf ("| %s | %.0fx | %.2f |\n", subject.name.toRawUTF8(), factor, reference / factor);
        subject.instance->releaseResources();
    }
    for (auto& subject : subjects)
        subject.instance.reset();
    return 0;
}
