// The preset controls: search, filters, favourites, the browser combo, audition and revert, the recent
// menu, the level lock, the save and load choosers and the edit dialogs of user presets.
#include "editor/KnobLocks.h"
#include "editor/SorvaneAudioProcessorEditor.h"

namespace
{
constexpr const char* presetDirectoryKey = "presetDirectory";
constexpr const char* noSelectionTooltip = "Choose a factory sound or saved program";
} // namespace

void SorvaneAudioProcessorEditor::wirePresetCommands()
{
    auto& p = presets;
    p.sourceFilter.onChange = [this] { refreshPresetBrowser(true); };
    p.tagFilter.onChange = [this] { refreshPresetBrowser(true); };
    p.favourites.onClick = [this] { refreshPresetBrowser(true); };
    p.browser.onChange = [this] { chooseBrowserItem(presets.browser.getSelectedId()); };
    p.browser.onChosenAgain = [this] { chooseBrowserItem(presets.browser.getSelectedId()); };
    p.rename.onClick = [this] { showPresetActionDialog((int)sorvane::PresetAction::rename); };
    p.duplicate.onClick = [this] { showPresetActionDialog((int)sorvane::PresetAction::duplicate); };
    p.tags.onClick = [this] { showPresetActionDialog((int)sorvane::PresetAction::editMetadata); };
    p.remove.onClick = [this] { showPresetActionDialog((int)sorvane::PresetAction::moveToTrash); };

    level.recentPresets.onClick = [this] { showRecentPresetsMenu(); };
    level.revertPresets.onClick = [this] { revertPresetExperiment(); };
    level.keepSound.onClick = [this] { keepPresetExperiment(); };
    level.keepMix.onClick = [this] { processor.setPresetLevelLock(level.keepMix.getToggleState()); };
    mutation.save.onClick = [this] { choosePresetFile(true); };
    mutation.load.onClick = [this] { choosePresetFile(false); };

    refreshPresetBrowser(true);
    refreshPresetExperimentControls();
}

const sorvane::PresetDescriptor* SorvaneAudioProcessorEditor::getSelectedPreset() const
{
    const int index = presets.browser.getSelectedId() - 1;
    return index >= 0 && index < (int)presetResults.size() ? &presetResults[(size_t)index] : nullptr;
}

void SorvaneAudioProcessorEditor::refreshPresetBrowser(bool selectCurrentProgram)
{
    auto& p = presets;
    const juce::String rememberedId =
        getSelectedPreset() != nullptr ? getSelectedPreset()->id : juce::String();

    auto results = processor.queryPresets(p.sourceFilter.getText(), p.tagFilter.getText(),
                                          p.favourites.getToggleState(), p.search.getText());
    presetResults.clear();
    presetResults.reserve(results.size());
    for (auto& entry : results)
        if (sorvane::matchesDiscovery(entry, discoveryFilter))
            presetResults.push_back(std::move(entry));

    p.browser.clear(juce::dontSendNotification);
    int selectId = 0;
    const int program = processor.getCurrentProgram();
    for (size_t i = 0; i < presetResults.size(); ++i)
    {
        const auto& entry = presetResults[i];
        p.browser.addItem(juce::String(entry.valid ? "" : "! ") + (entry.favourite ? "* " : "") + entry.name,
                          (int)i + 1);
        const bool wanted = selectCurrentProgram
                                ? entry.kind == sorvane::PresetKind::Factory && entry.factoryIndex == program
                                : rememberedId.isNotEmpty() && entry.id == rememberedId;
        if (wanted && selectId == 0)
            selectId = (int)i + 1;
    }
    if (selectId == 0 && !presetResults.empty())
        selectId = 1;
    if (selectId > 0)
        p.browser.setSelectedId(selectId, juce::dontSendNotification);
    p.browser.setTextWhenNothingSelected(presetResults.empty() ? "NO MATCHES" : "SELECT PRESET");
    updatePresetSelectionControls();
}

