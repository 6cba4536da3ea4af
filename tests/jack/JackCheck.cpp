// varnelle-jack-check: drives the Standalone app through a JACK server.
//
//   varnelle-jack-check settings SETTINGS_FILE ID=VALUE...
//       writes the app's settings file with the processor's state after the given parameter
//       values (real units), and no audio device: the app chooses one as for a new user.
//   varnelle-jack-check run CLIENT SETTINGS_FILE
//       finds CLIENT's ports (two inputs, two outputs), plays two seconds of noise into its
//       inputs from one JACK client and records its outputs with another (so the graph has no
//       cycle and no period of extra delay), and compares the recording with the processor run
//       offline on the same signal with the same state, 2048 samples later.
// Prints what it found; exits 1 on any failure, 3 when the server reported an xrun meanwhile
// (the recording has gaps: run again).

#include "engine/VarnelleAudioProcessor.h"

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace
{
constexpr int signalLength = 96000;
constexpr int latency = 2048;

juce::PropertiesFile::Options settingsOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "Varnelle";
    options.filenameSuffix = ".settings";
    return options;
}

std::vector<std::vector<float>> makeSignal()
{
    juce::Random random (20261210);
    std::vector<std::vector<float>> signal (2, std::vector<float> ((size_t)signalLength));
    for (auto& channel : signal)
        for (auto& sample : channel)
            sample = 0.3f * (2.0f * random.nextFloat() - 1.0f);
    return signal;
}

int writeSettings (const juce::File& file, const juce::StringArray& settings)
{
    VarnelleAudioProcessor processor;
    for (const auto& setting : settings)
    {
        auto* parameter =
            processor.parameters.getParameter (setting.upToFirstOccurrenceOf ("=", false, false));
        if (parameter == nullptr)
        {
            std::fprintf (stderr, "no parameter in '%s'\n", setting.toRawUTF8());
            return 1;
        }
        parameter->setValueNotifyingHost (
            parameter->convertTo0to1 (setting.fromFirstOccurrenceOf ("=", false, false).getFloatValue()));
    }
    juce::MemoryBlock state;
    processor.getStateInformation (state);
    juce::PropertiesFile properties (file, settingsOptions());
    properties.setValue ("filterState", state.toBase64Encoding());
    return properties.save() ? 0 : 1;
}

// One client plays, the other records; each process callback knows the cycle's first frame.
struct Session
{
    std::vector<std::vector<float>> signal = makeSignal();
    std::vector<std::vector<float>> recorded =
        std::vector<std::vector<float>> (2, std::vector<float> ((size_t)signalLength + 8 * latency));
    jack_port_t* outs[2]{};
    jack_port_t* ins[2]{};
    jack_client_t* player = nullptr;
    jack_client_t* recorder = nullptr;
    std::atomic<bool> wired{false}; // every connection made
    std::atomic<bool> started{false};
    std::atomic<jack_nframes_t> startFrame{0};
    std::atomic<bool> done{false};
    std::atomic<int> xruns{0};
    std::atomic<int> xrunsBeforeStart{0};
};

int countXrun (void* arg)
{
    ++static_cast<Session*> (arg)->xruns;
    return 0;
}

int play (jack_nframes_t n, void* arg)
{
    auto& s = *static_cast<Session*> (arg);
    const auto first = jack_last_frame_time (s.player);
    // The signal starts with the first cycle in which the app hears the player.
    if (!s.started.load() && s.wired.load() && jack_port_connected (s.outs[0]) > 0 &&
        jack_port_connected (s.outs[1]) > 0)
    {
        s.startFrame = first;
        s.xrunsBeforeStart = s.xruns.load();
        s.started = true;
    }
    if (!s.started.load())
    {
        for (auto* port : s.outs)
            std::fill_n (static_cast<float*> (jack_port_get_buffer (port, n)), n, 0.0f);
        return 0;
    }
    for (int ch = 0; ch < 2; ++ch)
    {
        auto* out = static_cast<float*> (jack_port_get_buffer (s.outs[ch], n));
        for (jack_nframes_t i = 0; i < n; ++i)
        {
            const auto index = (std::int64_t) (first + i) - (std::int64_t)s.startFrame.load();
            out[i] = index >= 0 && index < signalLength ? s.signal[(size_t)ch][(size_t)index] : 0.0f;
        }
    }
    return 0;
}

