// CPU time of the plug-in window on screen, the way the Standalone app shows it, with or
// without audio arriving. There is no audio device on the build machine, so a thread plays the
// part of one: a block of 512 samples of the benchmark material every 10.7 ms, at the pace a
// 48 kHz device would ask for them. Prints the process's user + system time over the measured
// seconds as a share of one core (the audio thread included, as in the Standalone app).
//
// Usage: varnelle-window-cpu idle|audio [SECONDS] [WxH]   (on a display: window-cpu.sh)
// The size is the editor's (default 1140x760, within its resize limits).

#include "BenchmarkSetup.h"
#include "XErrorHandling.h"
#include "editor/PresetManager.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace
{
using namespace varnelle::bench;

double processCpuSeconds()
{
    rusage usage{};
    getrusage (RUSAGE_SELF, &usage);
    const auto seconds = [] (const timeval& t) { return (double)t.tv_sec + 1.0e-6 * (double)t.tv_usec; };
    return seconds (usage.ru_utime) + seconds (usage.ru_stime);
}

/** Calls processBlock at the pace of a 48 kHz device until stopped. */
class PacedAudio
{
public:
    explicit PacedAudio (VarnelleAudioProcessor& p) : processor (p)
    {
        thread = std::thread ([this] { run(); });
    }

    ~PacedAudio()
    {
        stop = true;
        thread.join();
    }

private:
    void run()
    {
        const auto material = makeMaterial();
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        const auto blockDuration = std::chrono::duration<double> (blockSize / sampleRate);
        auto due = std::chrono::steady_clock::now();
        for (int position = 0; !stop; position = (position + blockSize) % (materialLength - blockSize))
        {
            for (int ch = 0; ch < 2; ++ch)
                buffer.copyFrom (ch, 0, material, ch, position, blockSize);
            processor.processBlock (buffer, midi);
            due += std::chrono::duration_cast<std::chrono::steady_clock::duration> (blockDuration);
            std::this_thread::sleep_until (due);
        }
    }

    VarnelleAudioProcessor& processor;
    std::atomic<bool> stop{false};
    std::thread thread;
};

/** "WxH" as two positive integers, or false. */
bool parseSize (const char* text, int& width, int& height)
{
    char separator = 0;
    char rest = 0;
    return std::sscanf (text, "%d%c%d%c", &width, &separator, &height, &rest) == 3 &&
           (separator == 'x' || separator == 'X') && width > 0 && height > 0;
}
} // namespace

int main (int argc, char** argv)
{
    const bool withAudio = argc >= 2 && std::strcmp (argv[1], "audio") == 0;
    if (argc < 2 || (!withAudio && std::strcmp (argv[1], "idle") != 0))
    {
        std::fprintf (stderr, "usage: %s idle|audio [SECONDS] [WxH]\n", argv[0]);
        return 2;
    }
    const int seconds = argc >= 3 ? std::max (1, std::atoi (argv[2])) : 20;
    int width = 1140, height = 760;
    if (argc >= 4 && !parseSize (argv[3], width, height))
    {
        std::fprintf (stderr, "error: the size must read WxH, for example 2400x1600, not '%s'\n", argv[3]);
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI juceInitialiser;
    if (!varnelle::hostcheck::createWindowManagerAtoms())
    {
        std::fprintf (stderr, "error: no display\n");
        return 1;
    }
    const juce::TemporaryFile presetFolder;
    varnelle::editor::PresetManager::overrideDefaultPresetFolder (presetFolder.getFile());

    VarnelleAudioProcessor processor;
    configureFiveActiveBands (processor);
    processor.setRateAndBufferSizeDetails (sampleRate, blockSize);
    processor.prepareToPlay (sampleRate, blockSize);

    std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditorIfNeeded());
    // The sizes a user can drag the window to, no others.
    if (auto* limits = editor->getConstrainer();
        limits != nullptr && (width < limits->getMinimumWidth() || width > limits->getMaximumWidth() ||
                              height < limits->getMinimumHeight() || height > limits->getMaximumHeight()))
    {
        std::fprintf (stderr, "error: the window is %dx%d to %dx%d, not %dx%d\n", limits->getMinimumWidth(),
                      limits->getMinimumHeight(), limits->getMaximumWidth(), limits->getMaximumHeight(),
                      width, height);
        return 2;
    }
    editor->setSize (width, height);
    juce::DocumentWindow window ("Varnelle", juce::Colours::black, 0);
    window.setUsingNativeTitleBar (false);
    window.setContentNonOwned (editor.get(), true);
    window.centreWithSize (window.getWidth(), window.getHeight());
    window.setVisible (true);

    std::unique_ptr<PacedAudio> audio;
    if (withAudio)
        audio = std::make_unique<PacedAudio> (processor);

    // Past start-up and the first paints, then the measured stretch.
    double start = 0.0, cpu = 0.0;
    juce::Timer::callAfterDelay (3000, [&] { start = processCpuSeconds(); });
    juce::Timer::callAfterDelay (3000 + seconds * 1000,
                                 [&]
                                 {
                                     cpu = processCpuSeconds() - start;
                                     juce::MessageManager::getInstance()->stopDispatchLoop();
                                 });
    juce::MessageManager::getInstance()->runDispatchLoop();

    audio.reset();
    window.clearContentComponent();
    editor.reset();

    std::printf ("%dx%d, window open, %s: %.2f s of CPU in %d s = %.1f%% of a core\n", width, height,
                 withAudio ? "following audio" : "no audio", cpu, seconds, 100.0 * cpu / seconds);
    return 0;
}
