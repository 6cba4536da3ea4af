#include "editor/BannerImage.h"
#include "editor/TopBar.h"
#include "editor/UpdateCheck.h"
#include "engine/VarnelleAudioProcessor.h"
#include "helpers/MessagePump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <mutex>
#include <thread>

#if JUCE_LINUX || JUCE_MAC
#include <sys/socket.h>
#endif

using namespace varnelle::editor;
using Clock = std::chrono::steady_clock;

namespace
{

double secondsSince (Clock::time_point start)
{
    return std::chrono::duration<double> (Clock::now() - start).count();
}

/** Sends everything, without SIGPIPE when the client has gone. False once the peer is gone. */
bool sendAll (juce::StreamingSocket& socket, const void* data, size_t size)
{
    auto* p = static_cast<const char*> (data);

    while (size > 0)
    {
        if (socket.waitUntilReady (false, 2000) != 1)
            return false;
#if defined(MSG_NOSIGNAL)
        const auto n = ::send (socket.getRawSocketHandle(), p, size, MSG_NOSIGNAL);
#else
        const auto n = socket.write (p, (int)size);
#endif
        if (n <= 0)
            return false;
        p += n;
        size -= (size_t)n;
    }

    return true;
}

bool sendText (juce::StreamingSocket& socket, const juce::String& text)
{
    return sendAll (socket, text.toRawUTF8(), text.getNumBytesAsUTF8());
}

/** A plain-HTTP server on 127.0.0.1 with an ephemeral port, one connection at a time on its own
    thread. Each request is answered by the test's handler; the thread stops when the server is
    destroyed, and on its own after a minute at most. */
class LoopbackServer
{
public:
    /** Answers one request; `stop` tells long-running handlers to give up. */
    using Handler = std::function<void (juce::StreamingSocket& client, const juce::String& path,
                                        const std::atomic<bool>& stop)>;

    explicit LoopbackServer (Handler handlerToUse) : handler (std::move (handlerToUse))
    {
        if (!listener.createListener (0, "127.0.0.1"))
            throw std::runtime_error ("cannot listen on 127.0.0.1");
        thread = std::thread ([this] { run(); });
    }

    ~LoopbackServer()
    {
        stop = true;
        thread.join();
        listener.close();
    }

    juce::String getBaseUrl() const { return "http://127.0.0.1:" + juce::String (listener.getBoundPort()); }
    int getPort() const { return listener.getBoundPort(); }

    juce::StringArray getRequestLines() const
    {
        const std::lock_guard<std::mutex> lock (mutex);
        return requestLines;
    }

    int getNumRequests() const { return getRequestLines().size(); }

private:
    void run()
    {
        const auto start = Clock::now();

        while (!stop && secondsSince (start) < 60.0)
        {
            if (listener.waitUntilReady (true, 20) != 1)
                continue;

            const std::unique_ptr<juce::StreamingSocket> client (listener.waitForNextConnection());

            if (client == nullptr)
                continue;

            const auto requestLine = readRequestLine (*client);

            {
                const std::lock_guard<std::mutex> lock (mutex);
                requestLines.add (requestLine);
            }

            handler (*client,
                     requestLine.fromFirstOccurrenceOf (" ", false, false)
                         .upToFirstOccurrenceOf (" ", false, false),
                     stop);
            client->close();
        }
    }

    /** Reads the request head (up to a blank line) and returns its first line. */
    static juce::String readRequestLine (juce::StreamingSocket& client)
    {
        juce::MemoryOutputStream head;
        char c = 0;

        while (head.getDataSize() < 16384 && client.waitUntilReady (true, 2000) == 1 &&
               client.read (&c, 1, true) == 1)
        {
            head.writeByte (c);
            if (head.toString().endsWith ("\r\n\r\n"))
                break;
        }

        return head.toString().upToFirstOccurrenceOf ("\r\n", false, false);
    }

