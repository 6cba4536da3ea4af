// One full paint of the editor window into an image, with the software renderer, at the
// initial and the largest size. The display repaints the whole window 30 times a second.

#include "editor/PresetManager.h"
#include "editor/SpectrogramComponent.h"
#include "editor/VarnelleAudioProcessorEditor.h"

#include <benchmark/benchmark.h>

#include <juce_events/juce_events.h>

namespace
{
void fillHistory (VarnelleAudioProcessor& processor, VarnelleAudioProcessorEditor& editor)
{
    processor.prepareToPlay (48000.0, 512);
    juce::Random random (1);
    juce::AudioBuffer<float> block (2, 512);
    juce::MidiBuffer midi;
    for (int i = 0; i < 400; ++i)
    {
        for (int ch = 0; ch < 2; ++ch)
            for (int s = 0; s < 512; ++s)
                block.setSample (ch, s, 0.3f * (random.nextFloat() * 2.0f - 1.0f));
        processor.processBlock (block, midi);
        editor.getSpectrogram().timerCallback();
    }
}

void BM_EditorPaint (benchmark::State& state)
{
    VarnelleAudioProcessor processor;
    VarnelleAudioProcessorEditor editor (processor);
    editor.setSize ((int)state.range (0), (int)state.range (1));
    fillHistory (processor, editor);

    juce::Image image (juce::Image::ARGB, editor.getWidth(), editor.getHeight(), true,
                       juce::SoftwareImageType());
    for (auto _ : state)
    {
        juce::Graphics g (image);
        editor.paintEntireComponent (g, true);
        benchmark::DoNotOptimize (image.getPixelAt (10, 10));
    }
}

BENCHMARK (BM_EditorPaint)->Args ({1140, 760})->Args ({2400, 1600})->Unit (benchmark::kMillisecond);
} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juceInitialiser;
    const juce::TemporaryFile presetFolder;
    varnelle::editor::PresetManager::overrideDefaultPresetFolder (presetFolder.getFile());

    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    presetFolder.getFile().deleteRecursively();
    return 0;
}
