#include "editor/PresetMenu.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#if JUCE_LINUX || JUCE_MAC
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif
#if JUCE_LINUX
#include <sys/sysmacros.h>
#endif

using varnelle::editor::PresetManager;
using varnelle::editor::PresetMenu;
using varnelle::editor::PresetUi;

namespace
{

/** What the preset controls asked of the UI, with the callbacks left pending until a test
    fires them. Shared with the test so that it outlives the owner and its PresetMenu. */
struct UiRecord
{
    std::vector<juce::PopupMenu> menus;
    juce::Component* menuTarget = nullptr;
    std::function<void (int)> pendingMenu;

    juce::StringArray chooserTitles;
    std::vector<juce::File> chooserInitialFiles;
    std::function<void (const juce::File&)> pendingChooser;

    juce::StringArray deleteNames;
    juce::Component* deleteAssociated = nullptr;
    std::function<void (bool)> pendingDelete;

    juce::StringArray replaceNames;
    std::function<void (bool)> pendingReplace;

    std::vector<juce::File> loadFailures;
    std::vector<juce::File> notPresets;
    std::vector<juce::File> revealedFolders;

    // Each fire takes the callback out first, as the real async calls run theirs only once.
    void fireMenu (int result) { std::exchange (pendingMenu, nullptr) (result); }
    void fireChooser (const juce::File& chosen) { std::exchange (pendingChooser, nullptr) (chosen); }
    void fireDelete (bool ok) { std::exchange (pendingDelete, nullptr) (ok); }
    void fireReplace (bool ok) { std::exchange (pendingReplace, nullptr) (ok); }
};

class RecordingUi : public PresetUi
{
public:
    explicit RecordingUi (std::shared_ptr<UiRecord> recordToUse) : record (std::move (recordToUse)) {}

    void showMenu (const juce::PopupMenu& menu, juce::Component& target,
                   std::function<void (int)> onResult) override
    {
        record->menus.push_back (menu);
        record->menuTarget = &target;
        record->pendingMenu = std::move (onResult);
    }

    void chooseSaveFile (const juce::String& title, const juce::File& initialFile,
                         std::function<void (const juce::File&)> onChosen) override
    {
        record->chooserTitles.add (title);
        record->chooserInitialFiles.push_back (initialFile);
        record->pendingChooser = std::move (onChosen);
    }

    void confirmDelete (const juce::String& presetName, juce::Component& associatedComponent,
                        std::function<void (bool)> onResult) override
    {
        record->deleteNames.add (presetName);
        record->deleteAssociated = &associatedComponent;
        record->pendingDelete = std::move (onResult);
    }

    void confirmReplace (const juce::String& presetName, juce::Component&,
                         std::function<void (bool)> onResult) override
    {
        record->replaceNames.add (presetName);
        record->pendingReplace = std::move (onResult);
    }

    void showLoadFailure (const juce::File& presetFile) override
    {
        record->loadFailures.push_back (presetFile);
    }
    void showNotAPreset (const juce::File& presetFile) override { record->notPresets.push_back (presetFile); }
    void revealFolder (const juce::File& folder) override { record->revealedFolders.push_back (folder); }

private:
    std::shared_ptr<UiRecord> record;
};

/** Stands in for the editor: owns the two controls and the PresetMenu, declared in that order. */
struct TestOwner : public juce::Component
{
    TestOwner (VarnelleAudioProcessor& processor, const juce::File& folder, std::shared_ptr<UiRecord> record)
        : presets (processor, *this, box, menuButton, std::make_unique<RecordingUi> (std::move (record)),
                   folder)
    {
        addAndMakeVisible (box);
        addAndMakeVisible (menuButton);
        presets.setUpControls();
    }

    juce::ComboBox box;
    juce::TextButton menuButton;
    PresetMenu presets;
};

/** Counts begin/value/end notifications per parameter index, in order. */
struct GestureRecorder : public juce::AudioProcessorParameter::Listener
{
    explicit GestureRecorder (juce::AudioProcessor& processorToWatch) : processor (processorToWatch)
    {
        for (auto* parameter : processor.getParameters())
            parameter->addListener (this);
    }

    ~GestureRecorder() override
    {
        for (auto* parameter : processor.getParameters())
            parameter->removeListener (this);
    }

    void parameterValueChanged (int index, float) override { events[index] += "V"; }
    void parameterGestureChanged (int index, bool starting) override
    {
        events[index] += starting ? "B" : "E";
    }

    juce::AudioProcessor& processor;
    std::map<int, juce::String> events;
};

std::vector<float> normalisedValues (VarnelleAudioProcessor& processor)
{
    std::vector<float> values;
    for (auto* parameter : processor.getParameters())
        values.push_back (parameter->getValue());
    return values;
}

juce::MemoryBlock stateOf (VarnelleAudioProcessor& processor)
{
    juce::MemoryBlock block;
    processor.getStateInformation (block);
    return block;
}

/** A valid state block told apart by band 1's gain. */
juce::MemoryBlock presetState (float band1GainDb)
{
    VarnelleAudioProcessor source;
    varnelle::test::setParameter (source, "band1_gain", band1GainDb);
    return stateOf (source);
}

juce::MemoryBlock fileBytes (const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData (block);
    return block;
}

void setSomeParameters (VarnelleAudioProcessor& processor, float gainDb)
{
    varnelle::test::setParameter (processor, "band1_gain", gainDb);
    varnelle::test::setParameter (processor, "band2_freqLow", 500.0f);
    varnelle::test::setParameter (processor, "band3_attackMs", 80.0f);
    varnelle::test::setParameter (processor, "band5_bypass", 1.0f);
}

/** What every box lists first: "Factory: Reset", then the factory presets (text#ID). */
const juce::String fixedItems =
    "Factory: Reset#1|Factory: Tame Harsh Peaks#10000|Factory: Clear Low-Mid Build-Up#10001|"
    "Factory: Lift Quiet Air#10002|Factory: Soften Sibilance#10003|Factory: Steady Low End#10004";
constexpr int numFixedItems = 1 + PresetManager::numFactoryPresets;

juce::StringArray itemTexts (const juce::ComboBox& box)
{
    juce::StringArray texts;
    for (int i = 0; i < box.getNumItems(); ++i)
        texts.add (box.getItemText (i) + "#" + juce::String (box.getItemId (i)));
    return texts;
}

class PresetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = varnelle::test::createUniqueTemporaryFolder ("varnelle-preset-tests");
        ASSERT_TRUE (root.isDirectory());
        folder = root.getChildFile ("Varnelle").getChildFile ("Presets");
    }

    void TearDown() override
    {
        owner.reset();
        root.deleteRecursively();
    }

    juce::File writePreset (const juce::String& fileName, const juce::MemoryBlock& bytes)
    {
        folder.createDirectory();
        auto file = folder.getChildFile (fileName);
        EXPECT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
        return file;
    }

    juce::File writePreset (const juce::String& fileName, const juce::String& text)
    {
        return writePreset (fileName, juce::MemoryBlock (text.toRawUTF8(), text.getNumBytesAsUTF8()));
    }

    TestOwner& openOwner()
    {
        owner = std::make_unique<TestOwner> (processor, folder, record);
        return *owner;
    }

    /** Picks an item the way the user does: the box reports the change at once. */
    void pick (int itemId) { owner->box.setSelectedId (itemId, juce::sendNotificationSync); }

    int idOf (const juce::String& text) const
    {
        for (int i = 0; i < owner->box.getNumItems(); ++i)
            if (owner->box.getItemText (i) == text)
                return owner->box.getItemId (i);
        return 0;
    }

    juce::String selectedPath() const { return owner->box.getProperties()["selectedPresetPath"].toString(); }

    juce::File root, folder;
    VarnelleAudioProcessor processor;
    std::shared_ptr<UiRecord> record = std::make_shared<UiRecord>();
    std::unique_ptr<TestOwner> owner;
};

