#include "MessageThreadTimerStop.h"

#include <memory>
#include <mutex>

namespace varnelle
{

bool stopTimerOnMessageThread (juce::Timer& timer, int timeoutMs)
{
    auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();
    // On the message thread, or holding its lock (JUCE's VST3 wrapper deletes plug-ins under
    // it), no callback can be running: the message thread is here or blocked.
    if (messageManager == nullptr || messageManager->currentThreadHasLockedMessageManager())
    {
        timer.stopTimer();
        return true;
    }

    // Shared with the message thread's call, which may run after this function has given up.
    struct Request
    {
        std::mutex mutex;
        bool abandoned = false;
        juce::WaitableEvent stopped;
    };
    auto request = std::make_shared<Request>();
    auto* timerToStop = &timer;

    const bool posted = juce::MessageManager::callAsync (
        [request, timerToStop]
        {
            const std::lock_guard<std::mutex> lock (request->mutex);
            if (!request->abandoned)
                timerToStop->stopTimer();
            request->stopped.signal();
        });

    if (posted && request->stopped.wait ((double)timeoutMs))
        return true;

    {
        const std::lock_guard<std::mutex> lock (request->mutex);
        request->abandoned = true;
    }
    timer.stopTimer();
    return false;
}

} // namespace varnelle