    Handler handler;
    juce::StreamingSocket listener;
    std::atomic<bool> stop{false};
    mutable std::mutex mutex;
    juce::StringArray requestLines;
    std::thread thread;
};

juce::String httpResponse (int status, const juce::String& body, const juce::String& extraHeaders = {})
{
    const auto reason = status == 200 ? "OK" : status == 302 ? "Found" : "Error";
    return "HTTP/1.1 " + juce::String (status) + " " + reason +
           "\r\nContent-Type: application/json\r\nContent-Length: " +
           juce::String ((int)body.getNumBytesAsUTF8()) + "\r\nConnection: close\r\n" + extraHeaders +
           "\r\n" + body;
}

/** A handler that answers every request with `status` and `body`. */
LoopbackServer::Handler serve (const juce::String& body, int status = 200)
{
    return [body, status] (juce::StreamingSocket& client, const juce::String&, const std::atomic<bool>&)
    { sendText (client, httpResponse (status, body)); };
}

juce::String feedWithVersion (const juce::String& versionJson)
{
    return R"({"products": {"other": {"latest_version": "9.9.9"}, "varnelle": {"latest_version": )" +
           versionJson + R"(, "notes": "ignored"}}, "generated": 1})";
}

/** Waits, keeping the stall going, until the client gives up or the server stops. */
void holdUntilClientLeaves (juce::StreamingSocket& client, const std::atomic<bool>& stop)
{
    const auto start = Clock::now();
    char c;

    while (!stop && secondsSince (start) < 30.0)
        if (client.waitUntilReady (true, 20) == 1 && client.read (&c, 1, false) <= 0)
            return;
}

using varnelle::test::pumpMessagesFor;
using varnelle::test::pumpMessagesUntil;

} // namespace

// --- Version numbers -----------------------------------------------------------------------

namespace
{
::testing::AssertionResult parsesAs (const char* text, int major, int minor, int patch)
{
    const auto v = parseVersion (text);
    if (v.major == major && v.minor == minor && v.patch == patch)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "\"" << text << "\" parsed as " << v.major << "." << v.minor << "." << v.patch;
}

bool newer (const char* candidate, const char* current = "1.2.0")
{
    return isNewerVersion (parseVersion (candidate), parseVersion (current));
}
} // namespace

TEST (UpdateCheckVersion, PartsAreReadAsIntegersFromTheDottedText)
{
    EXPECT_TRUE (parsesAs ("1.2.0", 1, 2, 0));
    EXPECT_TRUE (parsesAs ("1.2.10", 1, 2, 10));
    EXPECT_TRUE (parsesAs ("1.2", 1, 2, 0));
    EXPECT_TRUE (parsesAs ("2", 2, 0, 0));
    EXPECT_TRUE (parsesAs ("1.2.0.1", 1, 2, 0));
    EXPECT_TRUE (parsesAs ("", 0, 0, 0));
    EXPECT_TRUE (parsesAs ("...", 0, 0, 0));

    // Empty parts are dropped before counting.
    EXPECT_TRUE (parsesAs ("1..3", 1, 3, 0));
    EXPECT_TRUE (parsesAs (".1.2.3.", 1, 2, 3));

    // Leading white space and a sign are allowed; reading stops at the first non-digit.
    EXPECT_TRUE (parsesAs (" 1. 4 .\t7", 1, 4, 7));
    EXPECT_TRUE (parsesAs ("+2.-1.0", 2, -1, 0));
    EXPECT_TRUE (parsesAs ("1.3.0-beta2", 1, 3, 0));
    EXPECT_TRUE (parsesAs ("1.2.3rc", 1, 2, 3));

    // A leading letter makes the part 0; garbage reads as zeros.
    EXPECT_TRUE (parsesAs ("v1.3", 0, 3, 0));
    EXPECT_TRUE (parsesAs ("garbage", 0, 0, 0));
    EXPECT_TRUE (parsesAs ("1.x.5", 1, 0, 5));
}

TEST (UpdateCheckVersion, HugeNumbersSaturateInsteadOfWrapping)
{
    // 4294967297 would wrap to 1 in 32 bits; 99999999999 to a large but arbitrary value.
    EXPECT_TRUE (parsesAs ("4294967297.0.0", INT_MAX, 0, 0));
    EXPECT_TRUE (parsesAs ("1.99999999999999999999999.0", 1, INT_MAX, 0));
    EXPECT_TRUE (parsesAs ("-4294967297", INT_MIN, 0, 0));
    EXPECT_TRUE (parsesAs ("2147483647.2147483648.-2147483648", INT_MAX, INT_MAX, INT_MIN));

    EXPECT_TRUE (newer ("4294967297.0.0"));
    EXPECT_TRUE (newer ("1.2.4294967296")); // wrapped, this would read as 1.2.0, not newer
    EXPECT_TRUE (newer ("1.2.4294967296", "1.2.5"));
}

