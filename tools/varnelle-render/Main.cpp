#include "InterruptCleanup.h"
#include "RenderOptions.h"
#include "Renderer.h"

#include <juce_events/juce_events.h>

#include <iostream>

int main (int argc, char* argv[])
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    const auto parsed = parseRenderOptions (args);
    if (!parsed.options.has_value())
    {
        std::cerr << "varnelle-render: " << parsed.error << std::endl;
        return 1;
    }

    if (parsed.options->showHelp)
    {
        std::cout << getRenderUsage();
        return 0;
    }

    // Ctrl+C or a kill during a long render leaves no temporary output behind.
    interruptCleanup::install();

    // The processor's parameters and editor expect a message manager; no display is needed.
    const juce::ScopedJuceInitialiser_GUI juceInitialiser;

    RenderCallbacks callbacks;
    callbacks.progress = [] (int percent)
    { std::cerr << "varnelle-render: " << percent << "%" << std::endl; };
    callbacks.warning = [] (const juce::String& message)
    { std::cerr << "varnelle-render: warning: " << message << std::endl; };

    const auto result = runRender (*parsed.options, callbacks);
    if (result.failed())
    {
        std::cerr << "varnelle-render: " << result.getErrorMessage() << std::endl;
        return 1;
    }

    return 0;
}
