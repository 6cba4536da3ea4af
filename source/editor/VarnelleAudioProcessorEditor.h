#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "engine/VarnelleAudioProcessor.h"

/** The plug-in window. Message thread only; the processor outlives it. */
class VarnelleAudioProcessorEditor : public juce::AudioProcessorEditor
{
public:
    explicit VarnelleAudioProcessorEditor (VarnelleAudioProcessor& processorToEdit);
    ~VarnelleAudioProcessorEditor() override;

    void paint (juce::Graphics& g) override;

private:
    VarnelleAudioProcessor& audioProcessor;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VarnelleAudioProcessorEditor)
};
