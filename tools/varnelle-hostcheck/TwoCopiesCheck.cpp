// Two copies of the plug-in in one process, as a user gets them with a build's bundles in the
// home folder and the package's in the system folders: the same bytes at another path are a
// second library with its own JUCE, its own statics and its own threads.

#include "HostHelpers.h"
#include "HostJuceExtras.h"
#include "LibraryInspection.h"
#include "PluginChecks.h"
#include "RawLv2Host.h"
#include "XErrorHandling.h"

#include <array>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace varnelle::hostcheck
{
namespace
{
enum class Arrangement
{
    mixed,     // the audio of one copy, a window asked of the other
    sideBySide // each copy with its own instance, audio and editor
};

/** What the host holds of one copy through JUCE's hosting. Message thread. */
struct HostedCopy
{
    PluginUnderTest plugin;
    juce::File library;
    std::unique_ptr<juce::AudioPluginFormatManager> formats;
    juce::PluginDescription description;
    std::unique_ptr<juce::AudioPluginInstance> instance;
    std::unique_ptr<BackgroundProcessing> audio;
    std::unique_ptr<juce::AudioProcessorEditor> editor;

    /** The format and a prepared stereo instance; false with the reason in `problems`. */
    bool open (bool realWindows, juce::StringArray& problems)
    {
        formats = openPluginFormat (plugin, description, problems);
        if (formats == nullptr)
            return false;

        juce::String error;
        instance = formats->createPluginInstance (description, 48000.0, 512, error);
        if (realWindows)
            installCountingXErrorHandler();

        if (instance == nullptr || !prepare (*instance, 48000.0, 512, 2))
        {
            problems.add ("no prepared instance of " + plugin.bundle.getFullPathName() + ": " + error);
            return false;
        }
        return true;
    }

    void startAudio()
    {
        audio = std::make_unique<BackgroundProcessing> (*instance, 2, 48000.0);
        audio->start();
    }

    bool openEditor (bool realWindows)
    {
        editor.reset (instance->createEditorIfNeeded());
        if (editor != nullptr && realWindows)
        {
            editor->addToDesktop (juce::ComponentPeer::windowHasTitleBar);
            editor->setVisible (true);
            installCountingXErrorHandler();
        }
        return editor != nullptr;
    }

    /** Editor, audio, instance and format, in that order; bad output samples go to `problems`. */
    void close (juce::StringArray& problems)
    {
        closeEditor (std::move (editor), !plugin.isVst3());
        if (audio != nullptr)
        {
            audio->stop();
            if (audio->getNumBadSamples() > 0)
                problems.add (juce::String (audio->getNumBadSamples()) +
                              " non-finite or subnormal samples from " + library.getFullPathName());
            audio.reset();
        }
        instance.reset();
        formats.reset();
    }
};

/** Runs `call` with this process's stderr sent to `file`, and returns what was written. */
juce::String captureStderr (const juce::File& file, const std::function<void()>& call)
{
    std::fflush (stderr);
    const int saved = ::dup (STDERR_FILENO);
    const int target = ::open (file.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (saved < 0 || target < 0)
    {
        call();
        return "(stderr could not be captured)";
    }

    ::dup2 (target, STDERR_FILENO);
    ::close (target);
    call();
    std::fflush (stderr);
    ::dup2 (saved, STDERR_FILENO);
    ::close (saved);
    return file.loadFileAsString();
}

bool namesLibrary (const juce::String& text, const juce::File& library)
{
    return text.contains (library.getFullPathName()) || text.contains (getCanonicalPath (library));
}

/** The LV2 arrangement lilv makes of two bundles with one URI: the plug-in instance from the
    given library, the UI asked of the copy. The copy's UI must refuse, naming both libraries;
    the given library's own UI must still open for the same instance (so the refusal is not
    the raw host's doing). Closes everything it opened; `copyFirst` closes the copy first. */
void runRawLv2MixedRound (const HostedCopy& given, const HostedCopy& copy, const juce::File& scratch,
                          bool copyFirst, int& windowsOpened, juce::StringArray& problems)
{
    auto givenLibrary = std::make_unique<RawLv2Library> (given.library);
    auto copyLibrary = std::make_unique<RawLv2Library> (copy.library);
    for (const auto* raw : {givenLibrary.get(), copyLibrary.get()})
        if (raw->getError().isNotEmpty())
            problems.add (raw->getError());
    if (!problems.isEmpty())
        return;

    RawLv2Features features (48000.0, 512);
    auto* instance = givenLibrary->instantiate (features, 48000.0, given.plugin.bundle);
    if (instance == nullptr)
    {
        problems.add ("the raw LV2 host got no instance of " + given.library.getFullPathName());
        return;
    }

    // The host's window that the plug-in's UI embeds itself in.
    juce::Component parent;
    parent.setSize (1140, 760);
    parent.addToDesktop (0);
    parent.setVisible (true);
    pump (20);

    LV2UI_Handle foreignUi = nullptr;
    const auto said = captureStderr (scratch.getChildFile ("lv2-ui-stderr.txt"),
                                     [&]
                                     {
                                         foreignUi = copyLibrary->instantiateUi (features, instance,
                                                                                 parent.getWindowHandle(),
                                                                                 copy.plugin.bundle);
                                     });
    if (foreignUi != nullptr)
    {
        problems.add ("the copy's window opened for an instance of the given library");
        copyLibrary->cleanUpUi (foreignUi);
    }
    else if (!namesLibrary (said, given.library) || !namesLibrary (said, copy.library))
    {
        problems.add ("the copy's window was refused without a line naming both libraries (stderr: \"" +
                      said.trim() + "\")");
    }

    auto* ownUi =
        givenLibrary->instantiateUi (features, instance, parent.getWindowHandle(), given.plugin.bundle);
    installCountingXErrorHandler();
    if (ownUi == nullptr)
        problems.add ("the given library's own window refused its instance");
    else
        ++windowsOpened;

    for (int i = 0; i < 8; ++i)
    {
        givenLibrary->idleUi (ownUi);
        pump (10);
    }

    if (copyFirst)
        copyLibrary.reset();

    givenLibrary->cleanUpUi (ownUi);
    pump (20);
    givenLibrary->cleanUp (instance);
    givenLibrary.reset();
    parent.removeFromDesktop();
    copyLibrary.reset();
}

} // namespace

void PluginChecker::checkTwoCopies()
{
    const int rounds = settings.twoCopiesRounds;
    const juce::String what = "two copies (this bundle and the same bytes at another path) in one process, "
                              "unloaded in both orders, " +
                              juce::String (rounds) + " rounds each, the update check failing at once and " +
                              "pending: no crash, no thread of either left, both libraries unmapped";
    const juce::String mixedTitle =
        what + "; the audio of one with a window asked of the other" +
        (plugin.isVst3() ? juce::String()
                         : juce::String (" (as lilv arranges them): the copy's window refused"));
    const juce::String sideTitle = what + "; side by side, each with its own instance, audio and editor";

    if (const auto reason = whyNoEditor(); reason.isNotEmpty())
    {
        report.skip (tag(), mixedTitle, reason);
        report.skip (tag(), sideTitle, reason);
        return;
    }

    // The second copy: the given bundle's bytes in a folder of their own.
    const auto copyFolder = settings.scratchFolder.getChildFile ("second-copy-" + tag());
    const auto copyBundle = copyFolder.getChildFile (plugin.bundle.getFileName());
    copyFolder.deleteRecursively();
    if (!copyFolder.createDirectory() || !plugin.bundle.copyDirectoryTo (copyBundle))
    {
        report.add (tag(), mixedTitle, {"could not copy the bundle to " + copyBundle.getFullPathName()});
        return;
    }
    const auto copyLibrary = findBundleLibrary (copyBundle, plugin.isVst3());

    // Start from nothing, so that both libraries can be seen to go.
    closeFormat();
    pump (20);

    auto* server = settings.updateServer;
    const int serverPort = server != nullptr ? server->getPort() : 0;
    const auto timeScale = (juce::uint32)settings.waitScale;

    for (const auto arrangement : {Arrangement::mixed, Arrangement::sideBySide})
    {
        juce::StringArray problems;
        int roundsRun = 0, pendingRounds = 0;

        for (const bool pending : {false, true})
        {
            if (pending && server == nullptr)
            {
                problems.add ("no slow loopback update server, so the update check could not be pending");
                continue;
            }

            // Failing at once: nothing listens on the site's port, so the request is refused.
            if (server != nullptr)
            {
                std::string error;
                if (!pending)
                    server->stop();
                else if (!server->isRunning() && !server->start (serverPort, error))
                    problems.add ("the slow update server did not start again: " + juce::String (error));
            }

            for (int round = 0; round < 2 * rounds && problems.isEmpty(); ++round)
            {
                const bool copyFirst = round % 2 == 1;
                const auto roundName = juce::String (pending ? "pending" : "failing") + " round " +
                                       juce::String (round + 1) + (copyFirst ? " (copy unloaded first)" : "");
                const int threadsBefore = countThreads();
                const int requestsBefore = server != nullptr ? server->getNumFeedRequests() : 0;

                HostedCopy given{plugin, library, {}, {}, {}, {}, {}};
                HostedCopy copy{{plugin.formatName, copyBundle, plugin.lv2Uri, plugin.name},
                                copyLibrary,
                                {},
                                {},
                                {},
                                {},
                                {}};
                const bool rawLv2 = arrangement == Arrangement::mixed && !plugin.isVst3();

                // VST3 modules close in the order they were opened, so open in the order of
                // unloading. The raw LV2 arrangement hosts the copy without JUCE.
                const auto unloadOrder = copyFirst ? std::array<HostedCopy*, 2>{&copy, &given}
                                                   : std::array<HostedCopy*, 2>{&given, &copy};
                juce::StringArray roundProblems;
                for (auto* hosted : unloadOrder)
                    if (!(rawLv2 && hosted == &copy) && roundProblems.isEmpty())
                        hosted->open (settings.realWindows, roundProblems);

                int windowsOpened = 0;
                if (roundProblems.isEmpty())
                {
                    given.startAudio();

                    if (rawLv2)
                        runRawLv2MixedRound (given, copy, settings.scratchFolder, copyFirst, windowsOpened,
                                             roundProblems);
                    else
                    {
                        if (arrangement == Arrangement::sideBySide)
                        {
                            copy.startAudio();
                            windowsOpened += given.openEditor (settings.realWindows) ? 1 : 0;
                        }
                        windowsOpened += copy.openEditor (settings.realWindows) ? 1 : 0;
                        const int wanted = arrangement == Arrangement::sideBySide ? 2 : 1;
                        if (windowsOpened != wanted)
                            roundProblems.add ("only " + juce::String (windowsOpened) + " of " +
                                               juce::String (wanted) + " editors opened");

                        for (const auto* hosted : {&given, &copy})
                            if (hosted->instance != nullptr && !isLibraryMapped (hosted->library))
                                roundProblems.add (hosted->library.getFullPathName() +
                                                   " is not mapped while its instance exists");
                    }
                }

                // Pending: every window's request has reached the slow server and hangs there.
                if (pending && roundProblems.isEmpty())
                {
                    const auto deadline = juce::Time::getMillisecondCounter() + timeScale * 3000;
                    while (server->getNumFeedRequests() < requestsBefore + windowsOpened &&
                           juce::Time::getMillisecondCounter() < deadline)
                        pump (10);

                    if (server->getNumFeedRequests() >= requestsBefore + windowsOpened &&
                        server->getNumOpenConnections() > 0)
                        ++pendingRounds;
                }
                else
                {
                    pump (60);
                }

                for (auto* hosted : unloadOrder)
                    hosted->close (roundProblems);

                if (plugin.isVst3())
                    unloadCachedVst3Modules();

                // Every thread either copy started must end with it: one left behind would run
                // in unmapped code.
                const auto deadline = juce::Time::getMillisecondCounter() + timeScale * 2000;
                pump (10);
                while (countThreads() > threadsBefore && juce::Time::getMillisecondCounter() < deadline)
                    pump (10);

                if (const int left = countThreads() - threadsBefore; left > 0)
                    roundProblems.add (juce::String (left) + " more threads than before the round");

                for (const auto& file : {library, copyLibrary})
                    if (isLibraryMapped (file))
                        roundProblems.add (file.getFullPathName() + " is still mapped");

                for (const auto& problem : roundProblems)
                    problems.add (roundName + ": " + problem);
                ++roundsRun;
            }
        }

        if (server != nullptr && problems.isEmpty() && pendingRounds < 2 * rounds)
            problems.add ("the update check was pending in only " + juce::String (pendingRounds) + " of " +
                          juce::String (2 * rounds) + " pending rounds");

        report.add (tag(),
                    (arrangement == Arrangement::mixed ? mixedTitle : sideTitle) + " (" +
                        juce::String (roundsRun) + " rounds)",
                    problems);
    }

    // The server as the other checks expect it, and the format open for anything that follows.
    if (server != nullptr && !server->isRunning())
    {
        std::string error;
        server->start (serverPort, error);
    }
    copyFolder.deleteRecursively();
    juce::StringArray reopenProblems;
    openFormat (reopenProblems);
}

} // namespace varnelle::hostcheck