void SorvaneAudioProcessorEditor::showWrittenPreset(const juce::String& id)
{
    const auto listed = [this, &id]
    {
        for (const auto& entry : presetResults)
            if (entry.id == id)
                return true;
        return false;
    };
    refreshPresetBrowser(false);
    if (!listed() && processor.getPresetCatalog().find(id) != nullptr)
    {
        // The row's own filters hid what the user just wrote: clear them rather than leave it unseen.
        auto& p = presets;
        p.search.setText({}, false);
        searchDebounceTicks = 0;
        p.sourceFilter.setSelectedId(1, juce::dontSendNotification);
        p.tagFilter.setSelectedId(1, juce::dontSendNotification);
        p.favourites.setToggleState(false, juce::dontSendNotification);
        refreshPresetBrowser(false);
    }
    for (size_t i = 0; i < presetResults.size(); ++i)
        if (presetResults[i].id == id)
        {
            presets.browser.setSelectedId((int)i + 1, juce::dontSendNotification);
            break;
        }
    updatePresetSelectionControls();
}

void SorvaneAudioProcessorEditor::updatePresetSelectionControls()
{
    const auto* selected = getSelectedPreset();
    presets.browser.setTooltip(selected != nullptr ? selected->description() : noSelectionTooltip);
    const bool editable = selected != nullptr && selected->isValidUser();
    for (auto* b : {&presets.rename, &presets.duplicate, &presets.tags, &presets.remove})
        b->setEnabled(editable);
}

void SorvaneAudioProcessorEditor::resyncAfterPreset()
{
    variantDisplay = -1;
    resyncAfterWorkflow();
    refreshPresetExperimentControls();
}

void SorvaneAudioProcessorEditor::chooseBrowserItem(int itemId)
{
    updatePresetSelectionControls();
    const int index = itemId - 1;
    if (index < 0 || index >= (int)presetResults.size())
        return;
    const auto entry = presetResults[(size_t)index];
    juce::String error;
    if (!processor.applyBrowserPreset(entry, error))
    {
        setStatusError(error);
        refreshPresetExperimentControls();
        return;
    }
    resyncAfterPreset();
    presets.browser.setTooltip(entry.description());
    setStatusMessage(entry.description());
}

void SorvaneAudioProcessorEditor::toggleSelectedFavourite()
{
    const auto* selected = getSelectedPreset();
    if (selected == nullptr)
        return;
    const bool favourite = !selected->favourite;
    juce::String error;
    if (!processor.setPresetFavourite(selected->id, favourite, error))
    {
        setStatusError(error);
        return;
    }
    refreshPresetBrowser(false);
    setStatusMessage(favourite ? "ADDED TO FAVOURITES" : "REMOVED FROM FAVOURITES");
}

void SorvaneAudioProcessorEditor::refreshPresetExperimentControls()
{
    const bool active = processor.isPresetExperimentActive();
    level.keepMix.setToggleState(processor.isPresetLevelLockEnabled(), juce::dontSendNotification);
    level.revertPresets.setEnabled(active);
    level.keepSound.setEnabled(active);
    const juce::String text = active ? "REVERT PRESETS *" : "REVERT PRESETS";
    if (level.revertPresets.getButtonText() != text)
        level.revertPresets.setButtonText(text);
}

void SorvaneAudioProcessorEditor::revertPresetExperiment()
{
    if (!processor.revertPresetExperiment())
        return;
    resyncAfterPreset();
    refreshPresetBrowser(true);
    setStatusMessage("PRESET EXPERIMENT REVERTED");
}

void SorvaneAudioProcessorEditor::keepPresetExperiment()
{
    if (!processor.keepPresetExperiment())
        return;
    refreshPresetExperimentControls();
    setStatusMessage("CURRENT PRESET SOUND KEPT");
}