TEST (UpdateCheckVersion, NewerComparesMajorThenMinorThenPatchAsNumbers)
{
    EXPECT_TRUE (newer ("1.2.1"));
    EXPECT_TRUE (newer ("1.3"));
    EXPECT_TRUE (newer ("2"));
    EXPECT_TRUE (newer ("1.10.0"));
    EXPECT_TRUE (newer ("1.2.10", "1.2.9"));
    EXPECT_TRUE (newer ("2.0.0", "1.99.99"));

    EXPECT_FALSE (newer ("1.2.0"));
    EXPECT_FALSE (newer ("1.2"));
    EXPECT_FALSE (newer ("1.2.0.1"));
    EXPECT_FALSE (newer ("1.1.99"));
    EXPECT_FALSE (newer ("0.99.0"));
    EXPECT_FALSE (newer ("v1.3"));
    EXPECT_FALSE (newer ("garbage"));
    EXPECT_FALSE (newer ("1.2.9", "1.2.10"));

    // Signed comparison: a negative part is older, a later major wins whatever follows.
    EXPECT_FALSE (newer ("1.-1.5"));
    EXPECT_TRUE (newer ("2.-5.-5"));
    EXPECT_FALSE (newer ("-3.0.0", "0.0.0"));
}

TEST (UpdateCheckVersion, OwnVersionAndSite)
{
    EXPECT_EQ (getOwnVersion(), "1.2.0");

    const auto site = getMakerSiteUrl();
    EXPECT_TRUE (site.startsWith ("https://") || site.startsWith ("http://")) << site;
    EXPECT_FALSE (site.endsWith ("/")) << site;

    EXPECT_EQ (makeSiteAddress ("https://example.invalid", "/products.json"),
               "https://example.invalid/products.json");
    EXPECT_EQ (makeSiteAddress (" http://127.0.0.1:9// ", "/products.json"),
               "http://127.0.0.1:9/products.json");
}

// --- Reading the feed document -------------------------------------------------------------

TEST (UpdateCheckFeed, LatestVersionIsReadFromProductsVarnelle)
{
    EXPECT_EQ (readLatestVersion (feedWithVersion ("\"1.3.0\"")), "1.3.0");
    EXPECT_EQ (readLatestVersion (feedWithVersion ("\"  2.0.1 \\n\"")), "2.0.1");
    EXPECT_EQ (readLatestVersion (feedWithVersion ("1.3")), "1.3");
    EXPECT_EQ (readLatestVersion (feedWithVersion ("2")), "2");
    EXPECT_TRUE (newer (readLatestVersion (feedWithVersion ("1.3")).toRawUTF8()));
}

TEST (UpdateCheckFeed, MissingLevelsWrongTypesAndNonJsonGiveNothing)
{
    const char* const documents[] = {
        "",
        "not json at all",
        "{\"products\": {\"varnelle\": {\"latest_version\": \"1.3.0\"}",     // truncated
        "[{\"products\": {\"varnelle\": {\"latest_version\": \"1.3.0\"}}}]", // array at the top
        "\"1.3.0\"",
        "{}",
        "{\"product\": {\"varnelle\": {\"latest_version\": \"1.3.0\"}}}",
        "{\"products\": [{\"varnelle\": {\"latest_version\": \"1.3.0\"}}]}",
        "{\"products\": \"varnelle\"}",
        "{\"products\": {\"Varnelle\": {\"latest_version\": \"1.3.0\"}}}",
        "{\"products\": {\"other\": {\"latest_version\": \"1.3.0\"}}}",
        "{\"products\": {\"varnelle\": \"1.3.0\"}}",
        "{\"products\": {\"varnelle\": {\"latestVersion\": \"1.3.0\"}}}",
    };

    for (const auto* doc : documents)
        EXPECT_EQ (readLatestVersion (doc), "") << doc;

    // A latest_version that is present but has no version-like text.
    for (const auto* value : {"\"\"", "\"   \"", "null", "true", "{\"major\": 2}", "[2, 0, 0]"})
        EXPECT_EQ (readLatestVersion (feedWithVersion (value)), "") << value;
}

