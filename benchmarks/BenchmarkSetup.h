#pragma once

// The setting every engine measurement uses: stereo at 48 kHz in blocks of 512 samples, pink
// noise plus sines, all five bands active (each its own frequency and level region, gain,
// knees and timing) and their gains moved by a slow automation between blocks.

#include "BenchmarkMaterial.h"
#include "ReferenceEngine.h"
#include "engine/VarnelleAudioProcessor.h"

#include <cmath>
#include <memory>
#include <vector>

namespace varnelle::bench
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;
constexpr int materialLength = 1 << 17; // about 2.7 s, cycled through

inline void setParameter (VarnelleAudioProcessor& processor, const juce::String& id, float value)
{
    auto* p = processor.parameters.getParameter (id);
    p->setValueNotifyingHost (p->convertTo0to1 (value));
}

inline juce::String bandId (int band, const char* slot)
{
    return "band" + juce::String (band + 1) + "_" + slot;
}

/** A realistic mix setting: every band active with its own region, gain and timing. */
inline void configureFiveActiveBands (VarnelleAudioProcessor& processor)
{
    const float gains[] = {-6.0f, 3.0f, -9.0f, 4.5f, -3.0f};
    const float levelMins[] = {-50.0f, -70.0f, -40.0f, -60.0f, -45.0f};
    for (int band = 0; band < 5; ++band)
    {
        setParameter (processor, bandId (band, "gain"), gains[band]);
        setParameter (processor, bandId (band, "levelMin"), levelMins[band]);
        setParameter (processor, bandId (band, "levelMax"), -6.0f);
        setParameter (processor, bandId (band, "upperKneeDb"), 6.0f);
        setParameter (processor, bandId (band, "lowerKneeDb"), 6.0f);
        setParameter (processor, bandId (band, "attackMs"), 10.0f + 5.0f * (float)band);
        setParameter (processor, bandId (band, "releaseMs"), 120.0f + 40.0f * (float)band);
    }
}

/** The automation between blocks: every band's gain on its own slow sine (±6 dB around the
    setting), and band 3's upper edge sweeping 2000..3000 Hz. */
inline void moveParameters (VarnelleAudioProcessor& processor, int blockIndex)
{
    const float gains[] = {-6.0f, 3.0f, -9.0f, 4.5f, -3.0f};
    const float phase = (float)blockIndex * 0.05f;
    for (int band = 0; band < 5; ++band)
        setParameter (processor, bandId (band, "gain"), gains[band] + 6.0f * std::sin (phase + (float)band));
    setParameter (processor, bandId (2, "freqHigh"), 2500.0f + 500.0f * std::sin (phase * 0.7f));
}

/** The material of every engine measurement, about 2.7 s. */
inline juce::AudioBuffer<float> makeMaterial()
{
    return makeMaterial (materialLength, sampleRate);
}

/** Which signal path a run measures: the plug-in's, or the plain statement of the algorithm
    that the tests hold it to (reading the same parameters). */
enum class Engine
{
    plugin,
    reference,
    keyed // Varnelle Key, stereo with a stereo key (the material half its length later)
};

/** Feeds the material block by block and moves the parameters before each block. */
class EngineRun
{
public:
    explicit EngineRun (Engine engineToRun = Engine::plugin)
        : processor (std::make_unique<VarnelleAudioProcessor> (engineToRun == Engine::keyed
                                                                   ? VarnelleAudioProcessor::Variant::keyed
                                                                   : VarnelleAudioProcessor::Variant::plain))
    {
        if (engineToRun == Engine::keyed)
        {
            auto layout = processor->getBusesLayout();
            layout.inputBuses.getReference (1) = juce::AudioChannelSet::stereo();
            processor->setBusesLayout (layout);
        }
        channels = processor->getTotalNumInputChannels();
        buffer.setSize (channels, blockSize);
        configureFiveActiveBands (*processor);
        processor->setRateAndBufferSizeDetails (sampleRate, blockSize);
        processor->prepareToPlay (sampleRate, blockSize);
        // The reference engine reads the processor's parameters; only its runs need one.
        if (engineToRun == Engine::reference)
        {
            referenceEngine = std::make_unique<reference::Engine> (processor->getBandParams());
            referenceEngine->prepare (sampleRate, 2);
        }
    }

    /** Copies the next `numSamples` of material into the block buffer and moves the parameters. */
    void prepareBlock (int numSamples)
    {
        moveParameters (*processor, blockIndex++);
        buffer.setSize (channels, numSamples, false, false, true);
        for (int ch = 0; ch < channels; ++ch)
        {
            const int offset = ch < 2 ? 0 : materialLength / 2;
            for (int i = 0; i < numSamples; ++i)
                buffer.setSample (
                    ch, i,
                    silent ? 0.0f : material.getSample (ch % 2, (position + offset + i) % materialLength));
        }
        position = (position + numSamples) % materialLength;
    }

    void processBlock()
    {
        if (referenceEngine != nullptr)
            referenceEngine->processBlock (buffer);
        else
            processor->processBlock (buffer, midi);
    }

    /** What an open window does 30 times a second: fetch the newest display spectra. */
    void pollSpectra()
    {
        float before[numDisplayBins], after[numDisplayBins];
        processor->getLatestSpectra (before, after, lastSeenFrame);
    }

    /** Past the start-up phase, so every block runs full frames. */
    void warmUp()
    {
        for (int i = 0; i < 16; ++i)
        {
            prepareBlock (blockSize);
            processBlock();
        }
    }

    const juce::AudioBuffer<float>& getBuffer() const noexcept { return buffer; }

    /** From the next block on, the input is silence instead of the material. */
    void fallSilent() noexcept { silent = true; }

private:
    std::unique_ptr<VarnelleAudioProcessor> processor;
    std::unique_ptr<reference::Engine> referenceEngine;
    juce::AudioBuffer<float> material = makeMaterial();
    juce::AudioBuffer<float> buffer{2, blockSize};
    juce::MidiBuffer midi;
    int channels = 2; // the key's after the input's
    int position = 0;
    int blockIndex = 0;
    int lastSeenFrame = 0;
    bool silent = false;
};

} // namespace varnelle::bench