int record (jack_nframes_t n, void* arg)
{
    auto& s = *static_cast<Session*> (arg);
    if (!s.started.load())
        return 0;
    const auto first = jack_last_frame_time (s.recorder);
    for (int ch = 0; ch < 2; ++ch)
    {
        const auto* in = static_cast<const float*> (jack_port_get_buffer (s.ins[ch], n));
        for (jack_nframes_t i = 0; i < n; ++i)
        {
            const auto index = (std::int64_t) (first + i) - (std::int64_t)s.startFrame.load();
            if (index >= 0 && index < (std::int64_t)s.recorded[(size_t)ch].size())
                s.recorded[(size_t)ch][(size_t)index] = in[i];
            else if (index >= (std::int64_t)s.recorded[(size_t)ch].size())
                s.done = true;
        }
    }
    return 0;
}

// The processor offline: a second of silence first, as the app has run before the signal.
// Periods of the app are a multiple of the engine's 512-sample hop.
std::vector<std::vector<float>> renderExpected (const std::vector<std::vector<float>>& signal,
                                                const juce::File& settings, double rate, int blockSize)
{
    juce::PropertiesFile properties (settings, settingsOptions());
    juce::MemoryBlock state;
    state.fromBase64Encoding (properties.getValue ("filterState"));
    VarnelleAudioProcessor processor;
    processor.setStateInformation (state.getData(), (int)state.getSize());
    processor.setRateAndBufferSizeDetails (rate, blockSize);
    processor.prepareToPlay (rate, blockSize);

    // The app's engine counts its samples from its first period, so the signal reaches it on a
    // period boundary; the engine's frames fall every 512 samples from its start, and the
    // offline run must see the signal at the same place in that grid.
    const int lead = blockSize * ((int)rate / blockSize + 1);
    const int total = lead + signalLength + latency;
    juce::AudioBuffer<float> audio (2, total);
    audio.clear();
    for (int ch = 0; ch < 2; ++ch)
        audio.copyFrom (ch, lead, signal[(size_t)ch].data(), signalLength);
    juce::MidiBuffer midi;
    for (int start = 0; start < total; start += blockSize)
    {
        juce::AudioBuffer<float> block (audio.getArrayOfWritePointers(), 2, start,
                                        std::min (blockSize, total - start));
        processor.processBlock (block, midi);
    }
    std::vector<std::vector<float>> out (2);
    for (int ch = 0; ch < 2; ++ch)
        out[(size_t)ch].assign (audio.getReadPointer (ch, lead),
                                audio.getReadPointer (ch, lead) + signalLength + latency);
    return out;
}

bool connectPorts (jack_client_t* client, const char* from, const char* to)
{
    const int error = jack_connect (client, from, to);
    if (error != 0 && error != EEXIST)
    {
        std::fprintf (stderr, "cannot connect %s to %s\n", from, to);
        return false;
    }
    return true;
}

