#include "editor/PresetMenu.h"

namespace varnelle::editor
{

//==============================================================================
void JucePresetUi::showMenu (const juce::PopupMenu& menu, juce::Component& target,
                             std::function<void (int)> onResult)
{
    juce::PopupMenu toShow (menu);
    toShow.showMenuAsync (juce::PopupMenu::Options().withTargetComponent (&target), std::move (onResult));
}

void JucePresetUi::chooseSaveFile (const juce::String& title, const juce::File& initialFile,
                                   std::function<void (const juce::File&)> onChosen)
{
    auto chooser = std::make_shared<juce::FileChooser> (title, initialFile, PresetManager::fileWildcard, true,
                                                        false, nullptr);

    // The callback holds the chooser, so it lives until the dialog is done.
    chooser->launchAsync (saveDialogFlags,
                          [chooser, onChosen = std::move (onChosen)] (const juce::FileChooser&)
                          { onChosen (chooser->getResult()); });
}

void JucePresetUi::confirmDelete (const juce::String& presetName, juce::Component& associatedComponent,
                                  std::function<void (bool)> onResult)
{
    juce::AlertWindow::showOkCancelBox (
        juce::MessageBoxIconType::WarningIcon, "Delete Preset", "Delete '" + presetName + "'?", {}, {},
        &associatedComponent,
        juce::ModalCallbackFunction::create ([onResult = std::move (onResult)] (int result)
                                             { onResult (result == 1); }));
}

void JucePresetUi::confirmReplace (const juce::String& presetName, juce::Component& associatedComponent,
                                   std::function<void (bool)> onResult)
{
    juce::AlertWindow::showOkCancelBox (
        juce::MessageBoxIconType::WarningIcon, "Replace Preset", "Replace '" + presetName + "'?", {}, {},
        &associatedComponent,
        juce::ModalCallbackFunction::create ([onResult = std::move (onResult)] (int result)
                                             { onResult (result == 1); }));
}

void JucePresetUi::showLoadFailure (const juce::File& presetFile)
{
    juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::WarningIcon, "Preset",
                                            "Failed to load preset:\n" + presetFile.getFullPathName(), {},
                                            nullptr);
}

void JucePresetUi::showNotAPreset (const juce::File& presetFile)
{
    juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::WarningIcon, "Preset",
                                            "'" + presetFile.getFileName() + "' is not a Varnelle preset.",
                                            {}, nullptr);
}

void JucePresetUi::revealFolder (const juce::File& folder)
{
    folder.revealToUser();
}

//==============================================================================
namespace
{
juce::String factoryPresetItemText (int index)
{
    return "Factory: " + PresetManager::getFactoryPresetName (index);
}
} // namespace

const juce::String PresetMenu::factoryItemText{"Factory: Reset"};
const juce::String PresetMenu::selectedPathKey{"selectedPresetPath"};
const juce::String PresetMenu::itemPathKeyPrefix{"presetPath_"};

PresetMenu::PresetMenu (VarnelleAudioProcessor& processorToEdit, juce::Component& ownerComponent,
                        juce::ComboBox& presetBox, juce::TextButton& presetMenuButton,
                        std::unique_ptr<PresetUi> uiToUse, juce::File presetFolder)
    : processor (processorToEdit), manager (processorToEdit, std::move (presetFolder)),
      owner (ownerComponent), box (presetBox), menuButton (presetMenuButton),
      ui (uiToUse != nullptr ? std::move (uiToUse) : std::make_unique<JucePresetUi>())
{
}

PresetMenu::~PresetMenu()
{
    if (controlsSetUp)
    {
        box.onChange = nullptr;
        menuButton.onClick = nullptr;
    }
}

bool PresetMenu::isAlive (const juce::WeakReference<PresetMenu>& self,
                          const juce::Component::SafePointer<juce::Component>& ownerPointer)
{
    return self != nullptr && ownerPointer != nullptr;
}

