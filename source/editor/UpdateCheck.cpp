#include "UpdateCheck.h"

#include <chrono>
#include <deque>
#include <optional>

#ifndef VARNELLE_MAKER_SITE
#error "VARNELLE_MAKER_SITE must be defined by the build (cmake/VarnelleResources.cmake)"
#endif

namespace varnelle::editor
{
namespace
{

/** One GET of the feed, on a thread of its own.

    A read stalled inside JUCE cannot be ended from the thread that reads, only by cancelling
    the stream from another one (curl's own timeouts cover connecting and slow transfers, not a
    trickle). So the thread that owns the request waits for it in fetch() and cancels it at the
    deadline, or as soon as it is told to stop. Created, used and destroyed by that one owning
    thread; the request's thread touches only the stream and `body`. */
class FeedRequest : private juce::Thread
{
public:
    explicit FeedRequest (const juce::String& baseUrl)
        : juce::Thread ("Varnelle feed request"),
          stream (juce::URL (makeSiteAddress (baseUrl, "/products.json")), false)
    {
        stream.withConnectionTimeout (updateCheckLimits::connectionTimeoutMs)
            .withNumRedirectsToFollow (updateCheckLimits::maxRedirects);
    }

    ~FeedRequest() override
    {
        cancel();
        waitForThreadToExit (-1); // a cancelled stream gives up its read within about a second
    }

    /** The feed's bytes, or nothing when the request fails, is not done within
        requestDeadlineMs or `shouldStop` (asked every few milliseconds) returns true first. */
    std::optional<juce::MemoryBlock> fetch (const std::function<bool()>& shouldStop)
    {
        if (!startThread())
            return {};

        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds (updateCheckLimits::requestDeadlineMs);

        while (!waitForThreadToExit (pollIntervalMs))
            if (std::chrono::steady_clock::now() >= deadline || (shouldStop && shouldStop()))
                cancel();

        // A cancelled transfer may have left a truncated body behind.
        if (cancelled)
            return {};
        return std::move (body);
    }

private:
    static constexpr int pollIntervalMs = 20;

    void cancel()
    {
        if (!cancelled)
        {
            cancelled = true;
            stream.cancel();
        }
    }

    void run() override
    {
        try
        {
            body = readFeed();
        }
        catch (...)
        {
            body.reset();
        }
    }

    /** Nothing when the request fails, answers with a status other than 2xx, or sends more
        than maxFeedBytes. */
    std::optional<juce::MemoryBlock> readFeed()
    {
        if (!stream.connect (nullptr) || stream.isError())
            return {};

        const auto status = stream.getStatusCode();

        if (status < 200 || status > 299)
            return {};

        juce::MemoryBlock feed;
        char buffer[1024];

        for (;;)
        {
            const auto numRead = stream.read (buffer, (int)sizeof (buffer));

            if (numRead <= 0)
                break;

            if (feed.getSize() + (size_t)numRead > (size_t)updateCheckLimits::maxFeedBytes)
                return {};

            feed.append (buffer, (size_t)numRead);
        }

        // A transfer that ended in an error (timeout, reset) may have left a truncated body.
        if (stream.isError())
            return {};

        return feed;
    }

    juce::WebInputStream stream;
    bool cancelled = false;                // the owning thread's
    std::optional<juce::MemoryBlock> body; // the request's thread's until that thread has ended

