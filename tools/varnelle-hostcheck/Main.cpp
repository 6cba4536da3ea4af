// varnelle-hostcheck: loads the built Varnelle VST3 and LV2 bundles through JUCE's own plug-in
// hosts, headless, and checks what a host sees. One line per check, then "N passed, N failed";
// the exit status is 1 if any check failed.

#include "AllocationCounter.h"
#include "PluginChecks.h"
#include "SlowLoopbackServer.h"
#include "XErrorHandling.h"

#include <juce_events/juce_events.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#ifndef VARNELLE_HOSTCHECK_MAKER_SITE
#error "VARNELLE_HOSTCHECK_MAKER_SITE must be defined by the build"
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool builtWithSanitizer = true;
#else
constexpr bool builtWithSanitizer = false;
#endif

#if defined(__SANITIZE_ADDRESS__)
// JUCE 7.0.5's LV2 host leaks inside its bundled lilv whenever a world scans folders again: the
// plug-in classes and the LV2_PATH option are replaced without being freed. Those are leaks of
// the host library, not of this tool or of the plug-ins (neither contains lilv), so
// LeakSanitizer is told to ignore exactly these two allocation sites.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:lilv_world_load_plugin_classes\n"
           "leak:lilv_world_set_option\n";
}
#endif

namespace
{
const char* const usageText = R"(usage: varnelle-hostcheck [options]

Loads the built Varnelle and Varnelle Key plug-ins through JUCE's VST3 and LV2 hosts and checks them: identity,
parameters, buses, processing at six rates and many block sizes, equality with varnelle-render,
automation, state, the editor, allocations on the audio thread and repeated loading/unloading.

  --vst3 PATH              a VST3 bundle to check (Varnelle.vst3 or "Varnelle Key.vst3");
                           may be given more than once
  --lv2 PATH               an LV2 bundle to check (Varnelle.lv2 or "Varnelle Key.lv2"); may
                           be given more than once; its plug-in URI is read from its manifest
  --lv2-uri URI            the URI to look for in every LV2 bundle instead
  --renderer PATH          the varnelle-render binary to compare with (default: next to this tool)
  --presets PATH           the varnelle-presets binary whose factory preset values the LV2
                           bundle's presets must give (default: none; the check is skipped)
  --vst3-presets FOLDER    the build's .vstpreset files (FOLDER/<plug-in name>/), which must
                           give them too (default: none; the VST3's check is skipped)
  --maker-site URL         the site the plug-in's update check talks to (default: this build's
                           VARNELLE_MAKER_SITE). Editors are only opened if it is a loopback
                           address and the plug-in library carries it.
  --slow-server-port N     port of the slow loopback update server (default: the site's port
                           when the site is http://127.0.0.1:PORT; 0: no server)
  --home DIR               run with HOME in DIR instead of an empty scratch folder, so that what
                           is installed there (DIR/.lv2, DIR/.vst3) takes part as it would for a
                           user; the checks then stop at any other copy of Varnelle they meet
  --no-editor              skip the editor checks
  --rounds N               editor open/close and load/unload rounds (default 20; the two-copies
                           check runs half as many per unloading order)
  --seed N                 seed of the random signals, block sizes and automation (default 1)
  --sanitizer-build        the plug-ins and this tool come from a sanitizer build: waits for the
                           plug-in's threads are four times longer (implied when this tool is
                           itself built with a sanitizer)
  --help                   this text

Editors get a real window when DISPLAY is set (run under `xvfb-run -a`); without one they are
created and destroyed without a window. HOME and the XDG folders point at a scratch folder for
the run, so that installed plug-ins and the user's presets stay out of it. The checks run only
on the bundles given: if the host finds or maps another copy of Varnelle (one installed in the
system folders, which JUCE's LV2 host reads first), that format's checks stop with a failure
naming it.

Sanitizer builds: configure with -DVARNELLE_SANITIZER=address (or `cmake --preset asan`) and
build Varnelle_VST3, Varnelle_LV2, varnelle-render and varnelle-hostcheck there; the checks then
run under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer, allocations are
counted through the sanitizer's allocator hooks, and a leak anywhere in the process (this tool
or the plug-ins) fails the run at exit; only two known leaks inside JUCE's bundled lilv (the LV2
host) are suppressed.
)";

