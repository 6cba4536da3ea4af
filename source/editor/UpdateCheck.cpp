#include "UpdateCheck.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
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

juce::String getMakerSiteUrl()
{
    return juce::String (VARNELLE_MAKER_SITE).trimCharactersAtEnd ("/");
}

juce::String makeSiteAddress (const juce::String& baseUrl, const juce::String& path)
{
    return baseUrl.trim().trimCharactersAtEnd ("/") + path;
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
