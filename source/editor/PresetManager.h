#pragma once

#include "engine/VarnelleAudioProcessor.h"

#include <juce_core/juce_core.h>

namespace varnelle::editor
{

/** The preset files of one processor: where they live, how they are named, listed, written,
    renamed, deleted and loaded, and the factory reset. No UI: PresetMenu shows the results.

    A preset file holds exactly the bytes of the processor's getStateInformation, so a preset and
    a host state chunk are interchangeable. Every failure is reported by the return value only
    and leaves files and parameters as they were.

    Message thread only (file access is synchronous; the processor's state calls take the
    parameter tree's own lock). The processor must outlive this object. */
class PresetManager
{
public:
    /** ".varnellepreset" */
    static const juce::String fileExtension;
    /** "*.varnellepreset" */
    static const juce::String fileWildcard;

    enum class LoadResult
    {
        loaded,     // the bytes were a state block and the processor took them
        missing,    // not an existing file: nothing done
        unreadable, // exists but could not be read: nothing changed
        invalid,    // read, but not a state block of this processor (or empty): nothing changed
        tooLarge    // larger than maxPresetFileBytes, so not read at all: nothing changed
    };

    /** The largest file loadPreset reads; a preset holds a few kilobytes. */
    static constexpr juce::int64 maxPresetFileBytes = 1024 * 1024;

    /** `presetFolder` is where presets live; tests pass a temporary folder. Nothing is created
        until the folder is asked for. */
    explicit PresetManager (VarnelleAudioProcessor& processor,
                            juce::File presetFolder = getDefaultPresetFolder());

    /** The per-user folder: user application data, then "Varnelle", then "Presets" (on Linux
        ~/.config/Varnelle/Presets), unless overridden. Only computes the path; creates nothing. */
    static juce::File getDefaultPresetFolder();

    /** Makes getDefaultPresetFolder return `folder` instead, for every manager created after the
        call; a default File undoes it. For tests that build a whole editor, which must not touch
        the user's real presets. Message thread only. */
    static void overrideDefaultPresetFolder (const juce::File& folder);

    void setPresetFolder (const juce::File& newFolder) { folder = newFolder; }

    /** The preset folder, created with its parents when missing. A failure to create it is not
        reported: listing then finds nothing and writes fail. */
    juce::File getPresetFolder() const;

    /** The files directly in the preset folder (folders, other extensions and hidden files,
        whose names start with ".", not) matching "*.varnellepreset", sorted by preset name
        ignoring case. */
    juce::Array<juce::File> listPresetFiles() const;

    /** The file in the preset folder for `presetName` (sanitised first), or a default file for a
        name that sanitises to nothing. */
    juce::File getPresetFile (const juce::String& presetName) const;

    /** Trims, turns each of \ / : * ? " < > | into an underscore, trims again and turns leading
        dots into underscores (a hidden file is never listed); a blank name gives the empty
        string. */
    static juce::String sanitisePresetName (const juce::String& name);

    /** The name shown for a preset file: its file name without the last extension. */
    static juce::String getPresetName (const juce::File& presetFile);

    /** The name proposed in the save dialog for a box showing `shownText`: the text, or
        "New Preset" when it is empty, sanitised ("Factory: Reset" gives "Factory_ Reset"). */
    static juce::String proposeNameForSaving (const juce::String& shownText);

    /** The preset name a save dialog's chosen file stands for: its file name, without
        ".varnellepreset" if it ends so (any case), sanitised. Other dots belong to the name,
        since a dialog need not add the extension ("Live v1.2" stays "Live v1.2"). */
    static juce::String nameFromChosenFile (const juce::File& chosen);

    /** Replaces `target`'s content with `data` the way juce::File::replaceWithData does (a
        hidden temporary file in the same folder, then moved over the target), but never loses
        the old file: empty data (which replaceWithData turns into a delete), a short write or a
        target that is a folder all fail with the target untouched. */
    static bool replaceFileContent (const juce::File& target, const juce::MemoryBlock& data);

    /** Writes the processor's current state over `target`. */
    bool writeCurrentState (const juce::File& target) const;

    /** Writes the current state as preset `name` in the preset folder. Returns the file written,
        or a default file when the name is blank or the write failed. */
    juce::File savePresetWithName (const juce::String& name) const;

    /** True when `target` differs from `oldFile` in letter case at most. Such a rename is never
        carried out, on any file system. */
    static bool isSameNameIgnoringCase (const juce::File& oldFile, const juce::File& target);

    /** The file a rename of `oldFile` to `newName` would produce: a sibling of `oldFile`. */
    static juce::File getRenameTarget (const juce::File& oldFile, const juce::String& newName);

    /** Moves `oldFile` to its sibling named `newName` (replacing an existing file of that name).
        Returns the new file, or a default file when nothing was done: a blank name, a change of
        letter case only, a missing source or a failed move. */
    juce::File renamePreset (const juce::File& oldFile, const juce::String& newName) const;

    /** Deletes the file for good (no recycle bin). True when it is gone. */
    static bool deletePreset (const juce::File& presetFile);

    /** Reads the whole file (unless it is larger than maxPresetFileBytes) and, if it holds a
        usable state block, hands the bytes to the processor's setStateInformation. Anything
        else changes no parameter. */
    LoadResult loadPreset (const juce::File& presetFile);

    /** Every ranged parameter of the processor (in getParameters order) back to its default,
        each inside its own host change gesture. */
    void resetToFactoryDefaults();

    /** The presets compiled into the plug-in, in menu order. */
    static constexpr int numFactoryPresets = 5;

    /** "Tame Harsh Peaks" and so on, without the "Factory: " of the menu; empty when `index`
        is out of range. */
    static juce::String getFactoryPresetName (int index);

    /** Factory preset `index`'s state block, exactly as compiled in (what a host's preset of
        it must hold); empty when `index` is out of range. */
    static juce::MemoryBlock getFactoryPresetState (int index);

    /** Restores factory preset `index`'s state block the way loadPreset restores a file's.
        Every parameter is set, so the result does not depend on the state before. False
        (nothing changed) when `index` is out of range. */
    bool loadFactoryPreset (int index);

    VarnelleAudioProcessor& getProcessor() noexcept { return processor; }

private:
    VarnelleAudioProcessor& processor;
    juce::File folder;

    JUCE_DECLARE_NON_COPYABLE (PresetManager)
};

} // namespace varnelle::editor