struct Options
{
    juce::StringArray vst3, lv2;
    juce::String lv2Uri, renderer, presets, vst3Presets, home;
    juce::String makerSite = VARNELLE_HOSTCHECK_MAKER_SITE;
    int slowServerPort = -1; // -1: from the maker site
    bool noEditor = false, sanitizerBuild = builtWithSanitizer, help = false;
    juce::int64 seed = 1;
    int rounds = 20;
};

bool parseInteger (const std::string& text, juce::int64 low, juce::int64 high, juce::int64& result)
{
    if (text.empty() || text.find_first_not_of ("0123456789") != std::string::npos || text.size() > 12)
        return false;

    result = std::stoll (text);
    return result >= low && result <= high;
}

bool parseOptions (int argc, char** argv, Options& options, std::string& error)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        auto value = [&] (std::string& out)
        {
            if (i + 1 >= argc)
            {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };

        std::string text;
        juce::int64 number = 0;

        if (arg == "--help" || arg == "-h")
            options.help = true;
        else if (arg == "--no-editor")
            options.noEditor = true;
        else if (arg == "--sanitizer-build")
            options.sanitizerBuild = true;
        else if (arg == "--vst3" || arg == "--lv2" || arg == "--lv2-uri" || arg == "--renderer" ||
                 arg == "--presets" || arg == "--vst3-presets" || arg == "--maker-site" || arg == "--home")
        {
            if (!value (text))
                return false;

            const auto s = juce::String::fromUTF8 (text.c_str());
            if (arg == "--vst3")
                options.vst3.add (s);
            else if (arg == "--lv2")
                options.lv2.add (s);
            else if (arg == "--lv2-uri")
                options.lv2Uri = s;
            else if (arg == "--renderer")
                options.renderer = s;
            else if (arg == "--presets")
                options.presets = s;
            else if (arg == "--vst3-presets")
                options.vst3Presets = s;
            else if (arg == "--home")
                options.home = s;
            else
                options.makerSite = s;
        }
        else if (arg == "--slow-server-port" || arg == "--rounds" || arg == "--seed")
        {
            if (!value (text))
                return false;

            const bool isPort = arg == "--slow-server-port";
            const bool isRounds = arg == "--rounds";
            if (!parseInteger (text, isRounds ? 1 : 0,
                               isPort ? 65535 : (isRounds ? 1000 : (juce::int64)1 << 40), number))
            {
                error = arg + " takes a number" +
                        (isPort ? " from 0 to 65535" : (isRounds ? " from 1 to 1000" : ""));
                return false;
            }

            if (isPort)
                options.slowServerPort = (int)number;
            else if (isRounds)
                options.rounds = (int)number;
            else
                options.seed = number;
        }
        else
        {
            error = "unknown option " + arg + " (see --help)";
            return false;
        }
    }

    if (!options.help && options.vst3.isEmpty() && options.lv2.isEmpty())
    {
        error = "give --vst3 PATH and/or --lv2 PATH (see --help)";
        return false;
    }

    return true;
}

/** The parts of the maker's site that decide whether an editor may be opened. */
struct Site
{
    juce::String scheme, host;
    int port = 0;
    bool isLoopback = false;
};

bool isIPv4Loopback (const juce::String& host)
{
    juce::StringArray parts;
    parts.addTokens (host, ".", "");

    if (parts.size() != 4 || parts[0] != "127")
        return false;

    for (const auto& part : parts)
        if (part.isEmpty() || part.length() > 3 || !part.containsOnly ("0123456789") ||
            part.getIntValue() > 255)
            return false;

    return true;
}

Site parseSite (const juce::String& url)
{
    Site site;
    site.scheme = url.upToFirstOccurrenceOf ("://", false, false).toLowerCase();
    const auto authority =
        url.fromFirstOccurrenceOf ("://", false, false).upToFirstOccurrenceOf ("/", false, false);
    juce::String portText;

    if (authority.startsWith ("["))
    {
        site.host = authority.substring (1).upToFirstOccurrenceOf ("]", false, false);
        portText = authority.fromFirstOccurrenceOf ("]:", false, false);
    }
    else
    {
        site.host = authority.upToFirstOccurrenceOf (":", false, false);
        portText = authority.fromFirstOccurrenceOf (":", false, false);
    }

    site.port = portText.isNotEmpty() ? portText.getIntValue() : (site.scheme == "https" ? 443 : 80);
    site.isLoopback = (site.scheme == "http" || site.scheme == "https") &&
                      (isIPv4Loopback (site.host) || site.host == "::1");
    return site;
}

