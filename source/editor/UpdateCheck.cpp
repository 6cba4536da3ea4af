#include "UpdateCheck.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#ifndef VARNELLE_MAKER_SITE
#error "VARNELLE_MAKER_SITE must be defined by the build (cmake/VarnelleResources.cmake)"
#endif

namespace varnelle::editor
{
namespace
{

using Clock = std::chrono::steady_clock;

// Set while the registry below exists; plain bool so that it stays readable after static
// destruction (JUCE's shutdown may come later than ours in some hosts).
bool registryAlive = false;

/** Owns every request in flight and every background check thread.

    A watchdog thread cancels requests that run past their deadline (curl's own timeouts only
    cover connecting and slow transfers, and a stalled JUCE read cannot be interrupted from its
    own thread). cancelAll() cancels and joins everything; it runs at JUCE shutdown, which a
    plug-in reaches before the host unloads it, and again from the destructor at unload. */
class CheckRegistry
{
public:
    static CheckRegistry& get()
    {
        static CheckRegistry registry;
        return registry;
    }

    /** One request's entry; its stream may be cancelled from the watchdog or cancelAll(). */
    struct Request
    {
        juce::WebInputStream* stream = nullptr;
        Clock::time_point deadline;
        bool cancelled = false; // guarded by the registry's mutex
    };

    /** Registers a stream for the lifetime of the attachment. Declare it after the stream. */
    class Attachment
    {
    public:
        explicit Attachment (juce::WebInputStream& stream) : registry (get())
        {
            request.stream = &stream;
            request.deadline =
                Clock::now() + std::chrono::milliseconds (updateCheckLimits::requestDeadlineMs);
            attached = registry.attach (request);
        }

        ~Attachment()
        {
            if (attached)
                registry.detach (request);
        }

        /** False if the registry is shutting down: the request must not be made. */
        bool isAttached() const noexcept { return attached; }

        bool wasCancelled() const
        {
            const std::lock_guard<std::mutex> lock (registry.mutex);
            return request.cancelled;
        }

    private:
        CheckRegistry& registry;
        Request request;
        bool attached = false;

        JUCE_DECLARE_NON_COPYABLE (Attachment)
    };

    /** Runs `job` on a new thread owned by the registry. False if none could be started. */
    bool startThread (std::function<void()> job)
    {
        const std::lock_guard<std::mutex> lock (mutex);

        if (stopping)
            return false;

        installShutdownHook();
        workers.emplace_back();
        auto& worker = workers.back();

        try
        {
            worker.thread = std::thread (
                [this, &worker, job = std::move (job)]
                {
                    try
                    {
                        job();
                    }
                    catch (...)
                    {
                    }

                    const std::lock_guard<std::mutex> doneLock (mutex);
                    worker.done = true;
                });
        }
        catch (...)
        {
            workers.pop_back();
            return false;
        }

        ensureWatchdog();
        return true;
    }

    bool isStopping() const
    {
        const std::lock_guard<std::mutex> lock (mutex);
        return stopping;
    }

    int getNumRunning() const
    {
        const std::lock_guard<std::mutex> lock (mutex);
        int n = 0;
        for (const auto& w : workers)
            n += w.done ? 0 : 1;
        return n;
    }

    void cancelAll()
    {
        std::list<Worker> toJoin;
        std::thread watchdogToJoin;

        {
            const std::lock_guard<std::mutex> lock (mutex);
            stopping = true;

            for (auto* r : requests)
                cancel (*r);

            toJoin.splice (toJoin.end(), workers);
            watchdogToJoin = std::move (watchdog);
            wakeUp.notify_all();
        }

        // Joined without the lock: the threads need it to finish.
        if (watchdogToJoin.joinable())
            watchdogToJoin.join();

        for (auto& w : toJoin)
            if (w.thread.joinable())
                w.thread.join();

        const std::lock_guard<std::mutex> lock (mutex);
        stopping = false;
    }

    /** Called at JUCE shutdown by the hook object. */
    void shutdownHookDeleted()
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            hookInstalled = false;
        }
        cancelAll();
    }

private:
    struct Worker
    {
        std::thread thread;
        bool done = false; // guarded by the mutex; set as the thread's last step
    };

