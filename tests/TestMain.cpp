#include "editor/PresetManager.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

// The processor and editor need JUCE's message manager; one initialiser serves every test.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    const juce::ScopedJuceInitialiser_GUI juceInitialiser;

    // Every editor a test builds lists presets: keep them away from the user's real folder.
    const juce::TemporaryFile presetFolder;
    varnelle::editor::PresetManager::overrideDefaultPresetFolder (presetFolder.getFile());

    const int result = RUN_ALL_TESTS();
    varnelle::editor::PresetManager::overrideDefaultPresetFolder ({});
    presetFolder.getFile().deleteRecursively();
    return result;
}
