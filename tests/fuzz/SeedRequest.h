#pragma once

#include <juce_core/juce_core.h>

#include <cstdio>
#include <cstdlib>

/** For LLVMFuzzerInitialize: if VARNELLE_FUZZ_WRITE_SEEDS names a folder, `writeSeeds (folder)`
    fills it with the target's seed corpus and the process exits instead of fuzzing. */
template <typename WriteSeeds>
void writeSeedsAndExitIfAsked (WriteSeeds&& writeSeeds)
{
    if (const char* dir = std::getenv ("VARNELLE_FUZZ_WRITE_SEEDS"))
    {
        writeSeeds (juce::File::getCurrentWorkingDirectory().getChildFile (dir));
        std::fprintf (stderr, "seeds written to %s\n", dir);
        std::exit (0);
    }
}