void PresetMenu::setUpControls()
{
    const auto white = juce::Colours::white;

    box.setTextWhenNothingSelected ("Preset");
    box.setJustificationType (juce::Justification::centredLeft);
    box.setColour (juce::ComboBox::backgroundColourId, juce::Colour (0xff121b2c));
    box.setColour (juce::ComboBox::outlineColourId, white.withAlpha (0.16f));
    box.setColour (juce::ComboBox::textColourId, white.withAlpha (0.92f));
    box.setColour (juce::ComboBox::arrowColourId, white.withAlpha (0.75f));
    box.clear (juce::dontSendNotification);
    box.addItem (factoryItemText, factoryItemId);
    box.setSelectedId (0, juce::dontSendNotification);
    box.setText (factoryItemText, juce::dontSendNotification);
    setSelectedPresetPath ({});

    menuButton.setName ("Presets");
    menuButton.setButtonText ("...");
    menuButton.setTooltip ("Preset menu");
    menuButton.setColour (juce::TextButton::buttonColourId, juce::Colour (0xff1d2a43));
    menuButton.setColour (juce::TextButton::buttonOnColourId, juce::Colour (0xff2d4368));
    menuButton.setColour (juce::TextButton::textColourOffId, white.withAlpha (0.88f));
    menuButton.setColour (juce::TextButton::textColourOnId, white);

    box.onChange = [this] { loadSelectedPreset(); };
    menuButton.onClick = [this] { showPresetMenu(); };
    controlsSetUp = true;

    refreshPresetList();
}

void PresetMenu::setSelectedPresetPath (const juce::String& path)
{
    box.getProperties().set (selectedPathKey, path);
}

juce::String PresetMenu::getSelectedPresetPath() const
{
    return box.getProperties()[selectedPathKey].toString();
}

void PresetMenu::refreshPresetList()
{
    auto& properties = box.getProperties();
    const auto remembered = getSelectedPresetPath();
    const auto shownFactoryPreset = getFactoryPresetIndex (box.getSelectedId());

    box.clear (juce::dontSendNotification);
    box.addItem (factoryItemText, factoryItemId);

    for (int i = 0; i < PresetManager::numFactoryPresets; ++i)
        box.addItem (factoryPresetItemText (i), firstFactoryPresetId + i);

    int match = 0;
    int id = factoryItemId + 1;

    for (const auto& file : manager.listPresetFiles())
    {
        if (id >= firstFactoryPresetId)
            break; // a folder this full lists its first presets only; IDs must stay unique

        const auto path = file.getFullPathName();
        box.addItem (PresetManager::getPresetName (file), id);
        properties.set (itemPathKeyPrefix + juce::String (id), path);

        if (remembered.isNotEmpty() && remembered == path)
            match = id;

        ++id;
    }

    if (match == 0 && remembered.isEmpty() && shownFactoryPreset >= 0)
        match = firstFactoryPresetId + shownFactoryPreset;

    box.setSelectedId (match, juce::dontSendNotification);

    if (match == 0)
    {
        setSelectedPresetPath ({});
        box.setText (factoryItemText, juce::dontSendNotification);
    }
}

juce::File PresetMenu::getSelectedPresetFile() const
{
    const auto id = box.getSelectedId();

    if (id > factoryItemId && id < firstFactoryPresetId)
    {
        const auto path = box.getProperties()[itemPathKeyPrefix + juce::String (id)].toString();

        if (juce::File::isAbsolutePath (path))
            return juce::File (path);
    }

    return {};
}

void PresetMenu::loadSelectedPreset()
{
    if (box.getSelectedId() <= factoryItemId)
    {
        resetToFactory();
        return;
    }

    if (const auto index = getFactoryPresetIndex (box.getSelectedId()); index >= 0)
    {
        loadFactoryPreset (index);
        return;
    }

    const auto file = getSelectedPresetFile();
    const EditHistory::ScopedStep step (processor.getEditHistory(),
                                        "Load Preset '" + PresetManager::getPresetName (file) + "'");

    switch (manager.loadPreset (file))
    {
        case PresetManager::LoadResult::missing:
        case PresetManager::LoadResult::invalid:
            return; // unusable state is ignored silently, as in a host's restore

        case PresetManager::LoadResult::unreadable:
            ui->showLoadFailure (file); // the item stays selected, the remembered path unchanged
            return;

        case PresetManager::LoadResult::tooLarge:
            ui->showNotAPreset (file); // as for an unreadable file
            return;

        case PresetManager::LoadResult::loaded:
            setSelectedPresetPath (file.getFullPathName());
            owner.repaint();
            return;
    }
}

