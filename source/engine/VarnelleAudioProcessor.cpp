#include "VarnelleAudioProcessor.h"

#include "MessageThreadTimerStop.h"
#include "StatePersistence.h"
#include "editor/VarnelleAudioProcessorEditor.h"

#include <cmath>
#include <type_traits>

juce::AudioProcessor::BusesProperties VarnelleAudioProcessor::makeBuses (Variant variant)
{
    auto buses = BusesProperties()
                     .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                     .withOutput ("Output", juce::AudioChannelSet::stereo(), true);
    if (variant == VarnelleAudioProcessor::Variant::keyed)
    {
        // VST3 hosts switch a side-chain bus on when the user routes a key. JUCE's LV2 wrapper
        // declares ports for every bus and reads an optional port a host left unconnected
        // through a null pointer, so there the key is on and its ports are not optional.
        const bool onByDefault =
            juce::PluginHostType::getPluginLoadedAs() == juce::AudioProcessor::wrapperType_LV2;
        buses = buses.withInput ("Key", juce::AudioChannelSet::stereo(), onByDefault);
    }
    return buses;
}

namespace
{
// A mono input with a stereo key listens to both key channels alike.
void mixKeyToMono (const float* left, const float* right, float* mono, int numSamples) noexcept
{
    for (int k = 0; k < numSamples; ++k)
    {
        const float l = std::isfinite (left[k]) ? left[k] : 0.0f;
        const float r = std::isfinite (right[k]) ? right[k] : 0.0f;
        mono[k] = 0.5f * (l + r);
    }
}
} // namespace

VarnelleAudioProcessor::VarnelleAudioProcessor (Variant variantToBe)
    : juce::AudioProcessor (makeBuses (variantToBe)),
      parameters (*this, nullptr, "Parameters", createParameterLayout()), pluginVariant (variantToBe),
      engine (bandParams, &spectrumExchange)
{
    cacheBandParamPointers();
    setLatencySamples (varnelle::latencySamples);
}

VarnelleAudioProcessor::~VarnelleAudioProcessor()
{
    // The parameter tree flushes values from a timer on the message thread. LV2 hosts may
    // destroy the plug-in on another thread while JUCE's own message thread runs; that timer
    // must not fire while the tree is being destroyed. A running message thread answers within
    // milliseconds; the short wait only bounds the stall when a host that drives JUCE's messages
    // itself waits for this thread meanwhile. (A C-style cast reaches the tree's private Timer
    // base; the tree offers no other way to stop it.)
    static_assert (std::is_base_of_v<juce::Timer, juce::AudioProcessorValueTreeState>,
                   "the parameter tree no longer is a Timer: revisit this");
    varnelle::stopTimerOnMessageThread ((juce::Timer&)parameters, 250);
}

const juce::String VarnelleAudioProcessor::getName() const
{
    return isKeyed() ? "Varnelle Key" : "Varnelle";
}

void VarnelleAudioProcessor::prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock)
{
    setLatencySamples (varnelle::latencySamples);
    engine.prepare (sampleRate, juce::jmax (getMainBusNumInputChannels(), getMainBusNumOutputChannels()));
    if (isKeyed())
        keyMix.resize ((size_t)juce::jlimit (512, 1 << 16, maximumExpectedSamplesPerBlock));
    keyStatus.store (KeyStatus::none, std::memory_order_relaxed);
}

void VarnelleAudioProcessor::releaseResources()
{
    engine.reset();
}

void VarnelleAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    processAudio (buffer, false);
}

void VarnelleAudioProcessor::processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    // JUCE's default passes the input through undelayed, which would move the track 2048
    // samples earlier against the host's delay compensation, and would freeze the engine, so
    // that switching back replayed audio from before the bypass.
    processAudio (buffer, true);
}

void VarnelleAudioProcessor::processAudio (juce::AudioBuffer<float>& buffer, bool bypassedByHost)
{
    const juce::ScopedNoDenormals noDenormals;

    const int numSamples = buffer.getNumSamples();
    // The main input's channels come first in the buffer, then the key's (an input only).
    const int numInputs = juce::jmin (getMainBusNumInputChannels(), buffer.getNumChannels());
    const int numKey =
        isKeyed() ? juce::jmin (getChannelCountOfBus (true, 1), buffer.getNumChannels() - numInputs) : 0;
    for (int ch = numInputs + numKey; ch < buffer.getNumChannels(); ++ch)
        buffer.clear (ch, 0, numSamples);

    // A host that skips prepareToPlay gets silence rather than a crash.
    if (!engine.isPrepared())
    {
        buffer.clear();
        return;
    }

    engine.setBypassed (bypassedByHost);
    engine.setListeningToChange (listeningToChange.load (std::memory_order_relaxed));
    engine.setListeningToBand (listeningBand.load (std::memory_order_relaxed));
    engine.ensureChannels (numInputs);
    if (numKey > 0)
        processKeyed (buffer, numInputs, numKey);
    else
        for (int ch = 0; ch < numInputs; ++ch)
            engine.processChannel (ch, buffer.getWritePointer (ch), numSamples);
    noteKeyStatus (numInputs, numKey);
}

