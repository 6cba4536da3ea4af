// The function JUCE's format wrappers call to make the plug-in. Each plug-in's wrappers compile
// this file with their own VARNELLE_KEYED_PLUGIN, so that the one shared library both link
// holds no entry point of either.

#include "engine/VarnelleAudioProcessor.h"

#ifndef VARNELLE_KEYED_PLUGIN
#error "VARNELLE_KEYED_PLUGIN must say which plug-in this is (0: Varnelle, 1: Varnelle Key)"
#endif

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new VarnelleAudioProcessor (VARNELLE_KEYED_PLUGIN ? VarnelleAudioProcessor::Variant::keyed
                                                             : VarnelleAudioProcessor::Variant::plain);
}
