#pragma once

#include "AudioChecks.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

// Host-side helpers shared by the checks: the message loop, closing editors, preparing
// instances and processing on a thread of its own. Message thread unless said otherwise.
namespace varnelle::hostcheck
{

/** Dispatches messages for `milliseconds`. */
void pump (int milliseconds);

/** Deletes the editor once the messages its window caused are handled.

    A VST3 view is deleted while its window still exists: the host's view destructor tells the
    plug-in (IPlugView::removed) before the parent window goes, as the VST3 interface requires.
    Destroying the window first leaves the plug-in's child window dead under it, and the
    plug-in's JUCE then queries it during teardown (harmless BadWindow errors, but not what a
    real host does).

    An LV2 UI is taken off the screen first: JUCE 7.0.5's XEmbedComponent (the host side of an
    embedded LV2 UI) posts a message holding a raw pointer to itself for a ConfigureNotify;
    deleting it while one is queued is a use-after-free in the host, so the window is removed
    and the deletion queued behind those messages. */
void closeEditor (std::unique_ptr<juce::AudioProcessorEditor> editor, bool removeWindowFirst);

juce::AudioProcessor::BusesLayout makeLayout (const juce::AudioChannelSet& in,
                                              const juce::AudioChannelSet& out);

/** Releases, sets the layout for `numChannels` in and out, and prepares. */
/** The instance's layout with its main buses set to `in` and `out` (other buses as they are). */
juce::AudioProcessor::BusesLayout withMainBuses (const juce::AudioProcessor& instance,
                                                 const juce::AudioChannelSet& in,
                                                 const juce::AudioChannelSet& out);

/** Sets the main buses to `numChannels` (1 or 2) and, for a plug-in with a key bus, the key to
    `keyChannels` (0: off) where the format allows, then prepares. True if the main buses came
    out as asked. */
bool prepare (juce::AudioPluginInstance& instance, double rate, int blockSize, int numChannels,
              int keyChannels = 0);

/** The channels of the instance's key bus (its second input bus); 0 without one. */
int getKeyChannels (const juce::AudioProcessor& instance);

/** Processes the looped test signal on its own thread in 512-sample blocks, roughly in real
    time, until stopped; counts bad output samples without allocating. */
class BackgroundProcessing
{
public:
    BackgroundProcessing (juce::AudioProcessor& processorToUse, int numChannelsToUse, double rate);
    ~BackgroundProcessing();

    void start();
    void stop();

    juce::int64 getNumBlocks() const noexcept { return numBlocks.load(); }
    juce::int64 getNumBadSamples() const noexcept { return numBadSamples.load(); }

private:
    void run();

    static constexpr int blockSize = 512;

    juce::AudioProcessor& processor;
    const int numChannels;
    const Signal input;
    juce::AudioBuffer<float> work;
    const std::chrono::microseconds blockDuration;
    std::thread worker;
    std::atomic<bool> running{false};
    std::atomic<juce::int64> numBlocks{0}, numBadSamples{0};
};

} // namespace varnelle::hostcheck