/** The URI of the plug-in an LV2 bundle's manifest declares ("<URI> a lv2:Plugin"); empty if
    it declares none, which the loading check then reports. */
juce::String readLv2PluginUri (const juce::File& bundle)
{
    const auto manifest = bundle.getChildFile ("manifest.ttl").loadFileAsString();
    for (int end = manifest.indexOf ("a lv2:Plugin"); end > 0;
         end = manifest.indexOf (end + 1, "a lv2:Plugin"))
    {
        const auto before = manifest.substring (0, end).trimEnd();
        if (before.endsWithChar ('>'))
            return before.fromLastOccurrenceOf ("<", false, false).dropLastCharacters (1);
    }
    return {};
}

/** Points HOME and the XDG folders at a fresh scratch folder, so that neither plug-ins
    installed for the user (JUCE's LV2 host always scans ~/.lv2) nor the user's presets take
    part, and nothing of the run is left in the user's folders. Before JUCE starts. */
std::string makeScratchEnvironment()
{
    char pattern[] = "/tmp/varnelle-hostcheck-XXXXXX";
    const char* folder = ::mkdtemp (pattern);
    if (folder == nullptr)
        return {};

    const std::string root = folder;

    // Keep the X server reachable when its cookie was only found through the old HOME.
    if (std::getenv ("XAUTHORITY") == nullptr)
        if (const char* oldHome = std::getenv ("HOME"))
            if (::access ((std::string (oldHome) + "/.Xauthority").c_str(), R_OK) == 0)
                ::setenv ("XAUTHORITY", (std::string (oldHome) + "/.Xauthority").c_str(), 1);

    for (const char* sub : {"/home", "/home/.config", "/home/.local", "/home/.local/share", "/home/.cache"})
        ::mkdir ((root + sub).c_str(), 0700);

    ::setenv ("HOME", (root + "/home").c_str(), 1);
    ::setenv ("XDG_CONFIG_HOME", (root + "/home/.config").c_str(), 1);
    ::setenv ("XDG_DATA_HOME", (root + "/home/.local/share").c_str(), 1);
    ::setenv ("XDG_CACHE_HOME", (root + "/home/.cache").c_str(), 1);
    return root;
}

