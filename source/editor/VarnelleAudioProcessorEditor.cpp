#include "VarnelleAudioProcessorEditor.h"

VarnelleAudioProcessorEditor::VarnelleAudioProcessorEditor (VarnelleAudioProcessor& processorToEdit)
    : juce::AudioProcessorEditor (processorToEdit), audioProcessor (processorToEdit)
{
    setResizable (true, true);
    setResizeLimits (900, 620, 2400, 1600);
    setSize (1140, 760);
}

VarnelleAudioProcessorEditor::~VarnelleAudioProcessorEditor() = default;

void VarnelleAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff101418));
    g.setColour (juce::Colours::white.withAlpha (0.8f));
    g.setFont (24.0f);
    g.drawText (audioProcessor.getName(), getLocalBounds(), juce::Justification::centred);
}