//==============================================================================
TEST (PresetFolder, DefaultIsVarnellePresetsInTheUserApplicationDataFolder)
{
    // The test runner points the default at a scratch folder; look at the real rule here.
    const auto scratch = PresetManager::getDefaultPresetFolder();
    PresetManager::overrideDefaultPresetFolder ({});
    const juce::ScopeGuard restoreScratch{[scratch]
                                          { PresetManager::overrideDefaultPresetFolder (scratch); }};

    const auto expected = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                              .getChildFile ("Varnelle")
                              .getChildFile ("Presets");
    EXPECT_EQ (PresetManager::getDefaultPresetFolder(), expected);
#if JUCE_LINUX
    EXPECT_TRUE (
        PresetManager::getDefaultPresetFolder().getFullPathName().endsWith ("/.config/Varnelle/Presets"));
#endif
}

TEST_F (PresetTest, OverriddenDefaultFolderServesControlsBuiltWithoutAFolder)
{
    writePreset ("A.varnellepreset", presetState (-1.0f));
    const auto previousDefault = PresetManager::getDefaultPresetFolder();
    PresetManager::overrideDefaultPresetFolder (folder);
    juce::Component standingOwner;
    juce::ComboBox box;
    juce::TextButton button;
    PresetMenu presets (processor, standingOwner, box, button, std::make_unique<RecordingUi> (record));
    presets.setUpControls();
    PresetManager::overrideDefaultPresetFolder (previousDefault);

    EXPECT_EQ (itemTexts (box).joinIntoString ("|"), fixedItems + "|A#2");
    EXPECT_EQ (presets.getManager().getPresetFolder(), folder);
    EXPECT_NE (PresetManager::getDefaultPresetFolder(), folder);
}

TEST_F (PresetTest, FolderIsCreatedWithItsParentsOnlyWhenAskedFor)
{
    PresetManager manager (processor, folder);
    EXPECT_FALSE (folder.getParentDirectory().exists());

    EXPECT_EQ (manager.getPresetFolder(), folder);
    EXPECT_TRUE (folder.isDirectory());
    EXPECT_TRUE (manager.listPresetFiles().isEmpty());
}

TEST_F (PresetTest, MissingFolderGivesABoxWithOnlyTheSelectedFactoryEntry)
{
    auto& o = openOwner();

    EXPECT_TRUE (folder.isDirectory());
    EXPECT_EQ (itemTexts (o.box).joinIntoString ("|"), fixedItems);
    EXPECT_EQ (o.box.getSelectedId(), 1);
    EXPECT_EQ (o.box.getText(), "Factory: Reset");
    EXPECT_TRUE (o.box.getProperties().contains ("selectedPresetPath"));
    EXPECT_EQ (selectedPath(), "");
}

TEST_F (PresetTest, FolderThatCannotBeCreatedListsNothingAndSavesNothing)
{
    // A regular file where the folder's parent should be.
    ASSERT_TRUE (root.getChildFile ("Varnelle").replaceWithText ("in the way"));
    auto& o = openOwner();

    EXPECT_FALSE (folder.exists());
    EXPECT_EQ (o.box.getNumItems(), numFixedItems);

    o.presets.handlePresetMenuResult (PresetMenu::saveAsItem);
    record->fireChooser (folder.getChildFile ("Mine.varnellepreset"));

    EXPECT_FALSE (folder.exists());
    EXPECT_EQ (o.box.getNumItems(), numFixedItems);
    EXPECT_EQ (o.box.getSelectedId(), 1);
    EXPECT_EQ (selectedPath(), "");
}

//==============================================================================
TEST_F (PresetTest, ListHoldsOnlyPresetFilesDirectlyInTheFolderSortedIgnoringCase)
{
    const auto state = stateOf (processor);
    // Hidden files, such as the temporary file of a save that a crash interrupted, are no presets.
    for (auto name : {"b", "A", "Beta", "alpha", "A.B", ".hidden", ".Beta_temp8d1f2c"})
        writePreset (juce::String (name) + ".varnellepreset", state);
    writePreset ("notes.txt", state);
    writePreset ("b.varnellepreset.bak", state);
    ASSERT_TRUE (folder.getChildFile ("Folder.varnellepreset").createDirectory());
    ASSERT_TRUE (folder.getChildFile ("Sub").createDirectory());
    ASSERT_TRUE (folder.getChildFile ("Sub").getChildFile ("Deep.varnellepreset").replaceWithText ("x"));

    PresetManager manager (processor, folder);
    juce::StringArray names;
    for (const auto& file : manager.listPresetFiles())
    {
        EXPECT_EQ (file.getParentDirectory(), folder);
        names.add (PresetManager::getPresetName (file));
    }

    EXPECT_EQ (names.joinIntoString ("|"), "A|A.B|alpha|b|Beta");
}

TEST_F (PresetTest, RefreshFillsTheBoxAndItsPathProperties)
{
    const auto b = writePreset ("b.varnellepreset", stateOf (processor));
    const auto a = writePreset ("A.varnellepreset", stateOf (processor));
    writePreset ("notes.txt", "not a preset");

    auto& o = openOwner();

    EXPECT_EQ (itemTexts (o.box).joinIntoString ("|"), fixedItems + "|A#2|b#3");
    const auto& properties = o.box.getProperties();
    EXPECT_EQ (properties["presetPath_2"].toString(), a.getFullPathName());
    EXPECT_EQ (properties["presetPath_3"].toString(), b.getFullPathName());
    EXPECT_FALSE (properties.contains ("presetPath_1"));
    EXPECT_FALSE (properties.contains ("presetPath_4"));
    EXPECT_EQ (o.box.getSelectedId(), 1);
    EXPECT_EQ (o.presets.getSelectedPresetFile(), juce::File());
}

TEST_F (PresetTest, RefreshKeepsTheRememberedPresetSelectedWhileItIsListed)
{
    writePreset ("A.varnellepreset", stateOf (processor));
    const auto b = writePreset ("B.varnellepreset", stateOf (processor));
    auto& o = openOwner();
    pick (3);
    ASSERT_EQ (selectedPath(), b.getFullPathName());

    // A new file sorting first shifts the IDs; the remembered path still finds B.
    writePreset ("0 first.varnellepreset", stateOf (processor));
    EXPECT_EQ (o.box.getNumItems(), numFixedItems + 2); // nothing shows up before a refresh
    o.presets.handlePresetMenuResult (PresetMenu::refreshListItem);

    EXPECT_EQ (o.box.getNumItems(), numFixedItems + 3);
    EXPECT_EQ (o.box.getText(), "B");
    EXPECT_EQ (o.box.getSelectedId(), 4);
    EXPECT_EQ (o.presets.getSelectedPresetFile(), b);

    // Removed behind the editor's back: after a refresh the factory entry is shown.
    ASSERT_TRUE (b.deleteFile());
    o.presets.refreshPresetList();
    EXPECT_EQ (o.box.getSelectedId(), 1);
    EXPECT_EQ (o.box.getText(), "Factory: Reset");
    EXPECT_EQ (selectedPath(), "");
}

