#include "editor/PresetManager.h"

#include "engine/StatePersistence.h"

#include <FactoryPresetData.h>

#include <algorithm>
#include <array>

#if JUCE_LINUX || JUCE_MAC || JUCE_BSD
#include <sys/stat.h>
#endif

namespace varnelle::editor
{

const juce::String PresetManager::fileExtension{".varnellepreset"};
const juce::String PresetManager::fileWildcard{"*.varnellepreset"};

PresetManager::PresetManager (VarnelleAudioProcessor& processorToUse, juce::File presetFolder)
    : processor (processorToUse), folder (std::move (presetFolder))
{
}

namespace
{
bool isRegularFile (const juce::File& file)
{
#if JUCE_LINUX || JUCE_MAC || JUCE_BSD
    struct stat info;
    return ::stat (file.getFullPathName().toRawUTF8(), &info) == 0 && S_ISREG (info.st_mode);
#else
    return file.existsAsFile();
#endif
}

struct FactoryPreset
{
    const char* name;
    const char* stateBlock; // as getStateInformation writes it
    int sizeInBytes;
};

// Written by resources/presets/make-presets.sh; the order is the menu's.
const std::array<FactoryPreset, PresetManager::numFactoryPresets> factoryPresets{{
    {"Tame Harsh Peaks", FactoryPresetData::TameHarshPeaks_varnellepreset,
     FactoryPresetData::TameHarshPeaks_varnellepresetSize},
    {"Clear Low-Mid Build-Up", FactoryPresetData::ClearLowMidBuildUp_varnellepreset,
     FactoryPresetData::ClearLowMidBuildUp_varnellepresetSize},
    {"Lift Quiet Air", FactoryPresetData::LiftQuietAir_varnellepreset,
     FactoryPresetData::LiftQuietAir_varnellepresetSize},
    {"Soften Sibilance", FactoryPresetData::SoftenSibilance_varnellepreset,
     FactoryPresetData::SoftenSibilance_varnellepresetSize},
    {"Steady Low End", FactoryPresetData::SteadyLowEnd_varnellepreset,
     FactoryPresetData::SteadyLowEnd_varnellepresetSize},
}};

bool isFactoryPresetIndex (int index)
{
    return index >= 0 && index < PresetManager::numFactoryPresets;
}

juce::File& defaultFolderOverride()
{
    static juce::File folder;
    return folder;
}
} // namespace

void PresetManager::overrideDefaultPresetFolder (const juce::File& folder)
{
    defaultFolderOverride() = folder;
}

juce::File PresetManager::getDefaultPresetFolder()
{
    if (defaultFolderOverride() != juce::File())
        return defaultFolderOverride();

    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
        .getChildFile ("Varnelle")
        .getChildFile ("Presets");
}

juce::File PresetManager::getPresetFolder() const
{
    if (!folder.exists())
        folder.createDirectory(); // a failure shows up later as an empty list or a failed write

    return folder;
}

juce::Array<juce::File> PresetManager::listPresetFiles() const
{
    // Names starting with a dot are hidden files, among them the temporary file a save
    // interrupted by a crash leaves behind; none of them is a preset the user saved.
    auto files = getPresetFolder().findChildFiles (juce::File::findFiles, false, fileWildcard);
    files.removeIf ([] (const juce::File& file)
                    { return getPresetName (file).isEmpty() || file.getFileName().startsWithChar ('.'); });

    // Names equal but for case (possible on Linux) keep a fixed order.
    std::sort (files.begin(), files.end(),
               [] (const juce::File& a, const juce::File& b)
               {
                   const auto byName = getPresetName (a).compareIgnoreCase (getPresetName (b));
                   if (byName != 0)
                       return byName < 0;
                   return a.getFullPathName().compare (b.getFullPathName()) < 0;
               });

    return files;
}

juce::File PresetManager::getPresetFile (const juce::String& presetName) const
{
    const auto name = sanitisePresetName (presetName);

    if (name.isEmpty())
        return {};

    return getPresetFolder().getChildFile (name + fileExtension);
}

juce::String PresetManager::sanitisePresetName (const juce::String& name)
{
    const auto trimmed = name.trim();

    if (trimmed.isEmpty())
        return {};

    auto safe = trimmed.replaceCharacters ("\\/:*?\"<>|", "_________").trim();

    // A leading dot would make a hidden file, which the list leaves out.
    for (int i = 0; i < safe.length() && safe[i] == '.'; ++i)
        safe = safe.replaceSection (i, 1, "_");
    return safe;
}

juce::String PresetManager::getPresetName (const juce::File& presetFile)
{
    return presetFile.getFileNameWithoutExtension();
}

juce::String PresetManager::proposeNameForSaving (const juce::String& shownText)
{
    return sanitisePresetName (shownText.isEmpty() ? juce::String ("New Preset") : shownText);
}

juce::String PresetManager::nameFromChosenFile (const juce::File& chosen)
{
    auto name = chosen.getFileName();

    if (name.endsWithIgnoreCase (fileExtension))
        name = name.dropLastCharacters (fileExtension.length());

    return sanitisePresetName (name);
}

bool PresetManager::replaceFileContent (const juce::File& target, const juce::MemoryBlock& data)
{
    // replaceWithData deletes the target for empty data and ignores a failed or short write of
    // its temporary file, which then replaces the target all the same. Check every step.
    if (data.isEmpty() || target == juce::File() || target.isDirectory())
        return false;

    const juce::TemporaryFile temporary (target, juce::TemporaryFile::useHiddenFile);

    {
        juce::FileOutputStream out (temporary.getFile());

        if (!out.openedOk() || !out.write (data.getData(), data.getSize()))
            return false;

        out.flush();

        if (out.getStatus().failed())
            return false;
    }

    if (temporary.getFile().getSize() != (juce::int64)data.getSize())
        return false;

    return temporary.overwriteTargetFileWithTemporary();
}

bool PresetManager::writeCurrentState (const juce::File& target) const
{
    juce::MemoryBlock state;
    processor.getStateInformation (state);
    return replaceFileContent (target, state);
}

juce::File PresetManager::savePresetWithName (const juce::String& name) const
{
    const auto file = getPresetFile (name);

    if (file == juce::File() || !writeCurrentState (file))
        return {};

    return file;
}

bool PresetManager::isSameNameIgnoringCase (const juce::File& oldFile, const juce::File& target)
{
    return oldFile.getFullPathName().equalsIgnoreCase (target.getFullPathName());
}

juce::File PresetManager::getRenameTarget (const juce::File& oldFile, const juce::String& newName)
{
    const auto name = sanitisePresetName (newName);

    if (name.isEmpty() || oldFile == juce::File())
        return {};

    return oldFile.getSiblingFile (name + fileExtension);
}

juce::File PresetManager::renamePreset (const juce::File& oldFile, const juce::String& newName) const
{
    const auto target = getRenameTarget (oldFile, newName);

    // A folder in the way would be removed by moveFileTo's delete of the target.
    if (target == juce::File() || isSameNameIgnoringCase (oldFile, target) || !oldFile.existsAsFile() ||
        target.isDirectory())
        return {};

    if (!oldFile.moveFileTo (target))
        return {};

    return target;
}

bool PresetManager::deletePreset (const juce::File& presetFile)
{
    // deleteFile would also remove an empty folder that has taken the preset's name.
    if (presetFile == juce::File() || presetFile.isDirectory())
        return false;

    return presetFile.deleteFile();
}

PresetManager::LoadResult PresetManager::loadPreset (const juce::File& presetFile)
{
    if (!presetFile.existsAsFile())
        return LoadResult::missing;

    // A pipe or a device in the folder would block the message thread on opening, or never
    // end: only regular files are read.
    if (!isRegularFile (presetFile))
        return LoadResult::unreadable;

    // A real preset is a few kilobytes. Reading a huge file would stall the message thread
    // and could run out of memory, so its size decides before a byte is read, and reading
    // stops one byte past the limit whatever the size said.
    if (presetFile.getSize() > maxPresetFileBytes)
        return LoadResult::tooLarge;

    juce::FileInputStream in (presetFile);
    if (!in.openedOk())
        return LoadResult::unreadable;

    juce::MemoryBlock data;
    in.readIntoMemoryBlock (data, maxPresetFileBytes + 1);
    if (in.getStatus().failed())
        return LoadResult::unreadable;

    if (data.getSize() > (size_t)maxPresetFileBytes)
        return LoadResult::tooLarge;

    const auto size = (int)data.getSize();

    if (decodeStateBlock (processor.parameters, data.getData(), size) == nullptr)
        return LoadResult::invalid;

    // Not through setStateInformation: that is the host's restore, which ends the undo history.
    restoreStateBlock (processor.parameters, data.getData(), size);
    return LoadResult::loaded;
}

void PresetManager::resetToFactoryDefaults()
{
    for (auto* parameter : processor.getParameters())
    {
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter))
        {
            ranged->beginChangeGesture();
            ranged->setValueNotifyingHost (ranged->getDefaultValue());
            ranged->endChangeGesture();
        }
    }
}

juce::String PresetManager::getFactoryPresetName (int index)
{
    return isFactoryPresetIndex (index) ? juce::String (factoryPresets[(size_t)index].name) : juce::String();
}

juce::MemoryBlock PresetManager::getFactoryPresetState (int index)
{
    if (!isFactoryPresetIndex (index))
        return {};
    const auto& preset = factoryPresets[(size_t)index];
    return {preset.stateBlock, (size_t)preset.sizeInBytes};
}

bool PresetManager::loadFactoryPreset (int index)
{
    if (!isFactoryPresetIndex (index))
        return false;

    // The restore a user preset takes: not the host's, which would end the undo history.
    const auto& preset = factoryPresets[(size_t)index];
    return restoreStateBlock (processor.parameters, preset.stateBlock, preset.sizeInBytes);
}

} // namespace varnelle::editor
