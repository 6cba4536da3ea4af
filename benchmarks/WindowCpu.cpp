// CPU time of the plug-in window on screen, the way the Standalone app shows it, with or
// without audio arriving. There is no audio device on the build machine, so a thread plays the
// part of one: a block of 512 samples of the benchmark material every 10.7 ms, at the pace a
// 48 kHz device would ask for them. Prints the process's user + system time over the measured
// seconds as a share of one core (the audio thread included, as in the Standalone app).
//
// Usage: varnelle-window-cpu idle|audio|screen [SECONDS] [WxH] [X [change]]   (on a display: window-cpu.sh)
// The size is the editor's (default 1140x760, within its resize limits). "screen" follows audio
// as "audio" does, then checks the window's pixels on the display against the editor painted
// afresh (the plot scrolls by moving pixels on screen, which must come to the same picture);
// X places the window's left edge, so that a window partly beyond the screen's right edge can
// be checked too; "change" after it shows the Change view with the keys on an edge of the
// display (its focus outline lies over the plot).

#include "BenchmarkSetup.h"
#include "ScreenGrab.h"
#include "XErrorHandling.h"
#include "editor/PresetManager.h"
#include "editor/SpectrogramComponent.h"
#include "editor/VarnelleAudioProcessorEditor.h"
#include "editor/WindowScroll.h"

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

/** The display's pixels that are on the screen, compared with the display painted afresh:
    prints how many differ and how often the plot was scrolled on screen, and returns whether
    the pixels all agree after at least one scroll. */
bool screenShowsTheDisplay (juce::Component& window, juce::Component& display)
{
    const auto screen = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->totalArea;
    const auto onScreen = display.getScreenBounds().getIntersection (screen);
    const auto inDisplay = display.getLocalArea (nullptr, onScreen);
    const auto shown = grabWindowArea (window, window.getLocalArea (nullptr, onScreen));
    if (!shown.isValid())
        return false;
    const auto painted = display.createComponentSnapshot (inDisplay, true, 1.0f);

    int differing = 0;
    for (int y = 0; y < inDisplay.getHeight(); ++y)
        for (int x = 0; x < inDisplay.getWidth(); ++x)
            differing +=
                shown.getPixelAt (x, y).withAlpha (1.0f) != painted.getPixelAt (x, y).withAlpha (1.0f);

    const int scrolls = varnelle::editor::windowscroll::getNumScrolls();
    std::printf ("display, %dx%d on screen: %d of %d pixels differ from a fresh painting, after %d scrolls\n",
                 inDisplay.getWidth(), inDisplay.getHeight(), differing,
                 inDisplay.getWidth() * inDisplay.getHeight(), scrolls);
    return differing == 0 && scrolls > 0;
}

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
    const bool checkScreen = argc >= 2 && std::strcmp (argv[1], "screen") == 0;
    const bool withAudio = checkScreen || (argc >= 2 && std::strcmp (argv[1], "audio") == 0);
    if (argc < 2 || (!withAudio && std::strcmp (argv[1], "idle") != 0))
    {
        std::fprintf (stderr, "usage: %s idle|audio|screen [SECONDS] [WxH] [X]\n", argv[0]);
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
    if (argc >= 5)
        window.setTopLeftPosition (std::atoi (argv[4]), window.getY());
    window.setVisible (true);
    juce::Component* focusedEdge = nullptr;
    if (argc >= 6 && std::strcmp (argv[5], "change") == 0)
    {
        auto& keyed = static_cast<VarnelleAudioProcessorEditor&> (*editor);
        keyed.showChangeView (true);
        focusedEdge = keyed.getSpectrogram().getChildComponent (1); // the upper frequency edge
        // Once the window is on screen: an unmapped window cannot take the focus.
        juce::Timer::callAfterDelay (1000, [focusedEdge] { focusedEdge->grabKeyboardFocus(); });
    }

    std::unique_ptr<PacedAudio> audio;
    if (withAudio)
        audio = std::make_unique<PacedAudio> (processor);

    // Past start-up and the first paints, then the measured stretch; for the screen check the
    // audio then stops, and the last columns are shown and painted before the pixels are read.
    double start = 0.0, cpu = 0.0;
    bool screenAgrees = true;
    auto* messageManager = juce::MessageManager::getInstance();
    const auto checkTheScreen = [&]
    {
        auto& display = static_cast<VarnelleAudioProcessorEditor&> (*editor).getSpectrogram();
        screenAgrees = screenShowsTheDisplay (window, display);
        if (focusedEdge != nullptr && !focusedEdge->hasKeyboardFocus (false))
        {
            std::printf ("the display's edge did not keep the keyboard focus\n");
            screenAgrees = false;
        }
        messageManager->stopDispatchLoop();
    };
    juce::Timer::callAfterDelay (3000, [&] { start = processCpuSeconds(); });
    juce::Timer::callAfterDelay (3000 + seconds * 1000,
                                 [&]
                                 {
                                     cpu = processCpuSeconds() - start;
                                     audio.reset();
                                     if (checkScreen)
                                         juce::Timer::callAfterDelay (500, checkTheScreen);
                                     else
                                         messageManager->stopDispatchLoop();
                                 });
    messageManager->runDispatchLoop();

    window.clearContentComponent();
    editor.reset();
    if (checkScreen)
        return screenAgrees ? 0 : 1;

    std::printf ("%dx%d, window open, %s: %.2f s of CPU in %d s = %.1f%% of a core\n", width, height,
                 withAudio ? "following audio" : "no audio", cpu, seconds, 100.0 * cpu / seconds);
    return 0;
}
