// Realtime factor (seconds of audio per second of CPU) of both engine paths in the setting of
// BenchmarkSetup.h: stereo, 48 kHz, blocks of 512 samples, pink noise plus sines, five active
// bands whose gains move between blocks.
//
// Only processBlock is timed, with the thread's CPU clock, so that parameter moves, the copy of
// the material and other processes on a busy machine count as little as possible. The third
// entry alternates the two paths block by block and reports both factors and their ratio from
// the same stretch of time, which keeps the ratio steady when the machine's load changes.

#include "BenchmarkSetup.h"

#include <benchmark/benchmark.h>

#include <juce_events/juce_events.h>

#include <ctime>

namespace
{
using namespace varnelle::bench;
using varnelle::EnginePath;

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + 1.0e-9 * (double)t.tv_nsec;
}

double timedBlock (EngineRun& run)
{
    run.prepareBlock (blockSize);
    const double start = threadCpuSeconds();
    run.processBlock();
    const double seconds = threadCpuSeconds() - start;
    benchmark::DoNotOptimize (run.getBuffer().getReadPointer (0));
    return seconds;
}

constexpr double blockSeconds = blockSize / sampleRate;

// A block of 512 samples lasts 10.7 ms; a window polls every 33 ms.
constexpr int blocksPerPoll = 3;

void runPath (benchmark::State& state, EnginePath path, bool windowOpen = false)
{
    EngineRun run (path);
    run.warmUp();

    double cpuSeconds = 0.0;
    std::int64_t blocks = 0;
    for (auto _ : state)
    {
        if (windowOpen && blocks % blocksPerPoll == 0)
            run.pollSpectra();
        const double seconds = timedBlock (run);
        state.SetIterationTime (seconds);
        cpuSeconds += seconds;
        ++blocks;
    }
    state.counters["realtime_factor"] = (double)blocks * blockSeconds / cpuSeconds;
    state.SetItemsProcessed (blocks * blockSize);
}

void BM_FiveBandsReference (benchmark::State& state)
{
    runPath (state, EnginePath::reference);
}

void BM_FiveBandsOptimised (benchmark::State& state)
{
    runPath (state, EnginePath::optimised);
}

// The same with an editor open: the display spectra are computed for every frame of channel 0.
void BM_FiveBandsOptimisedWindowOpen (benchmark::State& state)
{
    runPath (state, EnginePath::optimised, true);
}

// One iteration: one block on each path.
void BM_FiveBandsOptimisedVsReference (benchmark::State& state)
{
    EngineRun reference (EnginePath::reference);
    EngineRun optimised (EnginePath::optimised);
    reference.warmUp();
    optimised.warmUp();

    double referenceSeconds = 0.0, optimisedSeconds = 0.0;
    std::int64_t blocks = 0;
    for (auto _ : state)
    {
        const double r = timedBlock (reference);
        const double o = timedBlock (optimised);
        state.SetIterationTime (r + o);
        referenceSeconds += r;
        optimisedSeconds += o;
        ++blocks;
    }
    const double audioSeconds = (double)blocks * blockSeconds;
    state.counters["reference_rtf"] = audioSeconds / referenceSeconds;
    state.counters["optimised_rtf"] = audioSeconds / optimisedSeconds;
    state.counters["speedup"] = referenceSeconds / optimisedSeconds;
}

BENCHMARK (BM_FiveBandsReference)->UseManualTime()->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_FiveBandsOptimised)->UseManualTime()->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_FiveBandsOptimisedWindowOpen)->UseManualTime()->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_FiveBandsOptimisedVsReference)->UseManualTime()->Unit (benchmark::kMicrosecond);
} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juceInitialiser;
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
