#include "VarnelleAudioProcessor.h"

#include "MessageThreadTimerStop.h"
#include "StatePersistence.h"
#include "editor/VarnelleAudioProcessorEditor.h"

#include <type_traits>

VarnelleAudioProcessor::VarnelleAudioProcessor()
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      parameters (*this, nullptr, "Parameters", createParameterLayout()),
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
    return "Varnelle";
}

void VarnelleAudioProcessor::prepareToPlay (double sampleRate, int)
{
    setLatencySamples (varnelle::latencySamples);
    engine.prepare (sampleRate, juce::jmax (getTotalNumInputChannels(), getTotalNumOutputChannels()));
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
    const int numInputs = juce::jmin (getTotalNumInputChannels(), buffer.getNumChannels());
    for (int ch = numInputs; ch < buffer.getNumChannels(); ++ch)
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
    for (int ch = 0; ch < numInputs; ++ch)
        engine.processChannel (ch, buffer.getWritePointer (ch), numSamples);
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
    return layouts.getMainInputChannelSet() == output;
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

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new VarnelleAudioProcessor();
}
