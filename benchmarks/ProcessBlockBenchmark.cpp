// Realtime factor (seconds of audio per second of CPU) of the plug-in's engine ("optimised")
// and of the plain reference engine the tests hold it to, in the setting of
// BenchmarkSetup.h: stereo, 48 kHz, blocks of 512 samples, pink noise plus sines, five active
// bands whose gains move between blocks.
//
// Only processBlock is timed, with the thread's CPU clock, so that parameter moves, the copy of
// the material and other processes on a busy machine count as little as possible. Reading that
// clock is a system call that itself costs about half a microsecond, as much as a whole silent
// block: its own cost, measured in the same run, is taken off every timed block. The third
// entry alternates the two engines block by block (BM_KeyedVsVarnelle does the same for Varnelle
// Key, stereo with a stereo key, against Varnelle) and reports both factors and their ratio from
// the same stretch of time, which keeps the ratio steady when the machine's load changes.

#include "BenchmarkSetup.h"

#include <benchmark/benchmark.h>

#include <juce_events/juce_events.h>

#include <algorithm>
#include <ctime>
#include <malloc.h>
#include <memory>
#include <utility>
#include <vector>

namespace
{
using namespace varnelle::bench;

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + 1.0e-9 * (double)t.tv_nsec;
}

// What two back-to-back readings of the clock differ by with nothing between them (median).
double clockReadingSeconds()
{
    static const double seconds = []
    {
        std::vector<double> pairs (2001);
        for (auto& pair : pairs)
        {
            const double start = threadCpuSeconds();
            pair = threadCpuSeconds() - start;
        }
        std::nth_element (pairs.begin(), pairs.begin() + (std::ptrdiff_t)pairs.size() / 2, pairs.end());
        return pairs[pairs.size() / 2];
    }();
    return seconds;
}

// The CPU time of one call, without the clock's own cost.
template <typename Call>
double timedCall (Call&& call)
{
    const double start = threadCpuSeconds();
    call();
    return threadCpuSeconds() - start - clockReadingSeconds();
}

double timedBlock (EngineRun& run)
{
    run.prepareBlock (blockSize);
    const double seconds = timedCall ([&] { run.processBlock(); });
    benchmark::DoNotOptimize (run.getBuffer().getReadPointer (0));
    return seconds;
}

constexpr double blockSeconds = blockSize / sampleRate;

// A block of 512 samples lasts 10.7 ms; a window polls every 33 ms.
constexpr int blocksPerPoll = 3;

void runEngine (benchmark::State& state, Engine engine, bool windowOpen = false)
{
    EngineRun run (engine);
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
    runEngine (state, Engine::reference);
}

void BM_FiveBandsOptimised (benchmark::State& state)
{
    runEngine (state, Engine::plugin);
}

// The same with an editor open: the display spectra are computed for every frame of channel 0.
void BM_FiveBandsOptimisedWindowOpen (benchmark::State& state)
{
    runEngine (state, Engine::plugin, true);
}

// Two engines in turn, one block of each per iteration, so that both see the same stretch of
// a busy machine: the CPU seconds each took.
std::pair<double, double> runInTurn (benchmark::State& state, Engine firstEngine, Engine secondEngine)
{
    EngineRun first (firstEngine), second (secondEngine);
    first.warmUp();
    second.warmUp();

    double firstSeconds = 0.0, secondSeconds = 0.0;
    for (auto _ : state)
    {
        const double a = timedBlock (first);
        const double b = timedBlock (second);
        state.SetIterationTime (a + b);
        firstSeconds += a;
        secondSeconds += b;
    }
    return {firstSeconds, secondSeconds};
}

double audioSecondsOf (const benchmark::State& state)
{
    return (double)state.iterations() * blockSeconds;
}

void BM_FiveBandsOptimisedVsReference (benchmark::State& state)
{
    const auto [referenceSeconds, optimisedSeconds] = runInTurn (state, Engine::reference, Engine::plugin);
    state.counters["reference_rtf"] = audioSecondsOf (state) / referenceSeconds;
    state.counters["optimised_rtf"] = audioSecondsOf (state) / optimisedSeconds;
    state.counters["speedup"] = referenceSeconds / optimisedSeconds;
}

