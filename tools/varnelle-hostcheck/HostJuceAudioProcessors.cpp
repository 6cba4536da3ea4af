// JUCE's juce_audio_processors module, compiled for the host tool only (with the VST3 and LV2
// hosts enabled), plus the one function the module does not offer: unloading cached VST3
// modules before JUCE shuts down.
#include <juce_audio_processors/juce_audio_processors.cpp>

#include "HostJuceExtras.h"

namespace varnelle::hostcheck
{

void unloadCachedVst3Modules()
{
    // Message thread. Destroying the cache releases each module's factory, calls its
    // ModuleExit and closes the library; the next instance opens the module again.
    juce::DLLHandleCache::deleteInstance();
}

} // namespace varnelle::hostcheck
