#pragma once

#include "RenderOptions.h"

#include <functional>

/** Where the renderer reports what is not an error. Either callback may be empty. */
struct RenderCallbacks
{
    /** Called with 10, 20, ... 100 as the render progresses (only for inputs over 5 s). */
    std::function<void (int percent)> progress;

    /** Called for problems that do not stop the render, such as a clamped --set value. */
    std::function<void (const juce::String& message)> warning;
};

/** Does everything `options` asks for: loads the state, applies the settings, renders the
    file and writes the outputs. Nothing is written unless every step succeeds; the failure
    message is meant for the user as it is.

    Needs JUCE's message manager (a juce::ScopedJuceInitialiser_GUI) on the calling thread.
*/
juce::Result runRender (const RenderOptions& options, const RenderCallbacks& callbacks);
