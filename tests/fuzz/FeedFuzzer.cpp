// libFuzzer target for the update check's reading of the maker's product feed: everything
// after the bytes have arrived (text, latest_version, version number, whether the banner
// shows its dot). The network side is covered by the unit tests against loopback servers.
//
// Each input is read on a thread with a 1 MiB stack, the default of a Windows thread, so an
// input that makes the JSON parser recurse deeply crashes the run instead of passing quietly
// on the main thread's larger stack.
//
// Setting VARNELLE_FUZZ_WRITE_SEEDS=<dir> makes the binary write its seed corpus into <dir>
// and exit instead of fuzzing.

#include "SeedRequest.h"
#include "editor/UpdateCheck.h"

#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
using namespace varnelle::editor;

constexpr size_t readerStackBytes = 1024 * 1024;

[[noreturn]] void fail (const char* what, const juce::String& detail = {})
{
    std::fprintf (stderr, "\n*** varnelle_feed_fuzzer: invariant broken: %s %s\n", what, detail.toRawUTF8());
    std::fflush (stderr);
    __builtin_trap();
}

struct Job
{
    const std::uint8_t* data;
    size_t size;
};

void* readFeed (void* argument)
{
    const auto& job = *static_cast<const Job*> (argument);
    const auto result = evaluateFeed (job.data, job.size, "1.2.0");

    // The same bytes give the same answer, and a version the feed names decides it alone.
    if (evaluateFeed (job.data, job.size, "1.2.0") != result)
        fail ("two readings of one feed disagree");

    if (job.size <= (size_t)updateCheckLimits::maxFeedBytes)
    {
        const auto latest = readLatestVersion (feedTextFromBytes (job.data, job.size));
        const bool named = latest.isNotEmpty();
        if (named != (result != UpdateCheckResult::failed))
            fail ("a feed that names a version failed, or one that names none did not:", latest);
        if (named && (result == UpdateCheckResult::newerVersion) !=
                         isNewerVersion (parseVersion (latest), parseVersion ("1.2.0")))
            fail ("the dot disagrees with the version the feed names:", latest);
    }
    return nullptr;
}

void writeSeed (const juce::File& dir, const char* name, const juce::String& text)
{
    const auto file = dir.getChildFile (name);
    if (!file.replaceWithText (text, false, false, nullptr))
        fail ("could not write", file.getFullPathName());
}

void writeSeeds (const juce::File& dir)
{
    if (!dir.createDirectory().wasOk())
        fail ("could not create", dir.getFullPathName());

    const juce::String product = R"("products": {"varnelle": {"latest_version": "1.3.0"}})";
    writeSeed (dir, "valid-feed", "{" + product + "}");
    writeSeed (dir, "older-version", R"({"products": {"varnelle": {"latest_version": "1.1.9"}}})");
    writeSeed (dir, "number-version", R"({"products": {"varnelle": {"latest_version": 2}}})");
    writeSeed (dir, "single-quotes",
               R"({"products": {"varnelle": {"latest_version": '1.3.0'}}, "n": 'it\'s'})");
    writeSeed (dir, "escapes-and-minus", R"({"a": "\"[\\\u005b", "b": [-1, -2.5e-3, - 4], )" + product + "}");
    writeSeed (dir, "many-products",
               R"({"products": {"other": {"latest_version": "9.9", "notes": ["a", {"b": [1, [2]]}]}, )"
               R"("varnelle": {"latest_version": "1.2.0", "min_host": {"x": [true, false, null]}}}})");
    writeSeed (dir, "nested-arrays",
               juce::String::repeatedString ("[", 30000) + juce::String::repeatedString ("]", 30000));
    writeSeed (dir, "nested-objects",
               juce::String::repeatedString ("{\"a\":", 6000) + "1" +
                   juce::String::repeatedString ("}", 6000));
    writeSeed (dir, "nested-behind-single-quote",
               "{\"x\":['\"'," + juce::String::repeatedString ("[", 60000));
    writeSeed (dir, "nested-behind-minus", "[" + juce::String::repeatedString ("-],[", 15000));
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    writeSeedsAndExitIfAsked ([] (const juce::File& dir) { writeSeeds (dir); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    Job job{data, size};
    pthread_attr_t attributes;
    pthread_attr_init (&attributes);
    pthread_attr_setstacksize (&attributes, readerStackBytes);
    pthread_t reader;
    if (pthread_create (&reader, &attributes, readFeed, &job) != 0)
        fail ("could not start the reading thread");
    pthread_join (reader, nullptr);
    pthread_attr_destroy (&attributes);
    return 0;
}