TEST_F (PresetTest, ControlsAreWiredToTheirActions)
{
    const auto a = writePreset ("A.varnellepreset", stateOf (processor));
    auto& o = openOwner();

    EXPECT_EQ (o.box.getTextWhenNothingSelected(), "Preset");
    EXPECT_EQ (o.menuButton.getButtonText(), "...");
    EXPECT_EQ (o.menuButton.getName(), "Presets");
    EXPECT_EQ (o.menuButton.getTooltip(), "Preset menu");

    ASSERT_TRUE (o.menuButton.onClick != nullptr);
    o.menuButton.onClick();
    ASSERT_EQ (record->menus.size(), 1u);
    EXPECT_EQ (record->menuTarget, &o.menuButton);

    pick (2);
    EXPECT_EQ (selectedPath(), a.getFullPathName());
}

//==============================================================================
TEST (PresetNames, SanitisingTrimsAndReplacesTheNineUnsafeCharacters)
{
    EXPECT_EQ (PresetManager::sanitisePresetName ("  My:Preset?  "), "My_Preset_");
    EXPECT_EQ (PresetManager::sanitisePresetName ("a\\b/c:d*e?f\"g<h>i|j"), "a_b_c_d_e_f_g_h_i_j");
    EXPECT_EQ (PresetManager::sanitisePresetName (" \t  \n"), "");
    EXPECT_EQ (PresetManager::sanitisePresetName (""), "");
    EXPECT_EQ (PresetManager::sanitisePresetName ("../../etc/passwd"), "___.._etc_passwd");
    EXPECT_EQ (PresetManager::sanitisePresetName (" .Intro"), "_Intro"); // never a hidden file
    EXPECT_EQ (PresetManager::sanitisePresetName ("Drums (wide) v1.2"), "Drums (wide) v1.2");
}

TEST (PresetNames, ProposalIsTheShownTextOrNewPreset)
{
    EXPECT_EQ (PresetManager::proposeNameForSaving ("Factory: Reset"), "Factory_ Reset");
    EXPECT_EQ (PresetManager::proposeNameForSaving (""), "New Preset");
    EXPECT_EQ (PresetManager::proposeNameForSaving ("Vocal  "), "Vocal");
}

TEST (PresetNames, ChosenFileGivesItsNameWithoutThePresetExtension)
{
    const auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory);
    EXPECT_EQ (PresetManager::nameFromChosenFile (dir.getChildFile ("Mine.varnellepreset")), "Mine");
    EXPECT_EQ (PresetManager::nameFromChosenFile (dir.getChildFile ("Mine.VarnellePreset")), "Mine");
    EXPECT_EQ (PresetManager::nameFromChosenFile (dir.getChildFile ("A.B.varnellepreset")), "A.B");
    // A dialog that does not add the extension: the dot belongs to the name.
    EXPECT_EQ (PresetManager::nameFromChosenFile (dir.getChildFile ("Live v1.2")), "Live v1.2");
    EXPECT_EQ (PresetManager::nameFromChosenFile (dir.getChildFile (" What?.varnellepreset")), "What_");
    EXPECT_EQ (PresetManager::nameFromChosenFile (dir.getChildFile (".varnellepreset")), "");
    EXPECT_EQ (PresetManager::nameFromChosenFile (juce::File()), "");
}

TEST (PresetNames, ShownNameDropsOnlyTheLastExtension)
{
    const auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory);
    EXPECT_EQ (PresetManager::getPresetName (dir.getChildFile ("A.B.varnellepreset")), "A.B");
}

//==============================================================================
TEST_F (PresetTest, MenuHasItsEntriesAndEnablesRenameAndDeleteOnlyForAPreset)
{
    writePreset ("A.varnellepreset", stateOf (processor));
    auto& o = openOwner();

    const auto describe = [] (const juce::PopupMenu& menu)
    {
        juce::StringArray lines;
        for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
        {
            const auto& item = it.getItem();
            EXPECT_FALSE (item.isTicked);
            EXPECT_EQ (item.subMenu, nullptr);
            if (item.isSectionHeader)
                lines.add ("[" + item.text + "]");
            else if (item.isSeparator)
                lines.add ("-");
            else
                lines.add (juce::String (item.itemID) + " " + item.text + (item.isEnabled ? "" : " (off)"));
        }
        return lines.joinIntoString ("|");
    };

    // Undo, redo and the ways of listening follow the preset entries.
    const juce::String editEntries =
        "|-|7 Undo (off)|8 Redo (off)|9 Listen to the Change|10 Listen to Band 1's "
        "Change|11 Listen to Band 2's Change|12 Listen to Band 3's Change|13 Listen "
        "to Band 4's Change|14 Listen to Band 5's Change";
    EXPECT_EQ (describe (o.presets.buildPresetMenu()),
               "[Preset]|1 Save Preset...|2 Save As...|-|3 Rename... (off)|4 Delete (off)|-|5 Open Preset "
               "Folder|-|6 Refresh List" +
                   editEntries);

    pick (2);
    EXPECT_EQ (
        describe (o.presets.buildPresetMenu()),
        "[Preset]|1 Save Preset...|2 Save As...|-|3 Rename...|4 Delete|-|5 Open Preset Folder|-|6 Refresh "
        "List" +
            editEntries);

    // The menu shown is that menu, at the button; its result is carried out.
    o.presets.showPresetMenu();
    ASSERT_EQ (record->menus.size(), 1u);
    EXPECT_EQ (describe (record->menus[0]), describe (o.presets.buildPresetMenu()));
    EXPECT_EQ (record->menuTarget, &o.menuButton);
    record->fireMenu (PresetMenu::openFolderItem);
    ASSERT_EQ (record->revealedFolders.size(), 1u);
    EXPECT_EQ (record->revealedFolders[0], folder);
}

TEST_F (PresetTest, DismissedMenuAndUnknownItemsDoNothing)
{
    const auto a = writePreset ("A.varnellepreset", presetState (-1.0f));
    auto& o = openOwner();
    pick (2);
    setSomeParameters (processor, -20.0f);
    const auto before = normalisedValues (processor);

    for (int result : {0, 99, -1})
    {
        o.presets.showPresetMenu();
        record->fireMenu (result);
    }

    EXPECT_EQ (fileBytes (a), presetState (-1.0f));
    EXPECT_EQ (o.box.getSelectedId(), 2);
    EXPECT_TRUE (record->chooserTitles.isEmpty());
    EXPECT_TRUE (record->deleteNames.isEmpty());
    EXPECT_TRUE (record->revealedFolders.empty());
    EXPECT_EQ (normalisedValues (processor), before);
}

//==============================================================================
TEST_F (PresetTest, SaveWithTheFactoryEntryAsksForANameAndWritesExactlyTheState)
{
    auto& o = openOwner();
    setSomeParameters (processor, -12.0f);

    o.presets.handlePresetMenuResult (PresetMenu::savePresetItem);
    ASSERT_EQ (record->chooserTitles.size(), 1);
    EXPECT_EQ (record->chooserTitles[0], "Save Preset");
    EXPECT_EQ (record->chooserInitialFiles[0], folder.getChildFile ("Factory_ Reset.varnellepreset"));

    record->fireChooser (folder.getChildFile ("Mine.varnellepreset"));

    const auto file = folder.getChildFile ("Mine.varnellepreset");
    ASSERT_TRUE (file.existsAsFile());
    EXPECT_EQ (fileBytes (file), stateOf (processor));
    EXPECT_EQ (o.box.getText(), "Mine");
    EXPECT_EQ (o.box.getSelectedId(), 2);
    EXPECT_EQ (selectedPath(), file.getFullPathName());
    EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1); // no temporary left
}