void PresetMenu::resetToFactory()
{
    setSelectedPresetPath ({});
    {
        const EditHistory::ScopedStep step (processor.getEditHistory(), factoryItemText);
        manager.resetToFactoryDefaults();
    }
    box.setSelectedId (0, juce::dontSendNotification);
    box.setText (factoryItemText, juce::dontSendNotification);
    owner.repaint();
}

int PresetMenu::getFactoryPresetIndex (int itemId)
{
    const auto index = itemId - firstFactoryPresetId;
    return index >= 0 && index < PresetManager::numFactoryPresets ? index : -1;
}

void PresetMenu::loadFactoryPreset (int index)
{
    if (index < 0 || index >= PresetManager::numFactoryPresets)
        return;

    {
        const EditHistory::ScopedStep step (processor.getEditHistory(),
                                            "Load Preset '" + factoryPresetItemText (index) + "'");
        manager.loadFactoryPreset (index);
    }
    setSelectedPresetPath ({});
    box.setSelectedId (firstFactoryPresetId + index, juce::dontSendNotification);
    owner.repaint();
}

juce::PopupMenu PresetMenu::buildPresetMenu() const
{
    auto& history = processor.getEditHistory();
    const auto undoName = history.getUndoName();
    const auto redoName = history.getRedoName();

    const auto id = box.getSelectedId();
    const auto presetSelected = id > factoryItemId && id < firstFactoryPresetId;

    juce::PopupMenu menu;
    menu.addSectionHeader ("Preset");
    menu.addItem (savePresetItem, "Save Preset...", true, false);
    menu.addItem (saveAsItem, "Save As...", true, false);
    menu.addSeparator();
    menu.addItem (renameItem, "Rename...", presetSelected, false);
    menu.addItem (deleteItem, "Delete", presetSelected, false);
    menu.addSeparator();
    menu.addItem (openFolderItem, "Open Preset Folder", true, false);
    menu.addSeparator();
    menu.addItem (refreshListItem, "Refresh List", true, false);
    menu.addSeparator();
    menu.addItem (undoItem, undoName.isEmpty() ? "Undo" : "Undo " + undoName, undoName.isNotEmpty(), false);
    menu.addItem (redoItem, redoName.isEmpty() ? "Redo" : "Redo " + redoName, redoName.isNotEmpty(), false);
    const int listenedBand = processor.getListeningBand();
    menu.addItem (listenToChangeItem, "Listen to the Change", true,
                  processor.isListeningToChange() && listenedBand < 0);
    for (int band = 0; band < varnelle::numBands; ++band)
        menu.addItem (listenToBandItem + band, "Listen to Band " + juce::String (band + 1) + "'s Change",
                      true, listenedBand == band);
    if (isShowingChange != nullptr && onChangeViewToggled != nullptr)
        menu.addItem (changeViewItem, "View: Change", true, isShowingChange());
    return menu;
}

void PresetMenu::showPresetMenu()
{
    ui->showMenu (buildPresetMenu(), menuButton,
                  [self = juce::WeakReference<PresetMenu> (this),
                   ownerPointer = juce::Component::SafePointer<juce::Component> (&owner)] (int itemId)
                  {
                      if (isAlive (self, ownerPointer))
                          self->handlePresetMenuResult (itemId);
                  });
}

void PresetMenu::handlePresetMenuResult (int itemId)
{
    switch (itemId)
    {
        case savePresetItem:
            saveOverSelectedOrAsk();
            break;

        case saveAsItem:
            askForPresetName ("Save Preset As", getProposedNameForSaving(),
                              [this] (juce::String name) { savePresetWithName (name); });
            break;

        case renameItem:
            renameSelected();
            break;

        case deleteItem:
            deleteSelected();
            break;

        case openFolderItem:
            ui->revealFolder (manager.getPresetFolder());
            break;

        case refreshListItem:
            refreshPresetList();
            break;

        case undoItem:
            processor.getEditHistory().undo();
            break;

        case redoItem:
            processor.getEditHistory().redo();
            break;

        case listenToChangeItem:
            processor.switchListeningTo (-1);
            if (onListeningToChangeSwitched != nullptr)
                onListeningToChangeSwitched();
            break;

        case changeViewItem:
            if (onChangeViewToggled != nullptr)
                onChangeViewToggled();
            break;

        default:
            if (itemId >= listenToBandItem && itemId < listenToBandItem + varnelle::numBands)
            {
                processor.switchListeningTo (itemId - listenToBandItem);
                if (onListeningToChangeSwitched != nullptr)
                    onListeningToChangeSwitched();
            }
            break; // 0: the menu was dismissed
    }
}