// --- The request, against a loopback server ------------------------------------------------

TEST (UpdateCheckRequest, ANewerVersionIsReportedAndTheFeedPathIsRequestedWithGet)
{
    LoopbackServer server (serve (feedWithVersion ("\"1.3.0\"")));
    EXPECT_EQ (runUpdateCheck (server.getBaseUrl()), UpdateCheckResult::newerVersion);

    const auto requests = server.getRequestLines();
    ASSERT_EQ (requests.size(), 1);
    EXPECT_EQ (requests[0], "GET /products.json HTTP/1.1");

    // A trailing slash on the base makes no double slash.
    EXPECT_EQ (runUpdateCheck (server.getBaseUrl() + "/"), UpdateCheckResult::newerVersion);
    EXPECT_EQ (server.getRequestLines()[1], "GET /products.json HTTP/1.1");
}

TEST (UpdateCheckRequest, TheSameOrAnOlderVersionIsNotNewer)
{
    for (const auto* version : {"\"1.2.0\"", "\"1.2\"", "\"1.1.9\"", "\"v1.3\"", "1.2", "\"1.2.0.1\""})
    {
        LoopbackServer server (serve (feedWithVersion (version)));
        EXPECT_EQ (runUpdateCheck (server.getBaseUrl()), UpdateCheckResult::notNewer) << version;
    }

    for (const auto* version : {"\"1.2.1\"", "\"1.10.0\"", "\"2\"", "1.3", "2"})
    {
        LoopbackServer server (serve (feedWithVersion (version)));
        EXPECT_EQ (runUpdateCheck (server.getBaseUrl()), UpdateCheckResult::newerVersion) << version;
    }
}

TEST (UpdateCheckRequest, TheOwnVersionComesFromTheCaller)
{
    LoopbackServer server (serve (feedWithVersion ("\"1.3.0\"")));
    EXPECT_EQ (runUpdateCheck (server.getBaseUrl(), "1.3.0"), UpdateCheckResult::notNewer);
    EXPECT_EQ (runUpdateCheck (server.getBaseUrl(), " 1.2.9 "), UpdateCheckResult::newerVersion);
}

TEST (UpdateCheckRequest, MalformedFeedsFail)
{
    for (const auto* body :
         {"<html>maintenance</html>", "{\"products\": {\"varnelle\": {\"latest_version\": ",
          "{\"products\": {\"other\": {\"latest_version\": \"2.0.0\"}}}",
          "{\"products\": {\"varnelle\": {\"latest_version\": {\"v\": \"2.0.0\"}}}}",
          "{\"products\": {\"varnelle\": {\"latest_version\": \"  \"}}}", ""})
    {
        LoopbackServer server (serve (body));
        EXPECT_EQ (runUpdateCheck (server.getBaseUrl()), UpdateCheckResult::failed) << body;
        EXPECT_EQ (server.getNumRequests(), 1);
    }
}

TEST (UpdateCheckRequest, AnErrorStatusFailsEvenWithAFeedInTheBody)
{
    for (const int status : {404, 500, 403})
    {
        LoopbackServer server (serve (feedWithVersion ("\"1.3.0\""), status));
        EXPECT_EQ (runUpdateCheck (server.getBaseUrl()), UpdateCheckResult::failed) << status;
    }
}