void SorvaneAudioProcessorEditor::showRecentPresetsMenu()
{
    const auto recent = processor.getRecentPresets();
    juce::PopupMenu menu;
    if (recent.empty())
        menu.addItem(1, "No recent presets", false);
    for (size_t i = 0; i < recent.size(); ++i)
        menu.addItem((int)i + 1, recent[i].name, recent[i].valid);
    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    menu.showMenuAsync(juce::PopupMenu::Options().withTargetComponent(&level.recentPresets),
                       [safeThis, recent](int result)
                       {
                           if (safeThis != nullptr && result > 0 && result <= (int)recent.size())
                               safeThis->applyRecentPreset(recent[(size_t)result - 1]);
                       });
}

void SorvaneAudioProcessorEditor::applyRecentPreset(const sorvane::PresetDescriptor& entry)
{
    juce::String error;
    if (!processor.applyBrowserPreset(entry, error))
    {
        setStatusError(error);
        refreshPresetExperimentControls();
        return;
    }
    resyncAfterPreset();
    refreshPresetBrowser(true);
    setStatusMessage("Loaded recent preset: " + entry.name);
}

//======================================================================================================
void SorvaneAudioProcessorEditor::choosePresetFile(bool save)
{
    const auto settings =
        getChooserSettings(save ? sorvane::ChooserPurpose::savePreset : sorvane::ChooserPurpose::loadPreset);
    presetChooser = sorvane::makeFileChooser(settings);
    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    presetChooser->launchAsync(settings.flags,
                               [safeThis, save](const juce::FileChooser& chooser)
                               {
                                   if (safeThis == nullptr)
                                       return;
                                   safeThis->restoreKeyboardFocus();
                                   const auto file = chooser.getResult();
                                   if (file == juce::File())
                                       return;
                                   if (save)
                                       safeThis->savePresetToChosenFile(file, file.exists());
                                   else
                                       safeThis->loadPresetFile(file);
                               });
}

bool SorvaneAudioProcessorEditor::savePresetToChosenFile(const juce::File& file, bool overwriteConfirmed)
{
    juce::String error;
    if (!editorSettings.remember(presetDirectoryKey, file, error))
        reportSettingsNotSaved(error);
    juce::File written;
    if (!processor.saveUserPreset(file, overwriteConfirmed, written, error))
    {
        showAlert(juce::MessageBoxIconType::WarningIcon, "Could not save preset", error);
        return false;
    }
    showWrittenPreset(sorvane::userId(written));
    setStatusMessage("PRESET SAVED");
    return true;
}

bool SorvaneAudioProcessorEditor::loadPresetFile(const juce::File& file)
{
    juce::String error;
    if (!editorSettings.remember(presetDirectoryKey, file, error))
        reportSettingsNotSaved(error);
    sorvane::PresetDescriptor entry;
    entry.kind = sorvane::PresetKind::User;
    entry.name = file.getFileNameWithoutExtension();
    entry.path = file;
    entry.valid = true;
    if (!processor.applyBrowserPreset(entry, error))
    {
        showAlert(juce::MessageBoxIconType::WarningIcon, "Could not load preset", error);
        refreshPresetExperimentControls();
        return false;
    }
    resyncAfterPreset();
    refreshPresetBrowser(true);
    setStatusMessage("PRESET LOADED");
    return true;
}