// Varnelle Key, stereo with a stereo key, against Varnelle: the key adds a forward transform
// per key channel and frame.
void BM_KeyedVsVarnelle (benchmark::State& state)
{
    const auto [plainSeconds, keyedSeconds] = runInTurn (state, Engine::plugin, Engine::keyed);
    state.counters["varnelle_rtf"] = audioSecondsOf (state) / plainSeconds;
    state.counters["key_rtf"] = audioSecondsOf (state) / keyedSeconds;
    state.counters["key_vs_varnelle"] = plainSeconds / keyedSeconds;
}

// A track that falls silent: 1 s of the material, then 10 s of silence, processed as one
// stream. Reports the mean cost of a block with signal and of a block in the last 3 s of the
// silence (by then the smoothed gains have come to rest), and their ratio.
void BM_SilenceAfterSignal (benchmark::State& state)
{
    const auto material = makeMaterial();
    const int blocksPerSecond = (int)(sampleRate / blockSize);
    double signalSeconds = 0.0, silenceSeconds = 0.0;
    std::int64_t signalBlocks = 0, silenceBlocks = 0;

    for (auto _ : state)
    {
        VarnelleAudioProcessor processor;
        configureFiveActiveBands (processor);
        processor.setRateAndBufferSizeDetails (sampleRate, blockSize);
        processor.prepareToPlay (sampleRate, blockSize);
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        double iterationSeconds = 0.0;

        for (int block = 0; block < 11 * blocksPerSecond; ++block)
        {
            const bool signal = block < blocksPerSecond;
            for (int ch = 0; ch < 2; ++ch)
            {
                if (signal)
                    buffer.copyFrom (ch, 0, material, ch, (block * blockSize) % materialLength, blockSize);
                else
                    buffer.clear (ch, 0, blockSize);
            }
            moveParameters (processor, block);

            const double seconds = timedCall ([&] { processor.processBlock (buffer, midi); });
            benchmark::DoNotOptimize (buffer.getReadPointer (0));
            iterationSeconds += seconds;

            if (signal && block >= blocksPerSecond / 4) // past the start-up
            {
                signalSeconds += seconds;
                ++signalBlocks;
            }
            else if (block >= 8 * blocksPerSecond)
            {
                silenceSeconds += seconds;
                ++silenceBlocks;
            }
        }
        state.SetIterationTime (iterationSeconds);
    }
    const double signalBlock = signalSeconds / (double)signalBlocks;
    const double silenceBlock = silenceSeconds / (double)silenceBlocks;
    state.counters["signal_block_us"] = 1.0e6 * signalBlock;
    state.counters["silence_block_us"] = 1.0e6 * silenceBlock;
    state.counters["signal_vs_silence"] = signalBlock / silenceBlock;
    state.counters["clock_reading_us"] = 1.0e6 * clockReadingSeconds();
}

// Heap memory of one prepared instance (mono and stereo, 48 kHz, blocks of 512), from the
// allocator's own count of bytes in use, so FFTW's and JUCE's allocations count too.
void BM_MemoryPerInstance (benchmark::State& state)
{
    const auto bytesInUse = [] { return (double)mallinfo2().uordblks; };
    const auto preparedInstanceBytes = [&] (int channels)
    {
        const double before = bytesInUse();
        auto processor = std::make_unique<VarnelleAudioProcessor>();
        const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (set);
        layout.outputBuses.add (set);
        processor->setBusesLayout (layout);
        processor->setRateAndBufferSizeDetails (sampleRate, blockSize);
        processor->prepareToPlay (sampleRate, blockSize);
        return bytesInUse() - before;
    };

    // The first instance also sets up what every later one shares (FFTW's planner, JUCE's
    // singletons), which is not counted.
    preparedInstanceBytes (2);
    double mono = 0.0, stereo = 0.0;
    for (auto _ : state)
    {
        mono = preparedInstanceBytes (1);
        stereo = preparedInstanceBytes (2);
    }
    state.counters["stereo_instance_bytes"] = stereo;
    state.counters["bytes_per_channel"] = stereo - mono;
}

BENCHMARK (BM_FiveBandsReference)->UseManualTime()->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_FiveBandsOptimised)->UseManualTime()->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_FiveBandsOptimisedWindowOpen)->UseManualTime()->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_FiveBandsOptimisedVsReference)->UseManualTime()->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_KeyedVsVarnelle)->UseManualTime()->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_MemoryPerInstance)->Iterations (1);
BENCHMARK (BM_SilenceAfterSignal)->UseManualTime()->Unit (benchmark::kMillisecond)->Iterations (3);
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