int run (const juce::String& clientName, const juce::File& settings)
{
    Session s;
    s.player = jack_client_open ("varnelle-check-player", JackNoStartServer, nullptr);
    s.recorder = jack_client_open ("varnelle-check-recorder", JackNoStartServer, nullptr);
    if (s.player == nullptr || s.recorder == nullptr)
    {
        std::fprintf (stderr, "no JACK server\n");
        return 1;
    }

    const auto portsOf = [&] (unsigned long flags)
    {
        juce::StringArray names;
        if (const char** ports =
                jack_get_ports (s.player, (clientName + ":").toRawUTF8(), JACK_DEFAULT_AUDIO_TYPE, flags))
        {
            for (auto** p = ports; *p != nullptr; ++p)
                names.add (*p);
            jack_free (ports);
        }
        return names;
    };
    const auto inputs = portsOf (JackPortIsInput), outputs = portsOf (JackPortIsOutput);
    std::printf ("%s: %d inputs (%s), %d outputs (%s)\n", clientName.toRawUTF8(), inputs.size(),
                 inputs.joinIntoString (" ").toRawUTF8(), outputs.size(),
                 outputs.joinIntoString (" ").toRawUTF8());
    if (inputs.size() != 2 || outputs.size() != 2)
        return 1;

    for (int ch = 0; ch < 2; ++ch)
    {
        const auto suffix = juce::String (ch + 1);
        s.outs[ch] = jack_port_register (s.player, ("out_" + suffix).toRawUTF8(), JACK_DEFAULT_AUDIO_TYPE,
                                         JackPortIsOutput, 0);
        s.ins[ch] = jack_port_register (s.recorder, ("in_" + suffix).toRawUTF8(), JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsInput, 0);
    }
    jack_set_process_callback (s.recorder, record, &s);
    jack_set_xrun_callback (s.recorder, countXrun, &s);
    if (jack_activate (s.recorder) != 0)
        return 1;
    for (int ch = 0; ch < 2; ++ch)
        if (!connectPorts (s.recorder, outputs[ch].toRawUTF8(), jack_port_name (s.ins[ch])))
            return 1;
    jack_set_process_callback (s.player, play, &s);
    if (jack_activate (s.player) != 0)
        return 1;
    for (int ch = 0; ch < 2; ++ch)
        if (!connectPorts (s.player, jack_port_name (s.outs[ch]), inputs[ch].toRawUTF8()))
            return 1;
    s.wired = true;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (30);
    while (!s.done && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for (std::chrono::milliseconds (50));
    const double rate = jack_get_sample_rate (s.player);
    const int blockSize = (int)jack_get_buffer_size (s.player);
    jack_deactivate (s.player);
    jack_deactivate (s.recorder);
    jack_client_close (s.player);
    jack_client_close (s.recorder);
    if (!s.done)
    {
        std::fprintf (stderr, "the recording did not complete in 30 s\n");
        return 1;
    }
    // A cycle some client did not finish in time (a busy machine) loses samples: no result.
    if (const int xruns = s.xruns - s.xrunsBeforeStart; xruns > 0)
    {
        std::printf ("%d xruns during the recording\n", xruns);
        return 3;
    }

    // The app's delay is its 2048 samples and nothing else: the recording is the processor's
    // output at the signal's own frame times.
    const auto expected = renderExpected (s.signal, settings, rate, blockSize);
    float error = 0.0f;
    int worstSample = -1;
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < signalLength + latency; ++i)
            if (const float e =
                    std::abs (s.recorded[(size_t)ch][(size_t)i] - expected[(size_t)ch][(size_t)i]);
                e > error)
            {
                error = e;
                worstSample = i;
            }
    float change = 0.0f;
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < signalLength; ++i)
            change = std::max (change, std::abs (expected[(size_t)ch][(size_t)(i + latency)] -
                                                 s.signal[(size_t)ch][(size_t)i]));
    std::printf ("recorded: the processor's output %d samples after the signal (largest difference %.9f, at "
                 "output sample %d); the band setting changes the signal by up to %.3f\n",
                 latency, (double)error, worstSample, (double)change);
    return error <= 1.0e-5f && change > 0.01f ? 0 : 1;
}
} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (argv[i]);
    if (args.size() >= 2 && args[0] == "settings")
        return writeSettings (juce::File (args[1]), juce::StringArray (args.begin() + 2, args.size() - 2));
    if (args.size() == 3 && args[0] == "run")
        return run (args[1], juce::File (args[2]));
    std::fprintf (stderr,
                  "usage: varnelle-jack-check settings FILE ID=VALUE... | run CLIENT SETTINGS_FILE\n");
    return 2;
}