    /** Deleted by JUCE's shutdown (message thread), before a host can unload the library. */
    struct ShutdownHook : public juce::DeletedAtShutdown
    {
        ~ShutdownHook() override
        {
            if (registryAlive)
                CheckRegistry::get().shutdownHookDeleted();
        }
    };

    CheckRegistry()
    {
        // JUCE keeps its curl lock in a function-local static. Creating (not connecting) one
        // stream here constructs it first, so it outlives this registry, whose destructor may
        // still cancel streams.
        const juce::WebInputStream warmUp (juce::URL ("http://127.0.0.1/"), false);
        registryAlive = true;
    }

    ~CheckRegistry()
    {
        cancelAll();
        registryAlive = false;
    }

    bool attach (Request& r)
    {
        const std::lock_guard<std::mutex> lock (mutex);

        if (stopping)
            return false;

        requests.push_back (&r);
        ensureWatchdog();
        return true;
    }

    void detach (Request& r)
    {
        const std::lock_guard<std::mutex> lock (mutex);
        requests.erase (std::remove (requests.begin(), requests.end(), &r), requests.end());
    }

    // Mutex held.
    void cancel (Request& r)
    {
        if (!r.cancelled)
        {
            r.cancelled = true;
            r.stream->cancel();
        }
    }

    // Mutex held. The caller is on the message thread (startThread is called by
    // startUpdateCheck); JUCE deletes the hook on the message thread too.
    void installShutdownHook()
    {
        if (!hookInstalled && juce::MessageManager::getInstanceWithoutCreating() != nullptr)
        {
            new ShutdownHook();
            hookInstalled = true;
        }
    }

    // Mutex held.
    void ensureWatchdog()
    {
        if (watchdogRunning || stopping)
            return;

        // A previous watchdog has left its loop (it clears the flag under the mutex as its last
        // step), so this join returns at once.
        if (watchdog.joinable())
            watchdog.join();

        watchdogRunning = true;
        try
        {
            watchdog = std::thread ([this] { watch(); });
        }
        catch (...)
        {
            watchdogRunning = false;
        }
    }

    void watch()
    {
        std::unique_lock<std::mutex> lock (mutex);

        while (!stopping && !(requests.empty() && workers.empty()))
        {
            const auto now = Clock::now();

            for (auto* r : requests)
                if (now >= r->deadline)
                    cancel (*r);

            // Finished threads no longer need the mutex, so they can be joined while holding it.
            for (auto it = workers.begin(); it != workers.end();)
            {
                if (it->done)
                {
                    it->thread.join();
                    it = workers.erase (it);
                }
                else
                {
                    ++it;
                }
            }

            wakeUp.wait_for (lock, std::chrono::milliseconds (100));
        }

        watchdogRunning = false;
    }

    mutable std::mutex mutex;
    std::condition_variable wakeUp;
    std::vector<Request*> requests;
    std::list<Worker> workers; // a list, so that a running thread's entry never moves
    std::thread watchdog;
    bool watchdogRunning = false;
    bool stopping = false;
    bool hookInstalled = false;

    JUCE_DECLARE_NON_COPYABLE (CheckRegistry)
};

/** True if JUCE's JSON parser can read `json` safely: arrays and objects nest at most
    `maxDepth` deep, and no number has more digits than its readers can hold.

    JUCE's parser recurses once per level, so a small but deeply nested document could exhaust
    the stack of the thread parsing it. Its integer reader collects every digit of a number in
    a 64-bit integer, and its exponent reader in an int, both without overflow checks.

    The text is read as JUCE's parser reads it, so that no bracket it will see as one goes
    uncounted: strings in double or single quotes (a backslash escapes the next character),
    and after a minus sign the one character (past any white space) that its number reader
    takes as a digit without looking, be it a quote or a bracket. Wherever this reading and
    the parser's could still part, the parser stops at a syntax error or the counts here are
    the larger, so a feed is at worst refused, never read unsafely. */
