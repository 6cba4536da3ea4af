#pragma once

#include <juce_core/juce_core.h>

/** What a render stopped by Ctrl+C (SIGINT), SIGTERM or a closed terminal (SIGHUP) leaves
    behind: nothing. The signal handler removes every temporary output that is registered at
    that moment and ends the process with 128 + the signal's number (130, 143, 129); finished
    outputs and the files they were to replace are never touched. SIGKILL cannot be caught. */
namespace interruptCleanup
{

/** Installs the handlers; call once, before the first temporary file is created. */
void install();

/** Registers `file` for removal on a signal while this object lives. Any thread; the path is
    copied into storage the handler may read. */
class ScopedRegistration
{
public:
    explicit ScopedRegistration (const juce::File& file);
    ~ScopedRegistration();

    ScopedRegistration (const ScopedRegistration&) = delete;
    ScopedRegistration& operator= (const ScopedRegistration&) = delete;

private:
    int slot = -1;
};

} // namespace interruptCleanup
