#include "engine/MessageThreadTimerStop.h"
#include "helpers/MessagePump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace
{
// A timer whose callback takes a while, so that a stop can arrive in the middle of it.
struct SlowTimer : juce::Timer
{
    std::atomic<bool> inCallback{false};
    std::atomic<int> callbacks{0};

    void timerCallback() override
    {
        inCallback = true;
        ++callbacks;
        juce::Thread::sleep (60);
        inCallback = false;
    }
};

// Runs `job` on another thread while this (message) thread keeps dispatching messages.
template <typename Job>
void runWhilePumpingMessages (Job&& job)
{
    std::atomic<bool> done{false};
    std::thread worker (
        [&]
        {
            job();
            done = true;
        });
    while (!done)
        varnelle::test::pumpMessagesFor (0.005);
    worker.join();
}
} // namespace

TEST (MessageThreadTimerStop, FromAnotherThreadReturnsOnlyOnceNoCallbackCanRun)
{
    for (int round = 0; round < 3; ++round)
    {
        SlowTimer timer;
        timer.startTimer (1);

        bool stoppedOnMessageThread = false;
        bool callbackRunningAfterReturn = true;
        runWhilePumpingMessages (
            [&]
            {
                // Stop while a callback is in progress: JUCE's own stopTimer would return at once.
                while (!timer.inCallback)
                    juce::Thread::sleep (1);
                stoppedOnMessageThread = varnelle::stopTimerOnMessageThread (timer);
                callbackRunningAfterReturn = timer.inCallback;
            });

        EXPECT_TRUE (stoppedOnMessageThread);
        EXPECT_FALSE (callbackRunningAfterReturn);
        EXPECT_FALSE (timer.isTimerRunning());

        // No callback comes later either.
        const int callbacks = timer.callbacks;
        varnelle::test::pumpMessagesFor (0.03);
        EXPECT_EQ (timer.callbacks, callbacks);
    }
}

TEST (MessageThreadTimerStop, GivesUpAfterTheTimeoutWhenTheMessageThreadDoesNotAnswer)
{
    auto timer = std::make_unique<SlowTimer>();
    timer->startTimer (10000);

    // This (message) thread is busy joining the worker and dispatches nothing meanwhile.
    bool stoppedOnMessageThread = true;
    const auto started = juce::Time::getMillisecondCounterHiRes();
    std::thread worker ([&] { stoppedOnMessageThread = varnelle::stopTimerOnMessageThread (*timer, 100); });
    worker.join();
    const auto elapsed = juce::Time::getMillisecondCounterHiRes() - started;

    EXPECT_FALSE (stoppedOnMessageThread);
    EXPECT_FALSE (timer->isTimerRunning());
    EXPECT_GE (elapsed, 90.0);

    // The caller goes on to destroy the timer's owner; the abandoned request, still queued,
    // must not touch it when it runs (AddressSanitizer builds see any such access).
    timer.reset();
    varnelle::test::pumpMessagesFor (0.02);
}

TEST (MessageThreadTimerStop, OnTheMessageThreadStopsAtOnce)
{
    SlowTimer timer;
    timer.startTimer (10000);
    EXPECT_TRUE (varnelle::stopTimerOnMessageThread (timer, 0));
    EXPECT_FALSE (timer.isTimerRunning());
}

TEST (MessageThreadTimerStop, UnderTheMessageManagerLockStopsAtOnce)
{
    // JUCE's VST3 wrapper deletes the plug-in under this lock; the message thread is blocked
    // then, so waiting for it could only time out.
    SlowTimer timer;
    timer.startTimer (10000);

    bool stoppedAtOnce = false;
    runWhilePumpingMessages (
        [&]
        {
            const juce::MessageManagerLock lock;
            stoppedAtOnce = varnelle::stopTimerOnMessageThread (timer, 5000);
        });

    EXPECT_TRUE (stoppedAtOnce);
    EXPECT_FALSE (timer.isTimerRunning());
}