juce::String PresetMenu::getProposedNameForSaving() const
{
    if (const auto index = getFactoryPresetIndex (box.getSelectedId()); index >= 0)
        return PresetManager::proposeNameForSaving (PresetManager::getFactoryPresetName (index));

    return PresetManager::proposeNameForSaving (box.getText());
}

void PresetMenu::saveOverSelectedOrAsk()
{
    const auto file = getSelectedPresetFile();

    if (file.existsAsFile())
    {
        if (manager.writeCurrentState (file))
        {
            setSelectedPresetPath (file.getFullPathName());
            refreshPresetList();
        }
        return;
    }

    askForPresetName ("Save Preset", getProposedNameForSaving(),
                      [this] (juce::String name) { savePresetWithName (name); });
}

void PresetMenu::savePresetWithName (const juce::String& name)
{
    const auto file = manager.savePresetWithName (name);

    if (file == juce::File())
        return;

    setSelectedPresetPath (file.getFullPathName());
    refreshPresetList();
}

void PresetMenu::askForPresetName (const juce::String& title, const juce::String& proposed,
                                   std::function<void (juce::String)> action)
{
    askForPresetName (title, proposed, juce::File(), std::move (action));
}

void PresetMenu::askForPresetName (const juce::String& title, const juce::String& proposed,
                                   const juce::File& renameSource, std::function<void (juce::String)> action)
{
    auto name = PresetManager::sanitisePresetName (proposed);

    if (name.isEmpty())
        name = "New Preset";

    const auto initialFile = manager.getPresetFolder().getChildFile (name + PresetManager::fileExtension);

    ui->chooseSaveFile (
        title, initialFile,
        [self = juce::WeakReference<PresetMenu> (this),
         ownerPointer = juce::Component::SafePointer<juce::Component> (&owner), renameSource,
         action = std::move (action)] (const juce::File& chosen)
        {
            if (!isAlive (self, ownerPointer))
                return;

            const auto chosenName =
                chosen == juce::File() ? juce::String() : PresetManager::nameFromChosenFile (chosen);

            if (chosenName.isEmpty())
            {
                action ({}); // cancelled
                return;
            }

            // Only the name counts; every preset is written to the preset folder. The dialog has
            // warned about replacing an existing file only if it showed that very file.
            const auto target = renameSource == juce::File()
                                    ? self->manager.getPresetFile (chosenName)
                                    : PresetManager::getRenameTarget (renameSource, chosenName);
            const auto replacesAnother =
                target.existsAsFile() && !(renameSource != juce::File() &&
                                           PresetManager::isSameNameIgnoringCase (renameSource, target));

            if (!replacesAnother || chosen == target)
            {
                action (chosenName);
                return;
            }

            self->ui->confirmReplace (chosenName, self->owner,
                                      [self, ownerPointer, action, chosenName] (bool confirmed)
                                      {
                                          if (isAlive (self, ownerPointer))
                                              action (confirmed ? chosenName : juce::String());
                                      });
        });
}

void PresetMenu::renameSelected()
{
    const auto oldFile = getSelectedPresetFile();

    if (!oldFile.existsAsFile())
        return;

    askForPresetName ("Rename Preset", PresetManager::getPresetName (oldFile), oldFile,
                      [this, oldFile] (juce::String newName) { renamePreset (oldFile, newName); });
}

void PresetMenu::renamePreset (const juce::File& oldFile, const juce::String& newName)
{
    const auto target = manager.renamePreset (oldFile, newName);

    if (target == juce::File())
        return;

    setSelectedPresetPath (target.getFullPathName());
    refreshPresetList();
}

void PresetMenu::deleteSelected()
{
    const auto file = getSelectedPresetFile();

    if (!file.existsAsFile())
        return;

    ui->confirmDelete (PresetManager::getPresetName (file), owner,
                       [self = juce::WeakReference<PresetMenu> (this),
                        ownerPointer = juce::Component::SafePointer<juce::Component> (&owner),
                        file] (bool confirmed)
                       {
                           if (!confirmed || !isAlive (self, ownerPointer))
                               return;

                           if (!PresetManager::deletePreset (file))
                               return;

                           self->setSelectedPresetPath ({});
                           self->refreshPresetList();
                       });
}

} // namespace varnelle::editor