TEST_F (PresetTest, SaveWithAPresetSelectedOverwritesItWithoutADialog)
{
    setSomeParameters (processor, -6.0f);
    writePreset ("A.varnellepreset", stateOf (processor));
    const auto b = writePreset ("B.varnellepreset", stateOf (processor));
    auto& o = openOwner();
    pick (3);

    setSomeParameters (processor, -18.0f);
    const auto newState = stateOf (processor);
    ASSERT_NE (fileBytes (b), newState);

    o.presets.handlePresetMenuResult (PresetMenu::savePresetItem);

    EXPECT_TRUE (record->chooserTitles.isEmpty());
    EXPECT_EQ (fileBytes (b), newState);
    EXPECT_EQ (o.box.getText(), "B");
    EXPECT_EQ (selectedPath(), b.getFullPathName());
}

TEST_F (PresetTest, SaveAsProposesTheShownPresetAndUsesOnlyTheChosenName)
{
    const auto a = writePreset ("A.varnellepreset", stateOf (processor));
    auto& o = openOwner();
    pick (2);
    setSomeParameters (processor, -3.0f);

    o.presets.handlePresetMenuResult (PresetMenu::saveAsItem);
    ASSERT_EQ (record->chooserTitles.size(), 1);
    EXPECT_EQ (record->chooserTitles[0], "Save Preset As");
    EXPECT_EQ (record->chooserInitialFiles[0], a);

    // The folder chosen in the dialog is ignored.
    const auto elsewhere = root.getChildFile ("Elsewhere");
    ASSERT_TRUE (elsewhere.createDirectory());
    record->fireChooser (elsewhere.getChildFile ("Copy.varnellepreset"));

    const auto copy = folder.getChildFile ("Copy.varnellepreset");
    EXPECT_EQ (fileBytes (copy), stateOf (processor));
    EXPECT_EQ (elsewhere.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
    EXPECT_NE (fileBytes (a), stateOf (processor));
    EXPECT_EQ (o.box.getText(), "Copy");
    EXPECT_EQ (selectedPath(), copy.getFullPathName());
}

TEST_F (PresetTest, SavingUnderAnExistingNameTheDialogWarnedAboutReplacesItAndSelectsIt)
{
    const auto a = writePreset ("A.varnellepreset", "old bytes");
    writePreset ("B.varnellepreset", "other");
    auto& o = openOwner();
    setSomeParameters (processor, -9.0f);

    o.presets.handlePresetMenuResult (PresetMenu::saveAsItem);
    record->fireChooser (a); // the dialog showed this very file and warned

    EXPECT_TRUE (record->replaceNames.isEmpty());
    EXPECT_EQ (fileBytes (a), stateOf (processor));
    EXPECT_EQ (o.box.getText(), "A");
    EXPECT_EQ (o.box.getNumItems(), numFixedItems + 2);
}

TEST_F (PresetTest, ReplacingAPresetTheDialogDidNotShowNeedsAConfirmation)
{
    const auto keep = writePreset ("Keep_.varnellepreset", "old bytes");
    auto& o = openOwner();
    setSomeParameters (processor, -9.0f);

    // The dialog warned about nothing: "Keep?" does not exist, but it is saved as "Keep_".
    o.presets.handlePresetMenuResult (PresetMenu::saveAsItem);
    record->fireChooser (folder.getChildFile ("Keep?.varnellepreset"));
    ASSERT_EQ (record->replaceNames.size(), 1);
    EXPECT_EQ (record->replaceNames[0], "Keep_");
    record->fireReplace (false);
    EXPECT_EQ (fileBytes (keep).toString(), "old bytes");
    EXPECT_EQ (o.box.getSelectedId(), 1);

    // Chosen in another folder, then confirmed.
    o.presets.handlePresetMenuResult (PresetMenu::saveAsItem);
    record->fireChooser (root.getChildFile ("Keep_.varnellepreset"));
    ASSERT_EQ (record->replaceNames.size(), 2);
    record->fireReplace (true);
    EXPECT_EQ (fileBytes (keep), stateOf (processor));
    EXPECT_EQ (o.box.getText(), "Keep_");
}

TEST_F (PresetTest, CancelledSaveDialogDoesNothing)
{
    writePreset ("A.varnellepreset", "bytes");
    auto& o = openOwner();

    o.presets.handlePresetMenuResult (PresetMenu::saveAsItem);
    record->fireChooser (juce::File());
    o.presets.handlePresetMenuResult (PresetMenu::savePresetItem);
    record->fireChooser (folder.getChildFile ("   .varnellepreset")); // a blank name

    EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
    EXPECT_EQ (o.box.getNumItems(), numFixedItems + 1);
    EXPECT_EQ (o.box.getSelectedId(), 1);
    EXPECT_TRUE (record->replaceNames.isEmpty());
}

TEST_F (PresetTest, FailedWriteShowsNothingAndKeepsListAndRememberedPath)
{
    const auto a = writePreset ("A.varnellepreset", stateOf (processor));
    ASSERT_TRUE (folder.getChildFile ("Busy.varnellepreset").createDirectory()); // a folder in the way
    auto& o = openOwner();
    pick (2);
    const auto items = itemTexts (o.box);

    o.presets.savePresetWithName ("Busy");

    EXPECT_TRUE (folder.getChildFile ("Busy.varnellepreset").isDirectory());
    EXPECT_EQ (itemTexts (o.box), items);
    EXPECT_EQ (o.box.getText(), "A");
    EXPECT_EQ (selectedPath(), a.getFullPathName());
    EXPECT_TRUE (record->loadFailures.empty());
}

/** The preset folder made read-only after `existing` was written into it. Permission bits
    for ordinary users; root ignores those, so it gets a small tmpfs remounted read-only. */
class ReadOnlyPresetFolder : public PresetTest
{
protected:
    void TearDown() override
    {
#if JUCE_LINUX || JUCE_MAC
        const auto path = folder.getFullPathName();

        if (mounted)
        {
            if (!run ({"umount", path}))
                run ({"umount", "-l", path});
        }
        else if (folder.isDirectory())
        {
            ::chmod (path.toRawUTF8(), 0755);
        }
#endif
        PresetTest::TearDown();
    }

    /** Empty when the folder is read-only with `existing` in it, else why it could not be. */
    juce::String makeReadOnly (const juce::String& fileName, const juce::MemoryBlock& bytes)
    {
#if JUCE_LINUX || JUCE_MAC
        if (!folder.createDirectory())
            return "cannot create " + folder.getFullPathName();

        const auto path = folder.getFullPathName();

        if (::geteuid() != 0)
        {
            existing = writePreset (fileName, bytes);
            if (::chmod (path.toRawUTF8(), 0555) != 0)
                return "chmod failed";
        }
        else
        {
            if (!run ({"mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", path}))
                return "root cannot mount a tmpfs here";
            mounted = true;
            existing = writePreset (fileName, bytes);
            if (!run ({"mount", "-o", "remount,ro", path}))
                return "cannot remount the tmpfs read-only";
        }

        if (folder.getChildFile ("probe").create().wasOk())
            return "the folder is still writable";

        return {};
#else
        juce::ignoreUnused (fileName, bytes);
        return "no read-only folder on this system";
#endif
    }

    static bool run (const juce::StringArray& command)
    {
        juce::ChildProcess process;
        return process.start (command, 0) && process.waitForProcessToFinish (20000) &&
               process.getExitCode() == 0;
    }

    juce::File existing;
    bool mounted = false;
};

TEST_F (ReadOnlyPresetFolder, SaveFailsSilentlyAndKeepsTheListAndTheExistingFile)
{
    VarnelleAudioProcessor source;
    setSomeParameters (source, -6.0f);
    const auto oldBytes = stateOf (source);
    if (const auto why = makeReadOnly ("A.varnellepreset", oldBytes); why.isNotEmpty())
        GTEST_SKIP() << why;

    auto& o = openOwner();
    pick (2);
    ASSERT_EQ (selectedPath(), existing.getFullPathName());
    setSomeParameters (processor, -18.0f);
    ASSERT_NE (stateOf (processor), oldBytes);
    const auto items = itemTexts (o.box);

    const auto expectNothingChanged = [&] (const char* step)
    {
        EXPECT_EQ (fileBytes (existing), oldBytes) << step;
        EXPECT_EQ (itemTexts (o.box), items) << step;
        EXPECT_EQ (o.box.getText(), "A") << step;
        EXPECT_EQ (selectedPath(), existing.getFullPathName()) << step;
        EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1) << step;
        // A failed write shows nothing: no message, and no dialog to try again.
        EXPECT_TRUE (record->loadFailures.empty()) << step;
        EXPECT_TRUE (record->replaceNames.isEmpty()) << step;
    };

    // "Save Preset..." over the selected preset: no dialog, and the write fails.
    o.presets.handlePresetMenuResult (PresetMenu::savePresetItem);
    EXPECT_TRUE (record->chooserTitles.isEmpty());
    expectNothingChanged ("overwrite");

    // "Save As..." under a new name, and under the existing one the dialog warned about.
    o.presets.handlePresetMenuResult (PresetMenu::saveAsItem);
    record->fireChooser (folder.getChildFile ("New.varnellepreset"));
    expectNothingChanged ("new name");
    o.presets.handlePresetMenuResult (PresetMenu::saveAsItem);
    record->fireChooser (existing);
    expectNothingChanged ("same name");
    EXPECT_EQ (record->chooserTitles.size(), 2);

    PresetManager manager (processor, folder);
    EXPECT_FALSE (manager.writeCurrentState (existing));
    EXPECT_EQ (manager.savePresetWithName ("Other"), juce::File());
    EXPECT_EQ (fileBytes (existing), oldBytes);
}

