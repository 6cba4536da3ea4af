#include "InterruptCleanup.h"

#include <array>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace interruptCleanup
{
namespace
{
// A render has at most four temporary outputs (audio, spectra, snapshot, state); the handler
// reads these with async-signal-safe calls only: a slot's path is complete before it is marked
// in use, and unlink of a path already moved or removed fails harmlessly.
constexpr int maxSlots = 16;

struct Slot
{
    std::atomic<bool> inUse{false};
    char path[PATH_MAX] = {};
};

std::array<Slot, maxSlots> slots;
std::atomic<bool> claimed[maxSlots] = {};

extern "C" void removeTemporariesAndExit (int signalNumber)
{
    for (auto& slot : slots)
        if (slot.inUse.load())
            ::unlink (slot.path);

    ::_exit (128 + signalNumber);
}
} // namespace

void install()
{
    struct sigaction action;
    std::memset (&action, 0, sizeof (action));
    action.sa_handler = removeTemporariesAndExit;
    sigemptyset (&action.sa_mask);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction (signalNumber, &action, nullptr);
}

ScopedRegistration::ScopedRegistration (const juce::File& file)
{
    const auto path = file.getFullPathName();
    if (path.getNumBytesAsUTF8() >= PATH_MAX)
        return;

    for (int i = 0; i < maxSlots; ++i)
    {
        bool expected = false;
        if (claimed[i].compare_exchange_strong (expected, true))
        {
            std::strcpy (slots[(size_t)i].path, path.toRawUTF8());
            slots[(size_t)i].inUse = true;
            slot = i;
            return;
        }
    }
}

ScopedRegistration::~ScopedRegistration()
{
    if (slot < 0)
        return;

    slots[(size_t)slot].inUse = false;
    claimed[slot] = false;
}

} // namespace interruptCleanup
