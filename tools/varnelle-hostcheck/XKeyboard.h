#pragma once

// Types into a plug-in's window the way a person at the keyboard would: the window gets the
// keyboard focus and key events, through the X server like real ones. Message thread only.
#include <juce_core/juce_core.h>

namespace varnelle::hostcheck
{

/** Gives the keyboard focus to the innermost window under `hostWindow` (the plug-in's own
    window inside the host's), clicks it at (clickX, clickY) and sends it each key: "d", "Tab",
    "Up", "ctrl+z", "ctrl+shift+z". False, with `error` set, if there is no display or a key
    name is unknown. */
bool typeIntoPluginWindow (unsigned long hostWindow, int clickX, int clickY, const juce::StringArray& keys,
                           juce::String& error);

} // namespace varnelle::hostcheck
