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

juce::AudioProcessor::BusesLayout withMainBuses (const juce::AudioProcessor& instance,
                                                 const juce::AudioChannelSet& in,
                                                 const juce::AudioChannelSet& out)
{
    auto layout = instance.getBusesLayout();
    if (layout.inputBuses.isEmpty() || layout.outputBuses.isEmpty())
        return makeLayout (in, out);
    layout.inputBuses.getReference (0) = in;
    layout.outputBuses.getReference (0) = out;
    return layout;
}

bool prepare (juce::AudioPluginInstance& instance, double rate, int blockSize, int numChannels,
              int keyChannels)
{
    instance.releaseResources();
    const auto channelSet = [] (int n)
    {
        return n == 0 ? juce::AudioChannelSet::disabled()
                      : (n == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo());
    };

    // Varnelle Key's key bus as asked, where the format lets the host choose it (LV2 keeps its
    // key ports whatever is asked: they are then fed silence).
    auto layout = withMainBuses (instance, channelSet (numChannels), channelSet (numChannels));
    if (layout.inputBuses.size() > 1)
    {
        auto keyed = layout;
        keyed.inputBuses.getReference (1) = channelSet (keyChannels);
        if (instance.setBusesLayout (keyed))
            layout = keyed;
    }
    if (!instance.setBusesLayout (layout))
        return false;

    instance.prepareToPlay (rate, blockSize);
    return instance.getMainBusNumInputChannels() == numChannels &&
           instance.getTotalNumOutputChannels() == numChannels;
}

int getKeyChannels (const juce::AudioProcessor& instance)
{
    return instance.getBusCount (true) > 1 ? instance.getChannelCountOfBus (true, 1) : 0;
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