bool isSafeForJuceJson (const juce::String& json, int maxDepth)
{
    // A number's integer part, started by any character after a minus sign (whose code,
    // up to 0x10FFFF, weighs at most seven digits), stays below 10^18; an exponent below 10^9.
    constexpr int maxIntegerDigits = 17, maxExponentDigits = 8;

    enum class NumberPart
    {
        integer,
        fraction,
        exponent
    };

    int depth = 0, digits = 0;
    auto part = NumberPart::integer;
    juce::juce_wchar openQuote = 0; // the quote of the string being read, 0 outside strings
    bool escaped = false;

    for (auto p = json.getCharPointer(); !p.isEmpty();)
    {
        const auto c = p.getAndAdvance();

        if (openQuote != 0)
        {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == openQuote)
                openQuote = 0;
            continue;
        }

        if (c >= '0' && c <= '9')
        {
            const int limit = part == NumberPart::exponent ? maxExponentDigits : maxIntegerDigits;
            if (part != NumberPart::fraction && ++digits > limit)
                return false;
            continue;
        }

        digits = 0;
        part = NumberPart::integer;

        if (c == '"' || c == '\'')
        {
            openQuote = c;
        }
        else if (c == '.')
        {
            part = NumberPart::fraction;
        }
        else if (c == 'e' || c == 'E')
        {
            part = NumberPart::exponent;
            if (*p == '-' || *p == '+')
                ++p;
        }
        else if (c == '-')
        {
            // At the end of the text that character would be the terminator, and the parser
            // would read on past it: beyond the text, or into whatever follows a zero byte.
            p = p.findEndOfWhitespace();
            if (p.isEmpty())
                return false;
            const auto first = p.getAndAdvance();
            digits = first >= '0' && first <= '9' ? 1 : 7;
        }
        else if (c == '[' || c == '{')
        {
            if (++depth > maxDepth)
                return false;
        }
        else if (c == ']' || c == '}')
        {
            depth = std::max (0, depth - 1);
        }
    }

    return true;
}

/** One version part: white space, an optional sign, then digits up to the first non-digit.
    Saturates instead of overflowing, so that a huge number cannot wrap into a small one. */
int readVersionPart (const juce::String& token)
{
    auto p = token.getCharPointer().findEndOfWhitespace();
    const bool negative = *p == '-';

    if (*p == '-' || *p == '+')
        ++p;

    constexpr juce::int64 limit = (juce::int64)INT_MAX + 1;
    juce::int64 value = 0;

    for (;;)
    {
        const auto c = p.getAndAdvance();

        if (c < '0' || c > '9')
            break;

        value = std::min (limit, value * 10 + (juce::int64) (c - '0'));
    }

    if (negative)
        return (int)-value; // -limit is INT_MIN
    return (int)std::min (value, (juce::int64)INT_MAX);
}

/** The feed's bytes, or nothing when the request fails, is cancelled, answers with a status
    other than 2xx, or sends more than maxFeedBytes. */
std::optional<juce::MemoryBlock> fetchFeed (const juce::String& baseUrl)
{
    const juce::URL url (makeSiteAddress (baseUrl, "/products.json"));
    juce::WebInputStream stream (url, false);
    stream.withConnectionTimeout (updateCheckLimits::connectionTimeoutMs)
        .withNumRedirectsToFollow (updateCheckLimits::maxRedirects);

    const CheckRegistry::Attachment attachment (stream);

    if (!attachment.isAttached())
        return {};

    if (!stream.connect (nullptr) || stream.isError())
        return {};

    const auto status = stream.getStatusCode();

    if (status < 200 || status > 299)
        return {};

    juce::MemoryBlock body;
    char buffer[1024];

    for (;;)
    {
        const auto numRead = stream.read (buffer, (int)sizeof (buffer));

        if (numRead <= 0)
            break;

        if (body.getSize() + (size_t)numRead > (size_t)updateCheckLimits::maxFeedBytes)
            return {};

        body.append (buffer, (size_t)numRead);
    }

    // A transfer that ended in an error (timeout, reset, cancellation) may have left a
    // truncated body behind.
    if (stream.isError() || attachment.wasCancelled())
        return {};

    return body;
}

} // namespace

VersionNumber parseVersion (const juce::String& text)
{
    juce::StringArray tokens;
    tokens.addTokens (text, ".", "");
    tokens.removeEmptyStrings (false);

    VersionNumber v;
    int* const parts[] = {&v.major, &v.minor, &v.patch};

    for (int i = 0; i < 3 && i < tokens.size(); ++i)
        *parts[i] = readVersionPart (tokens[i]);

    return v;
}

