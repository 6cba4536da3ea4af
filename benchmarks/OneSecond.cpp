// Processes exactly one second of stereo 48 kHz audio (the setting of BenchmarkSetup.h) on one
// engine path, after a warm-up, so that an instruction counter can measure one second of
// steady-state work: run it under callgrind with collection limited to processOneSecond
// (see callgrind-one-second.sh).
//
// Usage: varnelle_one_second reference|optimised

#include "BenchmarkSetup.h"

#include <juce_events/juce_events.h>

#include <cstdio>
#include <cstring>

namespace
{
// Not inlined, so that callgrind can start and stop collecting at its boundaries. Moving the
// parameters and copying the material are counted too; they are a small part.
__attribute__ ((noinline)) double processOneSecond (varnelle::bench::EngineRun& run)
{
    using namespace varnelle::bench;
    double checksum = 0.0;
    for (int done = 0; done < (int)sampleRate;)
    {
        const int n = juce::jmin (blockSize, (int)sampleRate - done);
        run.prepareBlock (n);
        run.processBlock();
        checksum += run.getBuffer().getSample (0, n - 1) + run.getBuffer().getSample (1, 0);
        done += n;
    }
    return checksum;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 2 || (std::strcmp (argv[1], "reference") != 0 && std::strcmp (argv[1], "optimised") != 0))
    {
        std::fprintf (stderr, "usage: %s reference|optimised\n", argv[0]);
        return 2;
    }
    const auto path = std::strcmp (argv[1], "reference") == 0 ? varnelle::EnginePath::reference
                                                              : varnelle::EnginePath::optimised;

    const juce::ScopedJuceInitialiser_GUI juceInitialiser;
    varnelle::bench::EngineRun run (path);
    run.warmUp();
    const double checksum = processOneSecond (run);
    std::printf ("%s: one second processed, checksum %.9g\n", argv[1], checksum);
    return 0;
}
