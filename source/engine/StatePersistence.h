#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace varnelle
{

/** Replaces `destData` with the state block: magic "VC2!", the text length, the parameter
    tree as one line of XML, and a zero byte. Leaves `destData` alone if no XML results. */
void writeStateBlock (juce::AudioProcessorValueTreeState& parameters, juce::MemoryBlock& destData);

/** Decodes a state block; null if it is unusable (too short, wrong magic, bad length, not XML,
    or a root other than the tree's type, compared ignoring case). */
std::unique_ptr<juce::XmlElement> decodeStateBlock (const juce::AudioProcessorValueTreeState& parameters,
                                                    const void* data, int sizeInBytes);

/** Restores the parameters from a state block. An unusable block changes nothing. Returns
    whether the block was used (the plug-in ignores it; command-line tools report it). */
bool restoreStateBlock (juce::AudioProcessorValueTreeState& parameters, const void* data, int sizeInBytes);

} // namespace varnelle