TEST (UpdateCheckRequest, UpToThreeRedirectsAreFollowedAndAFourthFails)
{
    // /hop/<n>/products.json redirects to /hop/<n - 1>/products.json; /hop/0/ serves the feed.
    auto handler = [] (juce::StreamingSocket& client, const juce::String& path, const std::atomic<bool>&)
    {
        const auto hops = path.fromFirstOccurrenceOf ("/hop/", false, false).getIntValue();

        if (hops == 0)
        {
            sendText (client, httpResponse (200, feedWithVersion ("\"1.3.0\"")));
            return;
        }

        const auto next = "/hop/" + juce::String (hops - 1) + "/products.json";
        sendText (client, httpResponse (302, "moved", "Location: " + next + "\r\n"));
    };

    for (int hops = 0; hops <= 4; ++hops)
    {
        LoopbackServer server (handler);
        const auto result = runUpdateCheck (server.getBaseUrl() + "/hop/" + juce::String (hops));

        if (hops <= 3)
        {
            EXPECT_EQ (result, UpdateCheckResult::newerVersion) << hops;
            EXPECT_EQ (server.getNumRequests(), hops + 1);
        }
        else
        {
            EXPECT_EQ (result, UpdateCheckResult::failed) << hops;
            EXPECT_LE (server.getNumRequests(), hops + 1);
        }
    }
}

TEST (UpdateCheckRequest, AFeedOver64KiBFailsWhileOneJustUnderIsRead)
{
    const auto padded = [] (int totalBytes)
    {
        const auto start =
            juce::String (R"({"products": {"varnelle": {"latest_version": "1.3.0"}}, "pad": ")");
        const auto end = juce::String ("\"}");
        return start + juce::String::repeatedString ("x", totalBytes - start.length() - end.length()) + end;
    };

    {
        LoopbackServer server (serve (padded (64 * 1024)));
        EXPECT_EQ (runUpdateCheck (server.getBaseUrl()), UpdateCheckResult::newerVersion);
    }
    {
        LoopbackServer server (serve (padded (64 * 1024 + 1)));
        EXPECT_EQ (runUpdateCheck (server.getBaseUrl()), UpdateCheckResult::failed);
    }
}