TEST_F (PresetTest, ReplacingFileContentNeverLosesTheOldFile)
{
    const auto target = writePreset ("A.varnellepreset", "old bytes");

    // Empty data: juce::File::replaceWithData would delete the target.
    EXPECT_FALSE (PresetManager::replaceFileContent (target, juce::MemoryBlock()));
    EXPECT_EQ (fileBytes (target).toString(), "old bytes");

    const auto aFolder = folder.getChildFile ("Dir.varnellepreset");
    ASSERT_TRUE (aFolder.createDirectory());
    EXPECT_FALSE (PresetManager::replaceFileContent (aFolder, juce::MemoryBlock ("x", 1)));
    EXPECT_TRUE (aFolder.isDirectory());

    EXPECT_FALSE (PresetManager::replaceFileContent (
        root.getChildFile ("no such folder").getChildFile ("B.varnellepreset"), juce::MemoryBlock ("x", 1)));
    EXPECT_FALSE (root.getChildFile ("no such folder").exists());

    EXPECT_TRUE (PresetManager::replaceFileContent (target, juce::MemoryBlock ("new", 3)));
    EXPECT_EQ (fileBytes (target).toString(), "new");
    EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 2); // no temporary left
}

//==============================================================================
TEST_F (PresetTest, RenameMovesTheFileAndSelectsTheNewName)
{
    setSomeParameters (processor, -6.0f);
    const auto state = stateOf (processor);
    const auto old = writePreset ("Old.varnellepreset", state);
    auto& o = openOwner();
    pick (2);
    setSomeParameters (processor, -20.0f);
    const auto values = normalisedValues (processor);

    o.presets.handlePresetMenuResult (PresetMenu::renameItem);
    ASSERT_EQ (record->chooserTitles.size(), 1);
    EXPECT_EQ (record->chooserTitles[0], "Rename Preset");
    EXPECT_EQ (record->chooserInitialFiles[0], old);

    record->fireChooser (folder.getChildFile ("New.varnellepreset"));

    const auto renamed = folder.getChildFile ("New.varnellepreset");
    EXPECT_FALSE (old.exists());
    EXPECT_EQ (fileBytes (renamed), state);
    EXPECT_EQ (itemTexts (o.box).joinIntoString ("|"), fixedItems + "|New#2");
    EXPECT_EQ (o.box.getText(), "New");
    EXPECT_EQ (selectedPath(), renamed.getFullPathName());
    EXPECT_EQ (normalisedValues (processor), values);
}

TEST_F (PresetTest, RenameThatOnlyChangesLetterCaseDoesNothing)
{
    const auto old = writePreset ("Old.varnellepreset", presetState (-4.0f));
    auto& o = openOwner();
    pick (2);

    o.presets.handlePresetMenuResult (PresetMenu::renameItem);
    record->fireChooser (folder.getChildFile ("OLD.varnellepreset"));

    EXPECT_TRUE (old.existsAsFile());
    juce::StringArray names;
    for (const auto& file : folder.findChildFiles (juce::File::findFiles, false))
        names.add (file.getFileName());
    EXPECT_EQ (names.joinIntoString ("|"), "Old.varnellepreset");
    EXPECT_EQ (o.box.getText(), "Old");
    EXPECT_EQ (selectedPath(), old.getFullPathName());
}

TEST_F (PresetTest, RenameOntoAnotherPresetReplacesItOnlyWhenConfirmed)
{
    const auto old = writePreset ("Old.varnellepreset", presetState (-2.0f));
    const auto other = writePreset ("Other.varnellepreset", presetState (-3.0f));
    auto& o = openOwner();
    pick (2);

    // Chosen in another folder: the dialog did not warn about the preset's namesake.
    o.presets.handlePresetMenuResult (PresetMenu::renameItem);
    record->fireChooser (root.getChildFile ("Other.varnellepreset"));
    ASSERT_EQ (record->replaceNames.size(), 1);
    record->fireReplace (false);
    EXPECT_EQ (fileBytes (old), presetState (-2.0f));
    EXPECT_EQ (fileBytes (other), presetState (-3.0f));

    // Chosen as the very file, so the dialog warned.
    o.presets.handlePresetMenuResult (PresetMenu::renameItem);
    record->fireChooser (other);
    EXPECT_EQ (record->replaceNames.size(), 1);
    EXPECT_FALSE (old.exists());
    EXPECT_EQ (fileBytes (other), presetState (-2.0f));
    EXPECT_EQ (itemTexts (o.box).joinIntoString ("|"), fixedItems + "|Other#2");
    EXPECT_EQ (selectedPath(), other.getFullPathName());
}