    JUCE_DECLARE_NON_COPYABLE (FeedRequest)
};

UpdateCheckResult runCheck (const juce::String& baseUrl, const juce::String& ownVersion,
                            const std::function<bool()>& shouldStop)
{
    try
    {
        FeedRequest request (baseUrl);
        const auto feed = request.fetch (shouldStop);

        if (!feed.has_value())
            return UpdateCheckResult::failed;

        return evaluateFeed (feed->getData(), feed->getSize(), ownVersion);
    }
    catch (...)
    {
        return UpdateCheckResult::failed;
    }
}

/** Runs the editors' checks one after another on one worker thread, which ends whenever none
    is left, and posts each newer version found to the message thread.

    No editor owns it, so closing a window never waits for the network; a check's completion
    holds only a weak reference to the component it reports to. JUCE deletes it at its shutdown, which a
   plug-in reaches as its last instance goes (every instance of JUCE's VST3 and LV2 wrappers holds a
    ScopedJuceInitialiser_GUI), so before a host can unload the library; the destructor
    cancels the request in flight and waits for the worker, so that no thread of ours runs in
    an unloaded library. The worker never waits for the message thread, so that wait cannot
    deadlock on any thread. Checks are added on the message thread; counting and cancelling
    work on any thread but the worker. */
class UpdateChecker : private juce::Thread, private juce::DeletedAtShutdown
{
public:
    struct Check
    {
        juce::String baseUrl;
        std::function<void()> completion; // run on the message thread if the version is newer
    };

    UpdateChecker() : juce::Thread ("Varnelle update check") {}

    ~UpdateChecker() override
    {
        cancelAll();
        clearSingletonInstance();
    }

    JUCE_DECLARE_SINGLETON (UpdateChecker, false)

    void add (Check check)
    {
        const juce::ScopedLock sl (lock);
        queue.push_back (std::move (check));
        ++numUnfinished;

        if (!workerActive)
        {
            // A worker that found the queue empty has taken its last look at it and is ending.
            waitForThreadToExit (-1);
            workerActive = startThread();

            if (!workerActive)
                dropQueued();
        }
    }

    int getNumUnfinished() const
    {
        const juce::ScopedLock sl (lock);
        return numUnfinished;
    }

    /** Drops the queued checks, cancels the one in flight and waits for the worker to end. */
    void cancelAll()
    {
        {
            const juce::ScopedLock sl (lock);
            dropQueued();
            signalThreadShouldExit();
        }

        // The request in flight sees the signal within a poll interval and is cancelled.
        waitForThreadToExit (-1);
    }

private:
    void run() override
    {
        for (;;)
        {
            Check check;
            {
                const juce::ScopedLock sl (lock);

                if (queue.empty() || threadShouldExit())
                {
                    workerActive = false;
                    return;
                }

                check = std::move (queue.front());
                queue.pop_front();
            }

            const auto stop = [this] { return threadShouldExit(); };

            if (runCheck (check.baseUrl, getOwnVersion(), stop) == UpdateCheckResult::newerVersion &&
                !threadShouldExit())
                juce::MessageManager::callAsync (std::move (check.completion));

            const juce::ScopedLock sl (lock);
            --numUnfinished;
        }
    }

    // Lock held.
    void dropQueued()
    {
        numUnfinished -= (int)queue.size();
        queue.clear();
    }

    juce::CriticalSection lock;
    std::deque<Check> queue;   // guarded by the lock
    int numUnfinished = 0;     // guarded by the lock: queued, plus the one in flight
    bool workerActive = false; // guarded by the lock: started and not yet past its last look

    JUCE_DECLARE_NON_COPYABLE (UpdateChecker)
};

JUCE_IMPLEMENT_SINGLETON (UpdateChecker)

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
    return runCheck (baseUrl, ownVersion, {});
}

void startUpdateCheck (juce::Component& receiver, std::function<void()> onNewerVersion,
                       const juce::String& baseUrl)
{
    JUCE_ASSERT_MESSAGE_THREAD

    // The weak reference is made here, on the message thread, and only looked at there.
    auto completion = [target = juce::Component::SafePointer<juce::Component> (&receiver),
                       action = std::move (onNewerVersion)]
    {
        if (target != nullptr && action)
            action();
    };

    UpdateChecker::getInstance()->add ({baseUrl, std::move (completion)});
}

int getNumRunningUpdateChecks()
{
    auto* checker = UpdateChecker::getInstanceWithoutCreating();
    return checker != nullptr ? checker->getNumUnfinished() : 0;
}

void cancelAllUpdateChecks()
{
    if (auto* checker = UpdateChecker::getInstanceWithoutCreating())
        checker->cancelAll();
}

} // namespace varnelle::editor
