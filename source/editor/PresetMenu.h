#pragma once

#include "editor/PresetManager.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

namespace varnelle::editor
{

/** The asynchronous UI the preset controls need: the "..." menu, the save dialog, the two
    confirmations, the load failure message and showing the folder. Each call returns at once;
    a callback (where there is one) runs later on the message thread, possibly after the
    component that asked has been deleted, so callers guard their callbacks themselves.
    Tests replace it with a recorder that fires the callbacks when they choose. */
class PresetUi
{
public:
    virtual ~PresetUi() = default;

    /** Shows `menu` at `target`; `onResult` gets the chosen item ID, 0 when dismissed. */
    virtual void showMenu (const juce::PopupMenu& menu, juce::Component& target,
                           std::function<void (int)> onResult) = 0;

    /** A save dialog starting at `initialFile`; `onChosen` gets the chosen file, or a default
        file when cancelled. */
    virtual void chooseSaveFile (const juce::String& title, const juce::File& initialFile,
                                 std::function<void (const juce::File&)> onChosen) = 0;

    /** "Delete Preset" / "Delete '<name>'?" with OK and Cancel; `onResult` gets true for OK. */
    virtual void confirmDelete (const juce::String& presetName, juce::Component& associatedComponent,
                                std::function<void (bool)> onResult) = 0;

    /** Asked only when the save dialog did not itself warn about replacing the preset (the user
        chose another folder, or the name changed when made safe): "Replace Preset" /
        "Replace '<name>'?"; `onResult` gets true for OK. */
    virtual void confirmReplace (const juce::String& presetName, juce::Component& associatedComponent,
                                 std::function<void (bool)> onResult) = 0;

    /** "Preset" / "Failed to load preset:\n<full path>", one OK button, nothing to wait for. */
    virtual void showLoadFailure (const juce::File& presetFile) = 0;

    /** "Preset" / "'<file name>' is not a Varnelle preset.", one OK button, nothing to wait
        for: a file too large to be one, which is therefore not even read. */
    virtual void showNotAPreset (const juce::File& presetFile) = 0;

    /** Shows the folder in the system's file browser. */
    virtual void revealFolder (const juce::File& folder) = 0;
};

/** The PresetUi of the plug-in: JUCE's popup menu, native file chooser and asynchronous alert
    windows with the warning icon. */
class JucePresetUi : public PresetUi
{
public:
    /** saveMode | canSelectFiles | warnAboutOverwriting */
    static constexpr int saveDialogFlags = juce::FileBrowserComponent::saveMode |
                                           juce::FileBrowserComponent::canSelectFiles |
                                           juce::FileBrowserComponent::warnAboutOverwriting;

    void showMenu (const juce::PopupMenu& menu, juce::Component& target,
                   std::function<void (int)> onResult) override;
    void chooseSaveFile (const juce::String& title, const juce::File& initialFile,
                         std::function<void (const juce::File&)> onChosen) override;
    void confirmDelete (const juce::String& presetName, juce::Component& associatedComponent,
                        std::function<void (bool)> onResult) override;
    void confirmReplace (const juce::String& presetName, juce::Component& associatedComponent,
                         std::function<void (bool)> onResult) override;
    void showLoadFailure (const juce::File& presetFile) override;
    void showNotAPreset (const juce::File& presetFile) override;
    void revealFolder (const juce::File& folder) override;
};

/** The preset box and the "..." menu of the editor: fills the box from the preset folder,
    loads the picked preset or resets to the factory values, and carries out the menu's save,
    save-as, rename, delete, open-folder and refresh commands.

    The box's component properties carry the preset state: "selectedPresetPath" (the file last
    loaded, saved or renamed to; empty for the factory entries) and "presetPath_<id>" (the file
    behind item <id>, for ids from 2 up to below firstFactoryPresetId). Nothing of it is saved
    with the plug-in state.

    The factory presets follow "Factory: Reset" in the box as "Factory: <name>", with item IDs
    from firstFactoryPresetId; they cannot be saved over, renamed or deleted.

    `owner` is the component these controls belong to (the editor); it is repainted after a
    load and is the associated component of the confirmations. Every pending menu, dialog or
    alert callback checks that both the owner and this object still exist and otherwise does
    nothing. Declare this object after the box and the button it is given so that it dies
    first; it detaches their actions when it does.

    Message thread only. */
class PresetMenu
{
public:
    enum MenuItemId
    {
        savePresetItem = 1,
        saveAsItem = 2,
        renameItem = 3,
        deleteItem = 4,
        openFolderItem = 5,
        refreshListItem = 6,
        undoItem = 7,
        redoItem = 8,
        listenToChangeItem = 9,
        listenToBandItem = 10, // 10..14: "Listen to Band 1's Change" .. "Listen to Band 5's Change"
        changeViewItem = 15    // "View: Change"
    };

