#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

// The processor and editor need JUCE's message manager; one initialiser serves every test.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    const juce::ScopedJuceInitialiser_GUI juceInitialiser;
    return RUN_ALL_TESTS();
}
