// varnelle-vst3-presets: writes the factory presets as .vstpreset files, the files VST3 hosts
// list in their preset browsers, through JUCE's own VST3 host: the built plug-in is loaded, each
// preset's parameter values (as varnelle-presets wrote them from the compiled-in presets) are
// set as a host sets them, and the host side writes the preset file from the instance, as a DAW
// saving a preset would. The file must then hold the compiled-in state block itself, byte for
// byte, or nothing is written.
//
//   varnelle-vst3-presets VST3_BUNDLE STATE_FOLDER OUTPUT_FOLDER
//       STATE_FOLDER holds "<label>.state" and "<label>.values"; OUTPUT_FOLDER gets
//       "<label>.vstpreset".

#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>
#include <iostream>

namespace
{
struct PresetWriter final : juce::ExtensionsVisitor
{
    void visitVST3Client (const VST3Client& client) override { preset = client.getPreset(); }
    juce::MemoryBlock preset;
};

int writePresets (const juce::File& bundle, const juce::File& states, const juce::File& output)
{
    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile (found, bundle.getFullPathName());
    if (found.size() != 1)
    {
        std::cerr << "varnelle-vst3-presets: " << found.size() << " plug-ins in " << bundle.getFullPathName()
                  << std::endl;
        return 1;
    }

    juce::String error;
    auto instance = format.createInstanceFromDescription (*found[0], 48000.0, 512, error);
    if (instance == nullptr)
    {
        std::cerr << "varnelle-vst3-presets: no instance: " << error << std::endl;
        return 1;
    }

    const auto stateFiles = states.findChildFiles (juce::File::findFiles, false, "*.state");
    if (stateFiles.isEmpty() || !output.createDirectory())
        return 1;
    instance->prepareToPlay (48000.0, 512);
    juce::AudioBuffer<float> silence (
        std::max (instance->getTotalNumInputChannels(), instance->getTotalNumOutputChannels()), 512);
    juce::MidiBuffer midi;
    for (const auto& stateFile : stateFiles)
    {
        juce::MemoryBlock state;
        stateFile.loadFileAsData (state);
        juce::StringArray values;
        values.addLines (stateFile.withFileExtension ("values").loadFileAsString());
        for (const auto& line : values)
            for (auto* parameter : instance->getParameters())
                if (line.isNotEmpty() &&
                    parameter->getName (64) == line.upToFirstOccurrenceOf ("\t", false, false))
                    parameter->setValue (line.fromFirstOccurrenceOf ("\t", false, false).getFloatValue());
        silence.clear();
        instance->processBlock (silence, midi); // delivers the changes to the processor

        PresetWriter writer;
        instance->getExtensions (writer);
        const auto* begin = static_cast<const char*> (writer.preset.getData());
        const auto* end = begin + writer.preset.getSize();
        const auto* stateBegin = static_cast<const char*> (state.getData());
        const bool holdsState =
            state.getSize() > 0 && std::search (begin, end, stateBegin, stateBegin + state.getSize()) != end;
        if (!holdsState)
        {
            std::cerr << "varnelle-vst3-presets: the preset written for " << stateFile.getFileName()
                      << " does not hold its state block" << std::endl;
            return 1;
        }
        const auto target = output.getChildFile (stateFile.getFileNameWithoutExtension() + ".vstpreset");
        if (!target.replaceWithData (writer.preset.getData(), writer.preset.getSize()))
        {
            std::cerr << "varnelle-vst3-presets: cannot write " << target.getFullPathName() << std::endl;
            return 1;
        }
    }
    instance->releaseResources();
    return 0;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 4)
    {
        std::cerr << "usage: varnelle-vst3-presets VST3_BUNDLE STATE_FOLDER OUTPUT_FOLDER" << std::endl;
        return 2;
    }
    int result = 1;
    {
        const juce::ScopedJuceInitialiser_GUI juce;
        result = writePresets (juce::File (argv[1]), juce::File (argv[2]), juce::File (argv[3]));
    }
    return result;
}