TEST_F (PresetTest, RenameToUnsafeOrBlankNamesIsMadeSafeOrIgnored)
{
    const auto old = writePreset ("Old.varnellepreset", presetState (-2.0f));
    auto& o = openOwner();
    pick (2);

    o.presets.handlePresetMenuResult (PresetMenu::renameItem);
    record->fireChooser (folder.getChildFile ("  .varnellepreset"));
    EXPECT_TRUE (old.existsAsFile());
    EXPECT_EQ (o.box.getText(), "Old");

    o.presets.handlePresetMenuResult (PresetMenu::renameItem);
    record->fireChooser (folder.getChildFile ("a:b|c.varnellepreset"));
    const auto safe = folder.getChildFile ("a_b_c.varnellepreset");
    EXPECT_TRUE (safe.existsAsFile());
    EXPECT_FALSE (old.exists());
    EXPECT_EQ (o.box.getText(), "a_b_c");

    // Through the manager directly, separators cannot leave the folder.
    PresetManager manager (processor, folder);
    const auto moved = manager.renamePreset (safe, "../escaped");
    EXPECT_EQ (moved.getParentDirectory(), folder);
    EXPECT_EQ (moved.getFileName(), "___escaped.varnellepreset"); // and never hidden
}

TEST_F (PresetTest, RenameOfAFileThatVanishedMeanwhileChangesNothing)
{
    const auto old = writePreset ("Old.varnellepreset", presetState (-2.0f));
    writePreset ("Z.varnellepreset", presetState (-6.0f));
    auto& o = openOwner();
    pick (2);
    const auto items = itemTexts (o.box);

    o.presets.handlePresetMenuResult (PresetMenu::renameItem);
    ASSERT_TRUE (old.deleteFile());
    record->fireChooser (folder.getChildFile ("New.varnellepreset"));

    EXPECT_FALSE (folder.getChildFile ("New.varnellepreset").exists());
    EXPECT_EQ (itemTexts (o.box), items);
    EXPECT_EQ (selectedPath(), old.getFullPathName());
}

TEST_F (PresetTest, RenameAndDeleteWithTheFactoryEntryDoNothing)
{
    writePreset ("A.varnellepreset", "a");
    auto& o = openOwner();

    o.presets.handlePresetMenuResult (PresetMenu::renameItem);
    o.presets.handlePresetMenuResult (PresetMenu::deleteItem);

    EXPECT_TRUE (record->chooserTitles.isEmpty());
    EXPECT_TRUE (record->deleteNames.isEmpty());
    EXPECT_EQ (o.box.getNumItems(), numFixedItems + 1);
}

//==============================================================================
// The factory presets: listed after "Factory: Reset", loaded by one call, never written.

juce::MemoryBlock factoryPresetState (int index)
{
    VarnelleAudioProcessor source;
    PresetManager (source, {}).loadFactoryPreset (index);
    return stateOf (source);
}

TEST_F (PresetTest, FactoryPresetsFollowTheResetEntryWithIdsNoUserPresetReaches)
{
    writePreset ("A.varnellepreset", stateOf (processor));
    auto& o = openOwner();
    EXPECT_EQ (itemTexts (o.box).joinIntoString ("|"), fixedItems + "|A#2");

    // A folder with more presets than there are IDs below the factory ones lists what fits.
    for (int i = 0; i < PresetMenu::firstFactoryPresetId; ++i)
        ASSERT_TRUE (folder.getChildFile ("P" + juce::String (i).paddedLeft ('0', 5) + ".varnellepreset")
                         .replaceWithText ("x"));
    o.presets.refreshPresetList();

    EXPECT_EQ (o.box.getNumItems(), PresetMenu::firstFactoryPresetId + PresetManager::numFactoryPresets - 1);
    EXPECT_EQ (o.box.getItemText (o.box.getNumItems() - 1), "P09996");
    EXPECT_EQ (o.box.getItemText (o.box.indexOfItemId (PresetMenu::firstFactoryPresetId)),
               "Factory: Tame Harsh Peaks");
}

TEST_F (PresetTest, PickingAFactoryPresetLoadsItThroughOneCallAndKeepsItShown)
{
    writePreset ("A.varnellepreset", presetState (-1.0f));
    auto& o = openOwner();
    pick (2);

    const auto before = stateOf (processor);
    const auto steps = processor.getEditHistory().getNumUndoSteps();

    pick (PresetMenu::firstFactoryPresetId + 3);
    EXPECT_EQ (stateOf (processor), factoryPresetState (3));
    EXPECT_EQ (o.box.getText(), "Factory: Soften Sibilance");
    EXPECT_EQ (selectedPath(), "");
    EXPECT_EQ (o.presets.getSelectedPresetFile(), juce::File());
    EXPECT_EQ (processor.getEditHistory().getNumUndoSteps(), steps + 1);
    EXPECT_EQ (processor.getEditHistory().getUndoName(), "Load Preset 'Factory: Soften Sibilance'");
    ASSERT_TRUE (processor.getEditHistory().undo());
    EXPECT_EQ (stateOf (processor), before);
    ASSERT_TRUE (processor.getEditHistory().redo());

    o.presets.handlePresetMenuResult (PresetMenu::refreshListItem);
    EXPECT_EQ (o.box.getSelectedId(), PresetMenu::firstFactoryPresetId + 3);

    o.presets.loadFactoryPreset (0);
    EXPECT_EQ (stateOf (processor), factoryPresetState (0));
    EXPECT_EQ (o.box.getText(), "Factory: Tame Harsh Peaks");
}

TEST_F (PresetTest, FactoryPresetIsNeverRenamedDeletedOrSavedOver)
{
    const auto a = writePreset ("A.varnellepreset", presetState (-1.0f));
    auto& o = openOwner();
    pick (PresetMenu::firstFactoryPresetId);

    const auto menu = o.presets.buildPresetMenu(); // the iterator only refers to it
    for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
    {
        const auto& item = it.getItem();
        if (item.itemID == 0)
            continue;
        // Redo has nothing to redo yet; the load itself is the step Undo offers.
        EXPECT_EQ (item.isEnabled, item.itemID != PresetMenu::renameItem &&
                                       item.itemID != PresetMenu::deleteItem &&
                                       item.itemID != PresetMenu::redoItem)
            << item.text;
    }

    o.presets.handlePresetMenuResult (PresetMenu::renameItem);
    o.presets.handlePresetMenuResult (PresetMenu::deleteItem);
    EXPECT_TRUE (record->chooserTitles.isEmpty());
    EXPECT_TRUE (record->deleteNames.isEmpty());

    // Save and Save As ask for a new name, without "Factory: ".
    setSomeParameters (processor, -9.0f);
    o.presets.handlePresetMenuResult (PresetMenu::saveAsItem);
    o.presets.handlePresetMenuResult (PresetMenu::savePresetItem);
    ASSERT_EQ (record->chooserTitles.joinIntoString ("|"), "Save Preset As|Save Preset");
    EXPECT_EQ (record->chooserInitialFiles[1], folder.getChildFile ("Tame Harsh Peaks.varnellepreset"));

    record->fireChooser (record->chooserInitialFiles[1]);
    EXPECT_EQ (fileBytes (record->chooserInitialFiles[1]), stateOf (processor));
    EXPECT_EQ (o.box.getText(), "Tame Harsh Peaks");
    EXPECT_EQ (fileBytes (a), presetState (-1.0f));

    pick (PresetMenu::firstFactoryPresetId);
    EXPECT_EQ (stateOf (processor), factoryPresetState (0));
}