TEST (UpdateCheckRequest, ANeverEndingResponseFailsQuickly)
{
    LoopbackServer server (
        [] (juce::StreamingSocket& client, const juce::String&, const std::atomic<bool>& stop)
        {
            // No length: the body would run until the connection closes.
            if (!sendText (client,
                           "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n"
                           R"({"products": {"varnelle": {"latest_version": "1.3.0"}}, "pad": ")"))
                return;

            // About 4 MB/s until the client hangs up: only the size limit ends this early.
            const juce::String chunk = juce::String::repeatedString ("x", 4096);
            const auto start = Clock::now();
            while (!stop && secondsSince (start) < 30.0)
            {
                if (!sendText (client, chunk))
                    return;
                std::this_thread::sleep_for (std::chrono::milliseconds (1));
            }
        });

    const auto start = Clock::now();
    EXPECT_EQ (runUpdateCheck (server.getBaseUrl()), UpdateCheckResult::failed);
    EXPECT_LT (secondsSince (start), 5.0);
}

TEST (UpdateCheckRequest, AServerThatStallsDoesNotHoldTheCheck)
{
    // Accepts and reads the request, then says nothing.
    LoopbackServer silent ([] (juce::StreamingSocket& client, const juce::String&,
                               const std::atomic<bool>& stop) { holdUntilClientLeaves (client, stop); });

    auto start = Clock::now();
    EXPECT_EQ (runUpdateCheck (silent.getBaseUrl()), UpdateCheckResult::failed);
    EXPECT_LT (secondsSince (start), 10.0);

    // Sends the head and part of the body, then stalls.
    LoopbackServer halfway (
        [] (juce::StreamingSocket& client, const juce::String&, const std::atomic<bool>& stop)
        {
            const juce::String body = feedWithVersion ("\"1.3.0\"");
            sendText (client, httpResponse (200, body).dropLastCharacters (body.length() / 2));
            holdUntilClientLeaves (client, stop);
        });

    start = Clock::now();
    EXPECT_EQ (runUpdateCheck (halfway.getBaseUrl()), UpdateCheckResult::failed);
    EXPECT_LT (secondsSince (start), 10.0);
}

TEST (UpdateCheckRequest, ASlowTrickleIsCutOffAtTheDeadline)
{
    // Fast enough never to count as stalled, too slow to ever reach the size limit in time.
    LoopbackServer server (
        [] (juce::StreamingSocket& client, const juce::String&, const std::atomic<bool>& stop)
        {
            if (!sendText (client, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n{\"pad\": \""))
                return;

            const auto start = Clock::now();
            while (!stop && secondsSince (start) < 30.0)
            {
                if (!sendText (client, juce::String::repeatedString (" ", 100)))
                    return;
                std::this_thread::sleep_for (std::chrono::milliseconds (250));
            }
        });

    const auto start = Clock::now();
    EXPECT_EQ (runUpdateCheck (server.getBaseUrl()), UpdateCheckResult::failed);
    const auto elapsed = secondsSince (start);
    EXPECT_GE (elapsed, updateCheckLimits::requestDeadlineMs / 1000.0 - 0.5);
    EXPECT_LT (elapsed, 10.0);
}

TEST (UpdateCheckRequest, ARefusedConnectionFailsAtOnce)
{
    int closedPort = 0;
    {
        juce::StreamingSocket probe;
        ASSERT_TRUE (probe.createListener (0, "127.0.0.1"));
        closedPort = probe.getBoundPort();
    }

    const auto start = Clock::now();
    EXPECT_EQ (runUpdateCheck ("http://127.0.0.1:" + juce::String (closedPort)), UpdateCheckResult::failed);
    EXPECT_LT (secondsSince (start), 3.0);
}

// --- Background checks and their delivery --------------------------------------------------

namespace
{
/** Waits until no background check is running, then delivers what they posted. */
void finishBackgroundChecks()
{
    ASSERT_TRUE (pumpMessagesUntil ([] { return getNumRunningUpdateChecks() == 0; }, 15.0));
    pumpMessagesFor (0.2);
}
} // namespace

TEST (UpdateCheckAsync, ANewerVersionReachesTheReceiverOnTheMessageThread)
{
    LoopbackServer server (serve (feedWithVersion ("\"1.3.0\"")));
    juce::Component receiver;
    int calls = 0;
    bool onMessageThread = false;

    startUpdateCheck (
        receiver,
        [&]
        {
            ++calls;
            onMessageThread = juce::MessageManager::getInstance()->isThisTheMessageThread();
        },
        server.getBaseUrl());

    EXPECT_EQ (calls, 0) << "the result must come later, not from inside the call";
    finishBackgroundChecks();
    EXPECT_EQ (calls, 1);
    EXPECT_TRUE (onMessageThread);
}

TEST (UpdateCheckAsync, NoCallWhenTheFeedIsNotNewerOrTheCheckFails)
{
    LoopbackServer same (serve (feedWithVersion ("\"1.2.0\"")));
    LoopbackServer broken (serve ("{}"));
    juce::Component receiver;
    int calls = 0;

    startUpdateCheck (
        receiver, [&] { ++calls; }, same.getBaseUrl());
    startUpdateCheck (
        receiver, [&] { ++calls; }, broken.getBaseUrl());
    finishBackgroundChecks();
    EXPECT_EQ (calls, 0);
    EXPECT_EQ (same.getNumRequests(), 1);
    EXPECT_EQ (broken.getNumRequests(), 1);
}

TEST (UpdateCheckAsync, AResultForADeletedReceiverIsDropped)
{
    LoopbackServer server (serve (feedWithVersion ("\"1.3.0\"")));
    int calls = 0;

    // Deleted while the request runs.
    {
        auto receiver = std::make_unique<juce::Component>();
        startUpdateCheck (
            *receiver, [&] { ++calls; }, server.getBaseUrl());
    }
    finishBackgroundChecks();
    EXPECT_EQ (calls, 0);

    // Deleted after the result was posted but before it was delivered.
    {
        auto receiver = std::make_unique<juce::Component>();
        startUpdateCheck (
            *receiver, [&] { ++calls; }, server.getBaseUrl());

        const auto start = Clock::now();
        while (getNumRunningUpdateChecks() > 0 && secondsSince (start) < 15.0)
            std::this_thread::sleep_for (std::chrono::milliseconds (5)); // no message delivery meanwhile
        ASSERT_EQ (getNumRunningUpdateChecks(), 0);
    }
    finishBackgroundChecks();
    EXPECT_EQ (calls, 0);
    EXPECT_EQ (server.getNumRequests(), 2);
}

TEST (UpdateCheckAsync, ChecksStartedTogetherEachReachTheirOwnReceiver)
{
    LoopbackServer server (serve (feedWithVersion ("\"1.3.0\"")));

    // Windows opened together: their checks wait their turn, and none is lost.
    juce::Component receivers[4];
    int calls[4] = {};
    for (int i = 0; i < 4; ++i)
        startUpdateCheck (
            receivers[i], [&calls, i] { ++calls[i]; }, server.getBaseUrl());
    finishBackgroundChecks();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ (calls[i], 1) << "receiver " << i;
    EXPECT_EQ (server.getNumRequests(), 4);
}

TEST (UpdateCheckAsync, CancellingAllEndsRunningChecksPromptlyAndLaterChecksStillWork)
{
    std::atomic<int> connections{0};
    LoopbackServer slow (
        [&] (juce::StreamingSocket& client, const juce::String&, const std::atomic<bool>& stop)
        {
            ++connections;
            sendText (client, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n{");
            const auto start = Clock::now();
            while (!stop && secondsSince (start) < 30.0)
            {
                if (!sendText (client, juce::String::repeatedString (" ", 100)))
                    return;
                std::this_thread::sleep_for (std::chrono::milliseconds (250));
            }
        });

    juce::Component receiver;
    int calls = 0;
    startUpdateCheck (
        receiver, [&] { ++calls; }, slow.getBaseUrl());
    ASSERT_TRUE (pumpMessagesUntil ([&] { return connections.load() > 0; }, 5.0));
    EXPECT_EQ (getNumRunningUpdateChecks(), 1);

    const auto start = Clock::now();
    cancelAllUpdateChecks();
    EXPECT_LT (secondsSince (start), 2.0);
    EXPECT_EQ (getNumRunningUpdateChecks(), 0);

    LoopbackServer good (serve (feedWithVersion ("\"1.3.0\"")));
    startUpdateCheck (
        receiver, [&] { ++calls; }, good.getBaseUrl());
    finishBackgroundChecks();
    EXPECT_EQ (calls, 1);
    EXPECT_EQ (runUpdateCheck (good.getBaseUrl()), UpdateCheckResult::newerVersion);
}

TEST (UpdateCheckInTheTopBar, ANewerVersionShowsTheDotAndAResultForAClosedBarIsDropped)
{
    LoopbackServer newer (serve (feedWithVersion ("\"1.3.0\"")));
    LoopbackServer same (serve (feedWithVersion ("\"1.2.0\"")));
    VarnelleAudioProcessor processor;
    juce::Component window;
    window.setSize (1140, 760);

    TopBar shown (processor, window);
    shown.addBannerToWindow();
    shown.layOut ({6, 4, 1128, 32});
    shown.startUpdateCheck (newer.getBaseUrl());
    TopBar upToDate (processor, window);
    upToDate.startUpdateCheck (same.getBaseUrl());

    // Closed while its check runs, and after its result was posted but before it arrived.
    auto closedEarly = std::make_unique<TopBar> (processor, window);
    closedEarly->startUpdateCheck (newer.getBaseUrl());
    closedEarly.reset();
    auto closedLate = std::make_unique<TopBar> (processor, window);
    closedLate->startUpdateCheck (newer.getBaseUrl());
    const auto start = Clock::now();
    while (getNumRunningUpdateChecks() > 0 && secondsSince (start) < 15.0)
        std::this_thread::sleep_for (std::chrono::milliseconds (5)); // no message delivery meanwhile
    closedLate.reset();

    EXPECT_FALSE (shown.isUpdateAvailable()) << "the result must come later, on the message thread";
    finishBackgroundChecks();
    EXPECT_TRUE (shown.isUpdateAvailable());
    EXPECT_FALSE (upToDate.isUpdateAvailable());
    EXPECT_EQ (newer.getNumRequests(), 3);

    juce::Image image (juce::Image::ARGB, window.getWidth(), window.getHeight(), true);
    {
        juce::Graphics g (image);
        shown.paint (g, window.getWidth());
    }
    const auto dotCentre = getUpdateDotBounds (shown.getBannerBounds()).getCentre().toInt();
    EXPECT_EQ (image.getPixelAt (dotCentre.x, dotCentre.y).getARGB(), 0xffe53935u);
}

TEST (UpdateCheckFeed, DeeplyNestedDocumentsAreRejectedWithoutRecursingIntoThem)
{
    // Within the size limit, but deep enough to exhaust a 1 MB thread stack (Windows' default)
    // in a recursive parser.
    const auto deep = juce::String::repeatedString ("[", 32000) + juce::String::repeatedString ("]", 32000);
    const auto deepObjects =
        juce::String::repeatedString ("{\"a\":", 10000) + "1" + juce::String::repeatedString ("}", 10000);
    // Brackets hidden from a reader that knows only double quotes, or that does not know that
    // JUCE's number reader takes the character after a minus sign as a digit, unseen.
    const juce::StringArray disguised{
        "{\"x\":['\"'," + juce::String::repeatedString ("[", 60000),
        "[" + juce::String::repeatedString ("-],[", 15000),
        "[-\"," + juce::String::repeatedString ("[", 60000),
        "[- '," + juce::String::repeatedString ("[", 60000),
    };

    struct SmallStackThread : juce::Thread
    {
        SmallStackThread() : juce::Thread ("deep feed", 1024 * 1024) {}
        void run() override
        {
            for (const auto& document : documents)
                results.add (readLatestVersion (document));
        }
        juce::StringArray documents, results;
    } worker;

    worker.documents.add (deep);
    worker.documents.add (deepObjects);
    worker.documents.addArray (disguised);
    ASSERT_TRUE (worker.startThread());
    ASSERT_TRUE (worker.waitForThreadToExit (20000));
    ASSERT_EQ (worker.results.size(), worker.documents.size());
    for (int i = 0; i < worker.results.size(); ++i)
        EXPECT_EQ (worker.results[i], "") << "document " << i;

    // Ordinary nesting, and brackets inside strings, are fine.
    EXPECT_EQ (readLatestVersion (
                   R"({"a": [[[{"b": "[[[[{{{{"}]]], "products": {"varnelle": {"latest_version": "1.3.0",)"
                   R"( "x": {"y": {"z": [1, [2, [3, "\"]]]]"]]]}}}}})"),
               "1.3.0");
    // JUCE's text conversion read past the end of these (seen by AddressSanitizer in the feed
    // fuzzer): only a byte order mark, and a multi-byte sequence cut short at the end.
    for (const auto& bytes : {std::vector<char>{'\xef', '\xbb', '\xbf'}, std::vector<char>{'{', '\xf0'}})
    {
        const std::unique_ptr<char[]> exact (new char[bytes.size()]);
        std::copy (bytes.begin(), bytes.end(), exact.get());
        EXPECT_EQ (evaluateFeed (exact.get(), bytes.size()), UpdateCheckResult::failed);
    }

    // A minus sign at the end makes JUCE's number reader step over the terminator and read on,
    // beyond the text or past a zero byte inside it (found by the feed fuzzer).
    const char minusThenZeroByte[] =
        "{\"n\": [-\0], \"products\": {\"varnelle\": {\"latest_version\": \"1.3.0\"}}}";
    EXPECT_EQ (evaluateFeed (minusThenZeroByte, sizeof (minusThenZeroByte) - 1), UpdateCheckResult::failed);
    EXPECT_EQ (readLatestVersion (R"({"products": {"varnelle": {"latest_version": "1.3.0"}}, "n": -   )"),
               "");

    // JUCE's number reader overflows (undefined behaviour) on such numbers: refused too.
    for (const auto* number :
         {"12345678901234567890", "-[123456789012345678", "1e12345678901", "2.5E-12345678901"})
        EXPECT_EQ (readLatestVersion (juce::String (R"({"n": )") + number +
                                      R"(, "products": {"varnelle": {"latest_version": "1.3.0"}}})"),
                   "")
            << number;
    EXPECT_EQ (readLatestVersion (R"({"n": [-1, -2.5e-3, '[[[{{'], "products": {"varnelle": )"
                                  R"({"latest_version": '1.4.0'}}})"),
               "1.4.0");
}
