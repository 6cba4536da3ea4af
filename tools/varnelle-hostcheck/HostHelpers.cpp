#include "HostHelpers.h"

#include <algorithm>
#include <cmath>

namespace varnelle::hostcheck
{

void pump (int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
}

void closeEditor (std::unique_ptr<juce::AudioProcessorEditor> editor, bool removeWindowFirst)
{
    if (editor == nullptr)
        return;

    if (removeWindowFirst)
    {
        editor->setVisible (false);
        if (editor->isOnDesktop())
            editor->removeFromDesktop();

        pump (40);
    }

    std::atomic<bool> deleted{false};
    juce::MessageManager::callAsync (
        [e = editor.release(), &deleted]
        {
            delete e;
            deleted = true;
        });

    while (!deleted)
        pump (5);
}

juce::AudioProcessor::BusesLayout makeLayout (const juce::AudioChannelSet& in,
                                              const juce::AudioChannelSet& out)
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (in);
    layout.outputBuses.add (out);
    return layout;
}

bool prepare (juce::AudioPluginInstance& instance, double rate, int blockSize, int numChannels)
{
    instance.releaseResources();
    const auto set = numChannels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();

    if (!instance.setBusesLayout (makeLayout (set, set)))
        return false;

    instance.prepareToPlay (rate, blockSize);
    return instance.getTotalNumInputChannels() == numChannels &&
           instance.getTotalNumOutputChannels() == numChannels;
}

BackgroundProcessing::BackgroundProcessing (juce::AudioProcessor& processorToUse, int numChannelsToUse,
                                            double rate)
    : processor (processorToUse), numChannels (numChannelsToUse),
      input (makeTestSignal (numChannelsToUse, (int)rate, rate, 7)),
      work (std::max ({numChannelsToUse, processorToUse.getTotalNumInputChannels(),
                       processorToUse.getTotalNumOutputChannels()}),
            blockSize),
      blockDuration (std::chrono::microseconds ((juce::int64) (1.0e6 * blockSize / rate)))
{
}

BackgroundProcessing::~BackgroundProcessing()
{
    stop();
}

void BackgroundProcessing::start()
{
    running = true;
    worker = std::thread ([this] { run(); });
}

void BackgroundProcessing::stop()
{
    running = false;
    if (worker.joinable())
        worker.join();
}

void BackgroundProcessing::run()
{
    juce::MidiBuffer midi;
    const auto length = (juce::int64)input[0].size();
    juce::int64 position = 0;

    while (running)
    {
        const auto started = std::chrono::steady_clock::now();

        for (int ch = 0; ch < work.getNumChannels(); ++ch)
            for (int i = 0; i < blockSize; ++i)
                work.setSample (
                    ch, i, ch < numChannels ? input[(size_t)ch][(size_t)((position + i) % length)] : 0.0f);

        midi.clear();
        processor.processBlock (work, midi);

        juce::int64 bad = 0;
        for (int ch = 0; ch < numChannels; ++ch)
            for (int i = 0; i < blockSize; ++i)
            {
                const int kind = std::fpclassify (work.getSample (ch, i));
                bad += (kind == FP_NAN || kind == FP_INFINITE || kind == FP_SUBNORMAL) ? 1 : 0;
            }

        numBadSamples += bad;
        ++numBlocks;
        position += blockSize;

        // About real time, so that the message thread and the plug-in's threads get a turn.
        std::this_thread::sleep_until (started + blockDuration / 2);
    }
}

} // namespace varnelle::hostcheck
