// Processes exactly one second of stereo 48 kHz audio (the setting of BenchmarkSetup.h) on the
// plug-in's engine ("optimised") or the plain reference engine the tests hold it to, after a warm-up, so that
// an instruction counter can measure one second of steady-state work: run it under callgrind with collection
// limited to processOneSecond (see callgrind-one-second.sh).
//
// "silence" is the plug-in's engine after the material has fallen silent for 8 s, long enough
// for the smoothed gains to rest: the second processed is silence.
//
// Usage: varnelle_one_second reference|optimised|silence

#include "BenchmarkSetup.h"

#include <juce_events/juce_events.h>

#include <cstdio>
#include <cstring>

namespace
{
double processSecond (varnelle::bench::EngineRun& run)
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

// Not inlined, so that callgrind can start and stop collecting at its boundaries. Moving the
// parameters and copying the material are counted too; they are a small part.
__attribute__ ((noinline)) double processOneSecond (varnelle::bench::EngineRun& run)
{
    return processSecond (run);
}
} // namespace

int main (int argc, char** argv)
{
    const auto is = [&] (const char* name) { return argc == 2 && std::strcmp (argv[1], name) == 0; };
    if (!is ("reference") && !is ("optimised") && !is ("silence"))
    {
        std::fprintf (stderr, "usage: %s reference|optimised|silence\n", argv[0]);
        return 2;
    }
    const auto engine =
        is ("reference") ? varnelle::bench::Engine::reference : varnelle::bench::Engine::plugin;

    const juce::ScopedJuceInitialiser_GUI juceInitialiser;
    varnelle::bench::EngineRun run (engine);
    run.warmUp();
    if (is ("silence"))
    {
        run.fallSilent();
        for (int second = 0; second < 8; ++second)
            processSecond (run);
    }
    const double checksum = processOneSecond (run);
    std::printf ("%s: one second processed, checksum %.9g\n", argv[1], checksum);
    return 0;
}