bool isNewerVersion (const VersionNumber& candidate, const VersionNumber& current) noexcept
{
    if (candidate.major != current.major)
        return candidate.major > current.major;
    if (candidate.minor != current.minor)
        return candidate.minor > current.minor;
    return candidate.patch > current.patch;
}

juce::String getOwnVersion()
{
    return JucePlugin_VersionString;
}

juce::String getMakerSiteUrl()
{
    return juce::String (VARNELLE_MAKER_SITE).trimCharactersAtEnd ("/");
}

juce::String makeSiteAddress (const juce::String& baseUrl, const juce::String& path)
{
    return baseUrl.trim().trimCharactersAtEnd ("/") + path;
}

juce::String readLatestVersion (const juce::String& feedText)
{
    if (!isSafeForJuceJson (feedText, updateCheckLimits::maxFeedNesting))
        return {};

    const auto document = juce::JSON::parse (feedText);
    auto* root = document.getDynamicObject();

    if (root == nullptr)
        return {};

    auto* products = root->getProperty ("products").getDynamicObject();

    if (products == nullptr)
        return {};

    auto* entry = products->getProperty ("varnelle").getDynamicObject();

    if (entry == nullptr)
        return {};

    const auto& latest = entry->getProperty ("latest_version");

    // Objects and arrays have no version-like text form (JUCE prints an address for them).
    if (!(latest.isString() || latest.isInt() || latest.isInt64() || latest.isDouble()))
        return {};

    return latest.toString().trim();
}

juce::String feedTextFromBytes (const void* feedBytes, size_t numBytes)
{
    // JUCE's conversion reads past the end of some inputs (one holding only a byte order mark,
    // a multi-byte sequence cut short), so it reads a copy with zero bytes behind it.
    juce::MemoryBlock padded (numBytes + 4, true);
    if (numBytes > 0)
        std::memcpy (padded.getData(), feedBytes, numBytes);
    return juce::String::createStringFromData (padded.getData(), (int)numBytes);
}

UpdateCheckResult evaluateFeed (const void* feedBytes, size_t numBytes, const juce::String& ownVersion)
{
    if (numBytes > (size_t)updateCheckLimits::maxFeedBytes)
        return UpdateCheckResult::failed;

    const auto feed = feedTextFromBytes (feedBytes, numBytes);
    const auto latest = readLatestVersion (feed);

    if (latest.isEmpty())
        return UpdateCheckResult::failed;

    return isNewerVersion (parseVersion (latest), parseVersion (ownVersion.trim()))
               ? UpdateCheckResult::newerVersion
               : UpdateCheckResult::notNewer;
}

UpdateCheckResult runUpdateCheck (const juce::String& baseUrl, const juce::String& ownVersion)
{
    try
    {
        const auto feed = fetchFeed (baseUrl);

        if (!feed.has_value())
            return UpdateCheckResult::failed;

        return evaluateFeed (feed->getData(), feed->getSize(), ownVersion);
    }
    catch (...)
    {
        return UpdateCheckResult::failed;
    }
}

void startUpdateCheck (juce::Component& receiver, std::function<void()> onNewerVersion,
                       const juce::String& baseUrl)
{
    JUCE_ASSERT_MESSAGE_THREAD

    // The safe pointer is made here, on the message thread, and only dereferenced there.
    auto completion = [target = juce::Component::SafePointer<juce::Component> (&receiver),
                       action = std::move (onNewerVersion)]
    {
        if (target != nullptr && action)
            action();
    };

    CheckRegistry::get().startThread (
        [baseUrl, completion = std::move (completion)]() mutable
        {
            if (runUpdateCheck (baseUrl) == UpdateCheckResult::newerVersion &&
                !CheckRegistry::get().isStopping())
                juce::MessageManager::callAsync (std::move (completion));
        });
}

int getNumRunningUpdateChecks()
{
    return CheckRegistry::get().getNumRunning();
}

void cancelAllUpdateChecks()
{
    CheckRegistry::get().cancelAll();
}

} // namespace varnelle::editor
