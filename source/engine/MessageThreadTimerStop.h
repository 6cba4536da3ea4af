#pragma once

#include <juce_events/juce_events.h>

namespace varnelle
{

/** Stops `timer` on the message thread and returns once no callback of it can be running.

    JUCE's timers only stop safely on the message thread: stopped from another thread, a
    callback that has just begun keeps running (and may even restart the timer) while the
    caller goes on to destroy the timer's owner. Some hosts destroy plug-ins on a thread of
    their own while JUCE's message thread runs, so owners that may be destroyed there stop
    their timers with this first.

    Called on the message thread, or by a thread that holds the message manager's lock, it
    simply stops the timer. From another thread it asks the
    message thread to stop it and waits up to `timeoutMs`; if the message thread does not
    answer in time (a host that drives JUCE's messages itself and is not doing so now), the
    timer is stopped from the calling thread as JUCE would, and false is returned. */
bool stopTimerOnMessageThread (juce::Timer& timer, int timeoutMs = 2000);

} // namespace varnelle
