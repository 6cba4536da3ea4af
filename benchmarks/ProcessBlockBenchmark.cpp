#include "engine/VarnelleAudioProcessor.h"

#include <benchmark/benchmark.h>

#include <juce_events/juce_events.h>

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;

void setParameter (VarnelleAudioProcessor& processor, const juce::String& id, float value)
{
    auto* p = processor.parameters.getParameter (id);
    p->setValueNotifyingHost (p->convertTo0to1 (value));
}

// A realistic mix setting: every band active with its own region, gain and timing.
void configureFiveActiveBands (VarnelleAudioProcessor& processor)
{
    const float gains[] = {-6.0f, 3.0f, -9.0f, 4.5f, -3.0f};
    const float levelMins[] = {-50.0f, -70.0f, -40.0f, -60.0f, -45.0f};
    for (int band = 0; band < 5; ++band)
    {
        const juce::String b = "band" + juce::String (band + 1) + "_";
        setParameter (processor, b + "gain", gains[band]);
        setParameter (processor, b + "levelMin", levelMins[band]);
        setParameter (processor, b + "levelMax", -6.0f);
        setParameter (processor, b + "upperKneeDb", 6.0f);
        setParameter (processor, b + "lowerKneeDb", 6.0f);
        setParameter (processor, b + "attackMs", 10.0f + 5.0f * (float)band);
        setParameter (processor, b + "releaseMs", 120.0f + 40.0f * (float)band);
    }
}

void fillNoise (juce::AudioBuffer<float>& buffer, juce::Random& random)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            buffer.setSample (ch, i, 0.3f * (random.nextFloat() * 2.0f - 1.0f));
}

void runProcessBlock (benchmark::State& state, bool activeBands)
{
    VarnelleAudioProcessor processor;
    if (activeBands)
        configureFiveActiveBands (processor);
    processor.prepareToPlay (sampleRate, blockSize);

    juce::Random random (1);
    juce::AudioBuffer<float> input (2, blockSize);
    fillNoise (input, random);
    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;

    // Past the start-up phase, so every block runs full frames.
    for (int i = 0; i < 16; ++i)
    {
        buffer.makeCopyOf (input, true);
        processor.processBlock (buffer, midi);
    }

    int blocks = 0;
    for (auto _ : state)
    {
        buffer.makeCopyOf (input, true);
        processor.processBlock (buffer, midi);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
        ++blocks;
    }

    const double audioSeconds = blocks * (double)blockSize / sampleRate;
    state.counters["realtime_factor"] =
        benchmark::Counter (audioSeconds, benchmark::Counter::kIsRate); // audio seconds per CPU second
    state.SetItemsProcessed ((int64_t)blocks * blockSize);
}

void BM_ProcessBlockStereo48kUnity (benchmark::State& state)
{
    runProcessBlock (state, false);
}
void BM_ProcessBlockStereo48kFiveBands (benchmark::State& state)
{
    runProcessBlock (state, true);
}

BENCHMARK (BM_ProcessBlockStereo48kUnity)->Unit (benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK (BM_ProcessBlockStereo48kFiveBands)->Unit (benchmark::kMicrosecond)->MeasureProcessCPUTime();
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