    static constexpr int factoryItemId = 1;
    /** Factory preset i is item firstFactoryPresetId + i; user presets are never listed there. */
    static constexpr int firstFactoryPresetId = 10000;
    static const juce::String factoryItemText;   // "Factory: Reset"
    static const juce::String selectedPathKey;   // "selectedPresetPath"
    static const juce::String itemPathKeyPrefix; // "presetPath_"

    /** `ui` null: JucePresetUi. `presetFolder`: tests pass a temporary folder. */
    PresetMenu (VarnelleAudioProcessor& processor, juce::Component& owner, juce::ComboBox& presetBox,
                juce::TextButton& presetMenuButton, std::unique_ptr<PresetUi> ui = nullptr,
                juce::File presetFolder = PresetManager::getDefaultPresetFolder());
    ~PresetMenu();

    /** Colours, texts and initial content of both controls, the box's change action
        (loadSelectedPreset) and the button's click action (showPresetMenu), then one
        refreshPresetList. Call once, from the owner's constructor. */
    void setUpControls();

    /** Rebuilds the box from the folder and re-selects the remembered preset if still listed,
        else shows the factory entry. No change notification. */
    void refreshPresetList();

    /** The file behind the selected item, or a default file for the factory entry or none. */
    juce::File getSelectedPresetFile() const;

    /** The box's change action: loads the picked preset (a factory preset by loadFactoryPreset),
        or resets to the factory values. Only a file that exists but cannot be read
        (showLoadFailure) and a file too large to be a preset (showNotAPreset) are reported; a
        vanished file or bytes that are no state block (an empty file too) change nothing and
        show nothing. */
    void loadSelectedPreset();

    /** Loads factory preset `index` (PresetManager order) as one undo step, "Load Preset
        'Factory: <name>'", and shows it in the box: the one call every factory preset load
        makes. An index out of range does nothing. */
    void loadFactoryPreset (int index);

    /** The factory preset that item `itemId` stands for, or -1. */
    static int getFactoryPresetIndex (int itemId);

    /** The button's click action: shows the menu of buildPresetMenu at the button. */
    void showPresetMenu();

    /** The "..." menu; "Rename..." and "Delete" are enabled only while a user preset is
        selected. After the preset entries: "Undo <step>" and "Redo <step>" (disabled when there
        is nothing to undo or redo), "Listen to the Change" and "Listen to Band N's Change" for
        the five bands, the one that is on ticked. */
    juce::PopupMenu buildPresetMenu() const;

    /** Carries out a menu choice (MenuItemId); 0 and unknown IDs do nothing. */
    void handlePresetMenuResult (int itemId);

    /** Writes the current state as preset `name` and selects it; a blank name or a failed write
        changes nothing. */
    void savePresetWithName (const juce::String& name);

    /** Opens the save dialog at the preset folder with `proposed` (or "New Preset") and hands
        `action` the sanitised name chosen, or an empty string when cancelled. The dialog's
        folder is ignored. */
    void askForPresetName (const juce::String& title, const juce::String& proposed,
                           std::function<void (juce::String)> action);

    /** The name the save dialog proposes for the box's current text; for a factory preset its
        name without "Factory: ", so that the save makes a new user preset. */
    juce::String getProposedNameForSaving() const;

    juce::String getSelectedPresetPath() const;

    /** Called after the menu switched "Listen to the Change" (the window shows it). */
    std::function<void()> onListeningToChangeSwitched;

    /** Whether the display shows the Change view (the entry's tick), and what "View: Change"
        does; without them the entry is left out. */
    std::function<bool()> isShowingChange;
    std::function<void()> onChangeViewToggled;

    PresetManager& getManager() noexcept { return manager; }

private:
    void askForPresetName (const juce::String& title, const juce::String& proposed,
                           const juce::File& renameSource, std::function<void (juce::String)> action);
    void saveOverSelectedOrAsk();
    void renameSelected();
    void deleteSelected();
    void renamePreset (const juce::File& oldFile, const juce::String& newName);
    void resetToFactory();
    void setSelectedPresetPath (const juce::String& path);

    /** True while both this object and its owner exist: the guard of every pending callback. */
    static bool isAlive (const juce::WeakReference<PresetMenu>& self,
                         const juce::Component::SafePointer<juce::Component>& owner);

    VarnelleAudioProcessor& processor;
    PresetManager manager;
    juce::Component& owner;
    juce::ComboBox& box;
    juce::TextButton& menuButton;
    std::unique_ptr<PresetUi> ui;
    bool controlsSetUp = false;

    JUCE_DECLARE_WEAK_REFERENCEABLE (PresetMenu)
    JUCE_DECLARE_NON_COPYABLE (PresetMenu)
};

} // namespace varnelle::editor