int runChecks (const Options& options, const std::string& scratch)
{
    using namespace varnelle::hostcheck;

    CheckReport report;
    const char* display = std::getenv ("DISPLAY");
    const bool realWindows = display != nullptr && *display != 0;

    if (realWindows)
    {
        installCountingXErrorHandler();
        // Without these atoms JUCE's window requests fail with BadAtom, which would then be
        // blamed on the plug-ins.
        juce::StringArray problems;
        if (!createWindowManagerAtoms())
            problems.add ("could not open DISPLAY=" + juce::String (display) + " through libX11");
        report.add ("host", "window manager atoms created on the display", problems);
    }

    const auto site = parseSite (options.makerSite);

    CheckSettings settings;
    settings.seed = options.seed;
    settings.editorRounds = options.rounds;
    settings.loadUnloadRounds = options.rounds;
    settings.twoCopiesRounds = std::max (1, options.rounds / 2);
    settings.realWindows = realWindows;
    settings.waitScale = options.sanitizerBuild ? 4 : 1;
    settings.makerSite = options.makerSite;
    settings.scratchFolder = juce::File (juce::String::fromUTF8 (scratch.c_str()));
    if (options.presets.isNotEmpty())
        settings.presetTool = juce::File::getCurrentWorkingDirectory().getChildFile (options.presets);
    if (options.vst3Presets.isNotEmpty())
        settings.vst3PresetFolder =
            juce::File::getCurrentWorkingDirectory().getChildFile (options.vst3Presets);
    settings.renderer = options.renderer.isNotEmpty()
                            ? juce::File::getCurrentWorkingDirectory().getChildFile (options.renderer)
                            : juce::File::getSpecialLocation (juce::File::currentExecutableFile)
                                  .getParentDirectory()
                                  .getSiblingFile ("varnelle-render");

    settings.editorAllowed = !options.noEditor && site.isLoopback;
    settings.editorRefusal = options.noEditor
                                 ? "--no-editor"
                                 : "the editor's update check would contact " + options.makerSite +
                                       "; build with -DVARNELLE_MAKER_SITE=http://127.0.0.1:PORT";

    // The slow server only speaks plain HTTP, on 127.0.0.1.
    const int defaultPort =
        (site.isLoopback && site.scheme == "http" && site.host == "127.0.0.1") ? site.port : 0;
    const int serverPort = options.slowServerPort >= 0 ? options.slowServerPort : defaultPort;

    SlowLoopbackServer server;
    if (settings.editorAllowed && serverPort > 0)
    {
        std::string error;
        if (server.start (serverPort, error))
            settings.updateServer = &server;
        else
            report.add ("host", "slow loopback update server on 127.0.0.1:" + juce::String (serverPort),
                        {juce::String (error)});
    }

    report.note (
        "varnelle-hostcheck: seed " + juce::String (options.seed) + "; allocations counted by " +
        getAllocationCountingMethod() + "; editors " +
        (realWindows ? "in windows on DISPLAY=" + juce::String (display) : juce::String ("without windows")) +
        "; maker site " + options.makerSite +
        (settings.updateServer != nullptr ? "; slow update server on 127.0.0.1:" + juce::String (serverPort)
                                          : juce::String()));

    std::vector<PluginUnderTest> plugins;
    auto resolve = [] (const juce::String& path)
    { return juce::File::getCurrentWorkingDirectory().getChildFile (path); };
    for (const auto& path : options.vst3)
        plugins.push_back ({"VST3", resolve (path), {}, resolve (path).getFileNameWithoutExtension()});
    for (const auto& path : options.lv2)
    {
        const auto bundle = resolve (path);
        const auto uri = options.lv2Uri.isNotEmpty() ? options.lv2Uri : readLv2PluginUri (bundle);
        plugins.push_back ({"LV2", bundle, uri, bundle.getFileNameWithoutExtension()});
    }

    for (const auto& plugin : plugins)
    {
        const auto started = juce::Time::getMillisecondCounterHiRes();
        const int xErrorsBefore = getNumXErrors();
        {
            PluginChecker checker (plugin, settings, report);
            checker.runAll();
        }

        // With the window manager's atoms in place, an X error means a request on a window that
        // is gone or was never valid: a teardown or drawing fault in the host or the plug-in.
        if (realWindows && settings.editorAllowed)
        {
            const int xErrors = getNumXErrors() - xErrorsBefore;
            juce::StringArray problems;
            if (xErrors > 0)
                problems.add (juce::String (xErrors) +
                              " X errors so far: " + juce::String (describeXErrors()));
            report.add (plugin.name + " " + plugin.formatName,
                        "no X errors while its editors opened, drew and closed", problems);
        }
        report.note ("[" + plugin.name + " " + plugin.formatName + "] checks took " +
                     juce::String ((juce::Time::getMillisecondCounterHiRes() - started) / 1000.0, 1) + " s");
    }

    server.stop();

    std::cout << report.getNumPassed() << " passed, " << report.getNumFailed() << " failed" << std::endl;
    return report.getNumFailed();
}
} // namespace

int main (int argc, char** argv)
{
    Options options;
    std::string error;

    if (!parseOptions (argc, argv, options, error))
    {
        std::cerr << "varnelle-hostcheck: " << error << std::endl;
        return 2;
    }

    if (options.help)
    {
        std::cout << usageText;
        return 0;
    }

    const auto scratch = makeScratchEnvironment();
    if (scratch.empty())
    {
        std::cerr << "varnelle-hostcheck: cannot create a scratch folder in /tmp" << std::endl;
        return 2;
    }

    if (options.home.isNotEmpty())
    {
        const auto home = juce::File::getCurrentWorkingDirectory().getChildFile (options.home);
        if (!home.isDirectory())
        {
            std::cerr << "varnelle-hostcheck: --home " << options.home << " is no folder" << std::endl;
            return 2;
        }
        ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
    }

    int failed = 0;
    {
        // A real message loop: the VST3 host, the plug-ins' editors and their update checks
        // all post to it.
        const juce::ScopedJuceInitialiser_GUI juceInitialiser;
        failed = runChecks (options, scratch);
        juce::File (juce::String::fromUTF8 (scratch.c_str())).deleteRecursively();
    }

    return failed > 0 ? 1 : 0;
}