//==============================================================================
TEST_F (PresetTest, DeleteAfterConfirmationRemovesTheFileAndShowsTheFactoryEntry)
{
    setSomeParameters (processor, -6.0f);
    const auto a = writePreset ("A.varnellepreset", stateOf (processor));
    writePreset ("B.varnellepreset", stateOf (processor));
    auto& o = openOwner();
    pick (2);
    setSomeParameters (processor, -15.0f);
    const auto values = normalisedValues (processor);

    o.presets.handlePresetMenuResult (PresetMenu::deleteItem);
    ASSERT_EQ (record->deleteNames.size(), 1);
    EXPECT_EQ (record->deleteNames[0], "A");
    EXPECT_EQ (record->deleteAssociated, &o);
    EXPECT_TRUE (a.existsAsFile()); // nothing before the answer

    record->fireDelete (true);

    EXPECT_FALSE (a.exists());
    EXPECT_EQ (itemTexts (o.box).joinIntoString ("|"), fixedItems + "|B#2");
    EXPECT_EQ (o.box.getSelectedId(), 1);
    EXPECT_EQ (o.box.getText(), "Factory: Reset");
    EXPECT_EQ (selectedPath(), "");
    EXPECT_EQ (normalisedValues (processor), values);
}

TEST_F (PresetTest, CancelledOrFailedDeleteChangesNothing)
{
    const auto a = writePreset ("A.varnellepreset", presetState (-5.0f));
    auto& o = openOwner();
    pick (2);

    o.presets.handlePresetMenuResult (PresetMenu::deleteItem);
    record->fireDelete (false);
    EXPECT_TRUE (a.existsAsFile());
    EXPECT_EQ (o.box.getText(), "A");
    EXPECT_EQ (selectedPath(), a.getFullPathName());

    // Replaced by a folder with content before the answer: the delete fails.
    o.presets.handlePresetMenuResult (PresetMenu::deleteItem);
    ASSERT_TRUE (a.deleteFile());
    ASSERT_TRUE (a.createDirectory());
    ASSERT_TRUE (a.getChildFile ("inside").replaceWithText ("x"));
    record->fireDelete (true);

    EXPECT_TRUE (a.getChildFile ("inside").existsAsFile());
    EXPECT_EQ (o.box.getText(), "A");
    EXPECT_EQ (selectedPath(), a.getFullPathName());
}

//==============================================================================
TEST_F (PresetTest, PickingAPresetLoadsAllItsValues)
{
    VarnelleAudioProcessor source;
    setSomeParameters (source, -7.0f);
    const auto a = writePreset ("A.varnellepreset", stateOf (source));
    auto& o = openOwner();
    ASSERT_NE (normalisedValues (processor), normalisedValues (source));

    pick (2);

    EXPECT_EQ (normalisedValues (processor), normalisedValues (source));
    EXPECT_EQ (o.box.getText(), "A");
    EXPECT_EQ (selectedPath(), a.getFullPathName());
    EXPECT_TRUE (record->loadFailures.empty());
}

TEST_F (PresetTest, PresetThatIsNoStateBlockChangesNothingAndShowsNothing)
{
    VarnelleAudioProcessor source;
    setSomeParameters (source, -7.0f);
    const auto good = writePreset ("Good.varnellepreset", stateOf (source));
    auto wrongMagic = stateOf (source);
    static_cast<char*> (wrongMagic.getData())[0] = 'X';
    const auto truncated = juce::MemoryBlock (stateOf (source).getData(), stateOf (source).getSize() / 2);
    const auto corrupt = writePreset ("Corrupt.varnellepreset", wrongMagic);
    const auto cut = writePreset ("Cut.varnellepreset", truncated);
    const auto text = writePreset ("Text.varnellepreset", "<Parameters band1_gain=\"-3\"/>");
    const auto empty = folder.getChildFile ("Empty.varnellepreset");
    ASSERT_TRUE (empty.create());
    ASSERT_EQ (empty.getSize(), 0);
    auto& o = openOwner();

    pick (idOf ("Good"));
    setSomeParameters (processor, -1.0f);
    const auto values = normalisedValues (processor);
    GestureRecorder gestures (processor);
    PresetManager manager (processor, folder);

    for (const auto& bad : {corrupt, cut, text, empty})
    {
        const auto name = PresetManager::getPresetName (bad);
        pick (idOf (name));

        EXPECT_TRUE (record->loadFailures.empty()) << name;
        EXPECT_EQ (normalisedValues (processor), values) << name;
        EXPECT_EQ (o.box.getText(), name); // the item stays selected
        EXPECT_EQ (o.presets.getSelectedPresetFile(), bad);
        EXPECT_EQ (selectedPath(), good.getFullPathName()) << name;
        EXPECT_EQ (manager.loadPreset (bad), PresetManager::LoadResult::invalid) << name;
    }
    EXPECT_TRUE (gestures.events.empty());

    // The selected item still saves over its own file: the remembered path is not involved.
    o.presets.handlePresetMenuResult (PresetMenu::savePresetItem);
    EXPECT_EQ (fileBytes (empty), stateOf (processor));
    EXPECT_EQ (selectedPath(), empty.getFullPathName());
}

TEST_F (PresetTest, APipeNamedLikeAPresetIsReportedWithoutWaitingForAWriter)
{
#if JUCE_LINUX || JUCE_MAC
    const auto good = writePreset ("A.varnellepreset", stateOf (processor));
    const auto pipe = folder.getChildFile ("Pipe.varnellepreset");
    ASSERT_EQ (::mkfifo (pipe.getFullPathName().toRawUTF8(), 0600), 0);
    auto& o = openOwner();
    pick (idOf ("A"));
    const auto values = normalisedValues (processor);

    pick (idOf ("Pipe")); // opening it for reading would block until somebody writes

    ASSERT_EQ (record->loadFailures.size(), 1u);
    EXPECT_EQ (record->loadFailures[0], pipe);
    EXPECT_EQ (normalisedValues (processor), values);
    EXPECT_EQ (selectedPath(), good.getFullPathName());
    EXPECT_EQ (o.box.getText(), "Pipe");
#else
    GTEST_SKIP() << "needs named pipes";
#endif
}

TEST_F (PresetTest, FileLargerThanAnyPresetIsNotReadAndIsReportedByName)
{
    // A valid block padded with zeros still loads, so only the size can refuse it.
    auto padded = presetState (-9.0f);
    padded.setSize ((size_t)PresetManager::maxPresetFileBytes, true);
    const auto largest = writePreset ("Largest.varnellepreset", padded);
    padded.setSize ((size_t)PresetManager::maxPresetFileBytes + 1, true);
    const auto tooLarge = writePreset ("Too Large.varnellepreset", padded);
    auto& o = openOwner();
    setSomeParameters (processor, -4.0f);
    const auto values = normalisedValues (processor);

    pick (idOf ("Too Large"));

    ASSERT_EQ (record->notPresets.size(), 1u);
    EXPECT_EQ (record->notPresets[0], tooLarge);
    EXPECT_TRUE (record->loadFailures.empty());
    EXPECT_EQ (normalisedValues (processor), values);
    EXPECT_EQ (o.box.getText(), "Too Large");
    EXPECT_EQ (selectedPath(), "");
    EXPECT_EQ (PresetManager (processor, folder).loadPreset (tooLarge), PresetManager::LoadResult::tooLarge);

    pick (idOf ("Largest"));
    EXPECT_EQ (record->notPresets.size(), 1u);
    EXPECT_EQ (selectedPath(), largest.getFullPathName());
    EXPECT_FLOAT_EQ (processor.parameters.getRawParameterValue ("band1_gain")->load(), -9.0f);
}