// Key channel c serves main channel c; a mono key serves both; a mono input hears the mean of
// a stereo key.
void VarnelleAudioProcessor::processKeyed (juce::AudioBuffer<float>& buffer, int numMain, int numKey)
{
    const int numSamples = buffer.getNumSamples();
    if (numMain == 1 && numKey >= 2 && !keyMix.empty())
    {
        const float* left = buffer.getReadPointer (1);
        const float* right = buffer.getReadPointer (2);
        for (int done = 0; done < numSamples;)
        {
            const int n = juce::jmin (numSamples - done, (int)keyMix.size());
            mixKeyToMono (left + done, right + done, keyMix.data(), n);
            engine.processChannel (0, buffer.getWritePointer (0) + done, n, keyMix.data());
            done += n;
        }
        return;
    }
    for (int ch = 0; ch < numMain; ++ch)
        engine.processChannel (ch, buffer.getWritePointer (ch), numSamples,
                               buffer.getReadPointer (numMain + juce::jmin (ch, numKey - 1)));
}

void VarnelleAudioProcessor::noteKeyStatus (int numMain, int numKey) noexcept
{
    auto status = KeyStatus::none;
    if (numKey > 0 && numMain > 0)
    {
        auto silentFor = varnelle::keySilenceLimit;
        for (int ch = 0; ch < numMain; ++ch)
            silentFor = std::min (silentFor, engine.getChannelState (ch).zeroKeyRun);
        status = (double)silentFor >= keySilenceSeconds * engine.getSampleRate() ? KeyStatus::silent
                                                                                 : KeyStatus::sounding;
    }
    keyStatus.store (status, std::memory_order_relaxed);
}

double VarnelleAudioProcessor::getTailLengthSeconds() const
{
    return 0.0;
}
bool VarnelleAudioProcessor::acceptsMidi() const
{
    return false;
}
bool VarnelleAudioProcessor::producesMidi() const
{
    return false;
}

juce::AudioProcessorEditor* VarnelleAudioProcessor::createEditor()
{
    return new VarnelleAudioProcessorEditor (*this);
}

bool VarnelleAudioProcessor::hasEditor() const
{
    return true;
}

int VarnelleAudioProcessor::getNumPrograms()
{
    return 1;
}
int VarnelleAudioProcessor::getCurrentProgram()
{
    return 0;
}
void VarnelleAudioProcessor::setCurrentProgram (int) {}
const juce::String VarnelleAudioProcessor::getProgramName (int)
{
    return {};
}
void VarnelleAudioProcessor::changeProgramName (int, const juce::String&) {}

void VarnelleAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    varnelle::writeStateBlock (parameters, destData);
}

void VarnelleAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    // Undoing past a project load would be confusing: the history starts again.
    editHistory.requestClear();
    varnelle::restoreStateBlock (parameters, data, sizeInBytes);
    // Again: an edit that began meanwhile must not take the restore for its own change.
    editHistory.requestClear();
}

bool VarnelleAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto output = layouts.getMainOutputChannelSet();
    if (output != juce::AudioChannelSet::mono() && output != juce::AudioChannelSet::stereo())
        return false;
    if (layouts.getMainInputChannelSet() != output)
        return false;
    if (!isKeyed())
        return true;
    if (layouts.inputBuses.size() != 2)
        return false;
    const auto key = layouts.getChannelSet (true, 1);
    return key.isDisabled() || key == juce::AudioChannelSet::mono() || key == juce::AudioChannelSet::stereo();
}

bool VarnelleAudioProcessor::getLatestSpectra (float* before, float* after, int& lastSeenFrame)
{
    return spectrumExchange.fetchLatest (before, after, lastSeenFrame);
}

bool VarnelleAudioProcessor::getLatestDisplayFrame (varnelle::DisplayFrame& frame, int& lastSeenFrame)
{
    return spectrumExchange.fetchLatest (frame, lastSeenFrame);
}

bool VarnelleAudioProcessor::getLatestBandActivity (float* activityDb, int& lastSeenFrame)
{
    return spectrumExchange.fetchLatestActivity (activityDb, lastSeenFrame);
}

juce::AudioProcessorValueTreeState::ParameterLayout VarnelleAudioProcessor::createParameterLayout()
{
    return varnelle::createBandParameterLayout();
}

void VarnelleAudioProcessor::cacheBandParamPointers()
{
    bandParams = varnelle::findBandParamPointers (parameters);
}
