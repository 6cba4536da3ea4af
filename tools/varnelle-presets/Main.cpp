// varnelle-presets: the factory presets compiled into the plug-in, for the places hosts look
// for presets themselves. Run by the build, so that those copies cannot drift from the
// compiled-in ones.
//
//   varnelle-presets lv2 BUNDLE URI
//       writes BUNDLE/presets.ttl with one LV2 preset per factory preset ("Factory: Tame
//       Harsh Peaks", ...), each holding its state block as JUCE's LV2 wrapper restores it, and
//       lists them in BUNDLE/manifest.ttl (once: a second run finds them there).
//   varnelle-presets states FOLDER
//       writes each factory preset's state block as FOLDER/Factory - <name>.state and its
//       parameter values as FOLDER/Factory - <name>.values, for varnelle-vst3-presets.
//   varnelle-presets values
//       prints each factory preset's label and parameter values (ID=REAL/NORMALISED, in
//       parameter order), one line each, for the tests that compare a host's presets with them.

#include "editor/PresetManager.h"
#include "engine/VarnelleAudioProcessor.h"

#include <iostream>

namespace
{
using varnelle::editor::PresetManager;

juce::String labelOf (int index)
{
    return "Factory: " + PresetManager::getFactoryPresetName (index);
}

juce::String presetUri (const juce::String& pluginUri, int index)
{
    return pluginUri + ":factory-preset-" + juce::String (index + 1);
}

int writeLv2Presets (const juce::File& bundle, const juce::String& uri)
{
    const auto manifestFile = bundle.getChildFile ("manifest.ttl");
    auto manifest = manifestFile.loadFileAsString();
    if (manifest.isEmpty())
    {
        std::cerr << "varnelle-presets: no manifest.ttl in " << bundle.getFullPathName() << std::endl;
        return 1;
    }

    // JUCE's wrapper restores a preset's "StateString" (its own base64 of the state block) when
    // the preset holds no program number.
    juce::String presets = "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n";
    juce::String listed;
    for (int i = 0; i < PresetManager::numFactoryPresets; ++i)
    {
        presets << "\n<" << presetUri (uri, i) << ">\n\tstate:state [ <" << uri << ":StateString> \""
                << PresetManager::getFactoryPresetState (i).toBase64Encoding() << "\" ] .\n";
        listed << "\n<" << presetUri (uri, i) << ">\n\ta pset:Preset ;\n\tlv2:appliesTo <" << uri
               << "> ;\n\trdfs:label \"" << labelOf (i) << "\" ;\n\trdfs:seeAlso <presets.ttl> .\n";
    }
    if (!bundle.getChildFile ("presets.ttl").replaceWithText (presets, false, false, "\n"))
        return 1;
    if (!manifest.contains ("<presets.ttl>") &&
        !manifestFile.replaceWithText (manifest + listed, false, false, "\n"))
        return 1;
    return 0;
}

// Beside each state block, its parameters' normalised values by name ("Band 1 Gain<TAB>0.5"),
// exact as floats: a VST3 host reaches the plug-in's state only through those.
int writeStates (const juce::File& folder)
{
    if (!folder.createDirectory())
        return 1;
    VarnelleAudioProcessor processor;
    for (int i = 0; i < PresetManager::numFactoryPresets; ++i)
    {
        const auto state = PresetManager::getFactoryPresetState (i);
        processor.setStateInformation (state.getData(), (int)state.getSize());
        juce::String values;
        for (auto* parameter : processor.getParameters())
            values << parameter->getName (64) << "\t" << juce::String (parameter->getValue(), 9) << "\n";
        // A VST3 host shows the file's name. No colon: Windows allows none in a file name, and
        // Ardour's VST3 preset URIs split at colons.
        const auto fileName = "Factory - " + PresetManager::getFactoryPresetName (i);
        if (!folder.getChildFile (fileName + ".state").replaceWithData (state.getData(), state.getSize()) ||
            !folder.getChildFile (fileName + ".values").replaceWithText (values, false, false, "\n"))
            return 1;
    }
    return 0;
}

int printValues()
{
    VarnelleAudioProcessor processor;
    for (int i = 0; i < PresetManager::numFactoryPresets; ++i)
    {
        const auto state = PresetManager::getFactoryPresetState (i);
        processor.setStateInformation (state.getData(), (int)state.getSize());
        juce::String line = labelOf (i);
        for (auto* parameter : processor.getParameters())
            if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter))
                line << "\t" << ranged->getParameterID() << "="
                     << juce::String (ranged->convertFrom0to1 (ranged->getValue()), 4) << "/"
                     << juce::String (ranged->getValue(), 9);
        std::cout << line << "\n";
    }
    return 0;
}
} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    const juce::StringArray args (argv + 1, argc - 1);
    if (args.size() == 3 && args[0] == "lv2")
        return writeLv2Presets (juce::File (args[1]), args[2]);
    if (args.size() == 2 && args[0] == "states")
        return writeStates (juce::File (args[1]));
    if (args.size() == 1 && args[0] == "values")
        return printValues();
    std::cerr << "usage: varnelle-presets lv2 BUNDLE URI | states FOLDER | values" << std::endl;
    return 2;
}