TEST_F (PresetTest, PresetThatVanishedBeforeBeingPickedDoesNothing)
{
    const auto a = writePreset ("A.varnellepreset", stateOf (processor));
    auto& o = openOwner();
    setSomeParameters (processor, -4.0f);
    const auto values = normalisedValues (processor);
    ASSERT_TRUE (a.deleteFile());

    pick (2);

    EXPECT_TRUE (record->loadFailures.empty());
    EXPECT_EQ (normalisedValues (processor), values);
    EXPECT_EQ (o.box.getText(), "A");
    EXPECT_EQ (selectedPath(), "");
}

TEST_F (PresetTest, PresetThatExistsButCannotBeReadShowsTheLoadFailure)
{
#if JUCE_LINUX || JUCE_MAC
    const auto good = writePreset ("A.varnellepreset", stateOf (processor));
    const auto locked = folder.getChildFile ("Locked.varnellepreset");
    const auto path = locked.getFullPathName().toStdString();

    // Root reads every regular file, so it gets a device node without a driver; anybody else
    // gets a file without read permission.
    if (::mknod (path.c_str(), S_IFCHR | 0600, makedev (0, 0)) != 0)
    {
        ASSERT_TRUE (locked.replaceWithText ("x"));
        ASSERT_EQ (::chmod (path.c_str(), 0), 0);
    }
    ASSERT_TRUE (locked.existsAsFile());
    if (juce::FileInputStream (locked).openedOk())
        GTEST_SKIP() << "this machine can read " << path;

    auto& o = openOwner();
    pick (idOf ("A"));
    setSomeParameters (processor, -4.0f);
    const auto values = normalisedValues (processor);

    pick (idOf ("Locked"));

    ASSERT_EQ (record->loadFailures.size(), 1u);
    EXPECT_EQ (record->loadFailures[0], locked);
    EXPECT_EQ (normalisedValues (processor), values);
    EXPECT_EQ (o.box.getText(), "Locked");
    EXPECT_EQ (selectedPath(), good.getFullPathName());
#else
    GTEST_SKIP() << "needs a file that exists but cannot be opened";
#endif
}

//==============================================================================
TEST_F (PresetTest, FactoryEntryResetsEveryParameterWithOneGestureEach)
{
    VarnelleAudioProcessor source;
    setSomeParameters (source, -7.0f);
    writePreset ("A.varnellepreset", stateOf (source));
    auto& o = openOwner();
    pick (2);
    ASSERT_EQ (selectedPath().isNotEmpty(), true);

    GestureRecorder gestures (processor);
    pick (1);

    ASSERT_EQ (processor.getParameters().size(), 55);
    for (int i = 0; i < processor.getParameters().size(); ++i)
    {
        auto* parameter = processor.getParameters()[i];
        EXPECT_FLOAT_EQ (parameter->getValue(), parameter->getDefaultValue()) << parameter->getName (64);
        EXPECT_EQ (gestures.events[i], "BVE") << parameter->getName (64);
    }
    EXPECT_EQ (gestures.events.size(), 55u);
    EXPECT_EQ (o.box.getSelectedId(), 1);
    EXPECT_EQ (o.box.getText(), "Factory: Reset");
    EXPECT_EQ (selectedPath(), "");
}

TEST_F (PresetTest, PickingTheFactoryEntryWhileShownDoesNothing)
{
    openOwner();
    setSomeParameters (processor, -7.0f);
    const auto values = normalisedValues (processor);
    GestureRecorder gestures (processor);

    pick (1);

    EXPECT_TRUE (gestures.events.empty());
    EXPECT_EQ (normalisedValues (processor), values);
}

TEST_F (PresetTest, ReopenedOwnerShowsTheFactoryEntryAndKeepsTheLoadedValues)
{
    VarnelleAudioProcessor source;
    setSomeParameters (source, -7.0f);
    writePreset ("A.varnellepreset", stateOf (source));
    openOwner();
    pick (2);

    owner.reset();
    auto& reopened = openOwner();

    EXPECT_EQ (reopened.box.getSelectedId(), 1);
    EXPECT_EQ (reopened.box.getText(), "Factory: Reset");
    EXPECT_EQ (selectedPath(), "");
    EXPECT_EQ (normalisedValues (processor), normalisedValues (source));
}

//==============================================================================
// Each pending callback fired after its owner has been closed must do nothing at all.

TEST_F (PresetTest, MenuResultAfterTheOwnerClosedDoesNothing)
{
    const auto a = writePreset ("A.varnellepreset", presetState (-1.0f));
    openOwner();
    pick (2);
    setSomeParameters (processor, -20.0f); // a save would now change the file
    owner->presets.showPresetMenu();

    owner.reset();
    record->fireMenu (PresetMenu::savePresetItem);

    EXPECT_EQ (fileBytes (a), presetState (-1.0f));
    EXPECT_TRUE (record->chooserTitles.isEmpty());
}

TEST_F (PresetTest, SaveDialogResultAfterTheOwnerClosedDoesNothing)
{
    openOwner();
    owner->presets.handlePresetMenuResult (PresetMenu::saveAsItem);

    owner.reset();
    record->fireChooser (folder.getChildFile ("Late.varnellepreset"));

    EXPECT_FALSE (folder.getChildFile ("Late.varnellepreset").exists());
}

TEST_F (PresetTest, RenameDialogResultAfterTheOwnerClosedDoesNothing)
{
    const auto old = writePreset ("Old.varnellepreset", presetState (-2.0f));
    openOwner();
    pick (2);
    owner->presets.handlePresetMenuResult (PresetMenu::renameItem);

    owner.reset();
    record->fireChooser (folder.getChildFile ("New.varnellepreset"));

    EXPECT_TRUE (old.existsAsFile());
    EXPECT_FALSE (folder.getChildFile ("New.varnellepreset").exists());
}

TEST_F (PresetTest, DeleteConfirmationAfterTheOwnerClosedDoesNothing)
{
    const auto a = writePreset ("A.varnellepreset", presetState (-5.0f));
    openOwner();
    pick (2);
    owner->presets.handlePresetMenuResult (PresetMenu::deleteItem);

    owner.reset();
    record->fireDelete (true);

    EXPECT_TRUE (a.existsAsFile());
}

TEST_F (PresetTest, ReplaceConfirmationAfterTheOwnerClosedDoesNothing)
{
    const auto keep = writePreset ("Keep.varnellepreset", "old bytes");
    openOwner();
    owner->presets.handlePresetMenuResult (PresetMenu::saveAsItem);
    record->fireChooser (root.getChildFile ("Keep.varnellepreset"));
    ASSERT_TRUE (record->pendingReplace != nullptr);

    owner.reset();
    record->fireReplace (true);

    EXPECT_EQ (fileBytes (keep).toString(), "old bytes");
}

TEST_F (PresetTest, CallbacksAfterThePresetMenuAloneWasDestroyedDoNothing)
{
    const auto a = writePreset ("A.varnellepreset", presetState (-5.0f));
    juce::Component standingOwner;
    juce::ComboBox box;
    juce::TextButton button;
    auto presets = std::make_unique<PresetMenu> (processor, standingOwner, box, button,
                                                 std::make_unique<RecordingUi> (record), folder);
    presets->setUpControls();
    box.setSelectedId (2, juce::sendNotificationSync);
    presets->handlePresetMenuResult (PresetMenu::deleteItem);
    presets->showPresetMenu();

    presets.reset();
    EXPECT_TRUE (box.onChange == nullptr);
    EXPECT_TRUE (button.onClick == nullptr);
    record->fireDelete (true);
    record->fireMenu (PresetMenu::refreshListItem);

    EXPECT_TRUE (a.existsAsFile());
    EXPECT_EQ (box.getText(), "A");
}

} // namespace
