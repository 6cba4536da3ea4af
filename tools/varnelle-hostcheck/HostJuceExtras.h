#pragma once

namespace varnelle::hostcheck
{

/** Closes every VST3 library that JUCE's VST3 format has opened (JUCE otherwise keeps them
    until shutdown). Message thread; no instance of any VST3 plug-in may still exist. */
void unloadCachedVst3Modules();

} // namespace varnelle::hostcheck
