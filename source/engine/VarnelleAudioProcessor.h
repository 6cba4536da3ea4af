#pragma once

#include "BandParameters.h"
#include "EditHistory.h"
#include "SpectrumExchange.h"
#include "StftEngine.h"

#include <juce_audio_processors/juce_audio_processors.h>

/** The plug-in's audio processor: identity, buses, the 55 band parameters, state, and the
    STFT engine that does the signal work. One class serves both plug-ins: Varnelle, whose
    bands measure their own input, and Varnelle Key, whose bands measure a second input bus
    ("Key") when the host gives it one. They share parameters, state block and presets.

    Threads: the host's audio thread calls prepareToPlay, processBlock and releaseResources
    (never concurrently). The message thread builds the editor, which reads `parameters` and
    polls getLatestSpectra. State save and restore may come from any thread; the parameter
    tree's lock serialises them. The audio thread reads parameters only through `bandParams`.
*/
class VarnelleAudioProcessor : public juce::AudioProcessor
{
public:
    enum class Variant
    {
        plain, // Varnelle: main buses only
        keyed  // Varnelle Key: plus the "Key" input bus
    };

    explicit VarnelleAudioProcessor (Variant variant = Variant::plain);
    ~VarnelleAudioProcessor() override;

    bool isKeyed() const noexcept { return pluginVariant == Variant::keyed; }

    /** What the bands of Varnelle Key listen to: no key (Varnelle, or a key bus the host left
        off: the levels come from the input), a key that sounds, or one that has been silent
        for keySilenceSeconds (a host may route nothing to ports it always connects). Written
        by the audio thread after each block; any thread. */
    enum class KeyStatus
    {
        none,
        sounding,
        silent
    };
    KeyStatus getKeyStatus() const noexcept { return keyStatus.load (std::memory_order_relaxed); }
    static constexpr double keySilenceSeconds = 1.0;

    const juce::String getName() const override;

    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;
    /** The host's bypass: the input delayed by the reported latency, exactly, so the track
        stays in time; the engine keeps running meanwhile (see StftEngine::setBypassed). */
    void processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlockBypassed;

    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    /** Message thread: copies the newest before/after display spectra (1024 values each) if
        a pair newer than `lastSeenFrame` exists. */
    bool getLatestSpectra (float* before, float* after, int& lastSeenFrame);
    /** The same with what the bands did to that frame (the gain change per bin, each band's
        activity). */
    bool getLatestDisplayFrame (varnelle::DisplayFrame& frame, int& lastSeenFrame);
    /** Each band's activity alone from that frame (numBands values, in dB). */
    bool getLatestBandActivity (float* activityDb, int& lastSeenFrame);

    static juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout();

    /** The sample rate the engine computes with: 44100 until prepared. */
    double getCurrentSampleRate() const noexcept { return engine.getSampleRate(); }
    const varnelle::StftEngine& getEngine() const noexcept { return engine; }
    /** Picks the engine's kernel variant (to compare them); before processing starts. */
    void setKernelVariant (varnelle::KernelVariant variant) noexcept { engine.setKernelVariant (variant); }
    const varnelle::BandParamPointers& getBandParams() const noexcept { return bandParams; }

    /** "Listen to the Change": the output becomes what the bands add or remove (see
        StftEngine::setListeningToChange). Not saved, not automatable, off when created. Any
        thread. */
    void setListeningToChange (bool shouldListen) noexcept { listeningToChange = shouldListen; }
    bool isListeningToChange() const noexcept { return listeningToChange; }

    /** Listening to one band's change (band 0..4, -1: off; see StftEngine::setListeningToBand).
        Not saved, not automatable, off when created. Any thread. */
    void setListeningToBand (int band) noexcept
    {
        listeningBand = band >= 0 && band < varnelle::numBands ? band : -1;
    }
    int getListeningBand() const noexcept { return listeningBand; }

    /** The window's switch between the two ways of listening, radio-like: `band` -1 is "the
        Change", 0..4 that band's change; choosing what is on turns listening off. */
    void switchListeningTo (int band) noexcept
    {
        const bool isOn =
            band < 0 ? isListeningToChange() && getListeningBand() < 0 : getListeningBand() == band;
        setListeningToBand (isOn || band < 0 ? -1 : band);
        setListeningToChange (!isOn && band < 0);
    }

    /** The undo history of the window's edits; message thread. */
    varnelle::EditHistory& getEditHistory() noexcept { return editHistory; }

    juce::AudioProcessorValueTreeState parameters;

private:
    void cacheBandParamPointers();
    void processAudio (juce::AudioBuffer<float>& buffer, bool bypassedByHost);
    void processKeyed (juce::AudioBuffer<float>& buffer, int numMain, int numKey);
    void noteKeyStatus (int numMain, int numKey) noexcept;

    static BusesProperties makeBuses (Variant variant);

    const Variant pluginVariant;

    varnelle::BandParamPointers bandParams{};
    varnelle::SpectrumExchange spectrumExchange;
    varnelle::StftEngine engine;
    varnelle::EditHistory editHistory{*this};
    std::atomic<bool> listeningToChange{false};
    std::atomic<int> listeningBand{-1};
    std::atomic<KeyStatus> keyStatus{KeyStatus::none};
    // A mono input's key from a stereo one: the mean of its channels, a part of a block at a
    // time. Sized in prepareToPlay.
    std::vector<float> keyMix;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VarnelleAudioProcessor)
};
