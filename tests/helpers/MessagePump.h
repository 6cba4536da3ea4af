#pragma once

#include <juce_events/juce_events.h>

#include <chrono>
#include <thread>

// JUCE's own message pump, used to deliver posted calls and timers on the test's message thread.
namespace juce
{
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace varnelle::test
{

/** Delivers posted messages until `done` holds or `seconds` pass. False on timeout. */
template <typename Predicate>
bool pumpMessagesUntil (Predicate&& done, double seconds)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();

    while (!done())
    {
        if (std::chrono::duration<double> (Clock::now() - start).count() > seconds)
            return false;
        if (!juce::dispatchNextMessageOnSystemQueue (true))
            std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }

    return true;
}

inline void pumpMessagesFor (double seconds)
{
    pumpMessagesUntil ([] { return false; }, seconds);
}

} // namespace varnelle::test