//======================================================================================================
void SorvaneAudioProcessorEditor::showPresetActionDialog(int action)
{
    const auto* selected = getSelectedPreset();
    if (selected == nullptr)
        return setStatusMessage("SELECT A USER PRESET FIRST");
    if (!selected->isValidUser())
        return setStatusMessage(!selected->valid ? "QUARANTINED PRESETS CANNOT BE EDITED"
                                                 : "FACTORY PRESETS ARE READ-ONLY");

    static const char* const titles[] = {"", "Rename user preset", "Duplicate user preset",
                                         "Edit preset metadata", "Move preset to Trash"};
    const bool trash = action == (int)sorvane::PresetAction::moveToTrash;
    presetDialog = std::make_unique<juce::AlertWindow>(
        titles[juce::jlimit(1, 4, action)],
        trash ? "The preset will be moved to Sorvane's recoverable Trash folder."
              : "Changes are written atomically and the preset index is rebuilt.",
        trash ? juce::MessageBoxIconType::WarningIcon : juce::MessageBoxIconType::InfoIcon, this);
    if (action == (int)sorvane::PresetAction::rename)
        presetDialog->addTextEditor("name", selected->name, "Preset name");
    else if (action == (int)sorvane::PresetAction::duplicate)
        presetDialog->addTextEditor("name", selected->name + " Copy", "Preset name");
    else if (action == (int)sorvane::PresetAction::editMetadata)
    {
        presetDialog->addTextEditor("category", selected->category, "Category");
        presetDialog->addTextEditor("tags", selected->tags.joinIntoString(","), "Comma-separated tags");
    }
    presetDialog->addButton(trash ? "Move to Trash" : "Apply", 1, juce::KeyPress(juce::KeyPress::returnKey));
    presetDialog->addButton("Cancel", 0, juce::KeyPress(juce::KeyPress::escapeKey));

    const auto id = selected->id;
    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    presetDialog->enterModalState(true,
                                  juce::ModalCallbackFunction::create(
                                      [safeThis, action, id](int result)
                                      {
                                          if (safeThis == nullptr || safeThis->presetDialog == nullptr)
                                              return;
                                          const auto text = [&safeThis](const char* field)
                                          {
                                              auto* editor = safeThis->presetDialog->getTextEditor(field);
                                              return editor != nullptr ? editor->getText() : juce::String();
                                          };
                                          const auto name = text("name"), category = text("category"),
                                                     tags = text("tags");
                                          safeThis->presetDialog.reset();
                                          safeThis->restoreKeyboardFocus();
                                          if (result == 1)
                                              safeThis->performPresetAction(action, id, name, category, tags);
                                      }),
                                  false);
}

bool SorvaneAudioProcessorEditor::performPresetAction(int action, const juce::String& id,
                                                      const juce::String& name, const juce::String& category,
                                                      const juce::String& tags)
{
    auto& catalog = processor.getPresetCatalog();
    juce::String error;
    bool ok = false;
    switch ((sorvane::PresetAction)action)
    {
    case sorvane::PresetAction::rename:
        ok = catalog.renamePreset(id, name, error);
        break;
    case sorvane::PresetAction::duplicate:
        ok = catalog.duplicatePreset(id, name, error);
        break;
    case sorvane::PresetAction::editMetadata:
        ok = catalog.editMetadata(id, category, tags, error);
        break;
    case sorvane::PresetAction::moveToTrash:
        ok = catalog.moveToTrash(id, error);
        break;
    default:
        error = "Unknown preset action.";
        break;
    }
    const bool wroteFile =
        action == (int)sorvane::PresetAction::rename || action == (int)sorvane::PresetAction::duplicate;
    if (ok && wroteFile)
        showWrittenPreset(sorvane::userId(catalog.fileForName(name)));
    else
        refreshPresetBrowser(false);
    if (ok)
        setStatusMessage("USER PRESET LIBRARY UPDATED");
    else
        setStatusError(error);
    return ok;
}

void SorvaneAudioProcessorEditor::refreshPresetTick()
{
    if (searchDebounceTicks > 0 && --searchDebounceTicks == 0)
        refreshPresetBrowser(false);

    if (++catalogRefreshTicks >= 10 * juce::jmax(1, visualQuality.getTimerRate()))
    {
        catalogRefreshTicks = 0;
        processor.refreshUserPresets(false);
        refreshPresetBrowser(false);
        // Said once per new set of such files, not every ten seconds.
        const auto& unlisted = processor.getPresetCatalog().getUnlistedFileNames();
        if (unlisted != shownUnlistedPresetFiles)
        {
            shownUnlistedPresetFiles = unlisted;
            if (!unlisted.isEmpty())
                setStatusMessage("NOT LISTED, NAME IS NOT UTF-8: " + unlisted.joinIntoString(", ") +
                                 ". RENAME TO USE.");
        }
    }
}
