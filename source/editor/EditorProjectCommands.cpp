// The editor's creator-project commands: SAVE PROJECT, OPEN PROJECT, RECENT PROJECTS, relinking a
// moved source, the recovery offer after an unclean shutdown, and the autosave step of the refresh.
#include "editor/SorvaneAudioProcessorEditor.h"
#include "projects/CreatorProjectFile.h"

namespace
{
constexpr const char* projectDirectoryKey = "projectDirectory";
constexpr int autosaveFailureHold = 1800;
constexpr int captureBarsByItem[] = {1, 2, 4, 8, 16};
constexpr float crossfadeMillisecondsById[] = {5.0f, 12.0f, 20.0f, 30.0f};
} // namespace

void SorvaneAudioProcessorEditor::wireProjectCommands()
{
    mutation.saveProject.onClick = [this] { chooseProjectFile(true); };
    mutation.openProject.onClick = [this]
    { whenProjectChangesAreSettled("before opening another project", [this] { chooseProjectFile(false); }); };
    header.recentProjects.onChange = [this]
    {
        const int index = header.recentProjects.getSelectedId() - 1;
        header.recentProjects.setSelectedId(0, juce::dontSendNotification);
        const auto paths = processor.getRecentProjects();
        if (index >= 0 && index < paths.size())
            whenProjectChangesAreSettled("before opening another project",
                                         [this, file = juce::File(paths[index])]
                                         { loadProjectWithRecovery(file); });
    };
    source.captureLength.onChange = [this]
    {
        const int bars = getSelectedCaptureBars();
        if (processor.captureBarsSetting.exchange(bars) != bars && !processor.suppressProjectDirty.load())
            processor.projectDirty.store(true);
    };
    refreshRecentProjects();

    if (isStandalone())
    {
        processor.startRecoverySession();
        juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
        juce::MessageManager::callAsync(
            [safeThis]
            {
                if (safeThis != nullptr)
                    safeThis->showRecoveryPrompt();
            });
    }
}

void SorvaneAudioProcessorEditor::chooseProjectFile(bool save)
{
    const auto settings = getChooserSettings(save ? sorvane::ChooserPurpose::saveProject
                                                  : sorvane::ChooserPurpose::openProject);
    projectChooser = sorvane::makeFileChooser(settings);
    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    projectChooser->launchAsync(settings.flags,
                                [safeThis, save](const juce::FileChooser& chooser)
                                {
                                    if (safeThis == nullptr)
                                        return;
                                    safeThis->restoreKeyboardFocus();
                                    const auto file = chooser.getResult();
                                    if (file == juce::File())
                                        return;
                                    if (save)
                                        safeThis->saveProjectToChosenFile(file);
                                    else
                                    {
                                        safeThis->rememberProjectFolder(file);
                                        safeThis->loadProjectWithRecovery(file);
                                    }
                                });
}

void SorvaneAudioProcessorEditor::rememberProjectFolder(const juce::File& file)
{
    juce::String error;
    if (!editorSettings.remember(projectDirectoryKey, file, error))
        reportSettingsNotSaved(error);
}

bool SorvaneAudioProcessorEditor::saveProjectToChosenFile(juce::File file)
{
    if (file.getFileExtension().toLowerCase() != sorvane::creatorProjectExtension)
        file = file.withFileExtension(sorvane::creatorProjectExtension);
    rememberProjectFolder(file);

    juce::String error;
    if (!processor.saveCreatorProject(file, error))
    {
        showAlert(juce::MessageBoxIconType::WarningIcon, "Could not save project", error);
        return false;
    }
    setStatusMessage("PROJECT SAVED / SOURCE REFERENCED / STATE VERSIONED");
    refreshRecentProjects();
    return true;
}

bool SorvaneAudioProcessorEditor::hasUnsavedProjectChanges() const
{
    return isStandalone() && processor.projectDirty.load() &&
           processor.getCurrentProjectFile() != juce::File();
}

void SorvaneAudioProcessorEditor::whenProjectChangesAreSettled(const juce::String& beforeWhat,
                                                               std::function<void()> proceed)
{
    if (!hasUnsavedProjectChanges())
    {
        proceed();
        return;
    }
    // A second close or open while the question is up waits for its answer.
    if (projectSavePromptOpen)
        return;
    projectSavePromptOpen = true;
    const auto file = processor.getCurrentProjectFile();
    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    presentAdvisorDialog(
        "Save changes to " + file.getFileNameWithoutExtension() + " " + beforeWhat + "?",
        "Changes since the project was last saved are lost if you do not save them.",
        {{"Save", 1}, {"Don't Save", 2}, {"Cancel", 0}},
        [safeThis, file, proceed = std::move(proceed)](int result)
        {
            if (safeThis == nullptr)
                return;
            safeThis->projectSavePromptOpen = false;
            if (result == 0 || (result == 1 && !safeThis->saveProjectToChosenFile(file)))
                return;
            proceed();
        },
        juce::MessageBoxIconType::QuestionIcon);
}

bool SorvaneAudioProcessorEditor::loadProjectWithRecovery(const juce::File& file)
{
    juce::String error;
    if (!processor.requestCreatorProjectLoad(file, {}, error))
    {
        showAlert(juce::MessageBoxIconType::WarningIcon, "Could not open project", error);
        return false;
    }
    setStatusMessage("PROJECT PREPARING / CURRENT PROJECT PRESERVED UNTIL READY");
    return true;
}

void SorvaneAudioProcessorEditor::chooseRecoveredProjectSource(const juce::File& projectFile)
{
    if (projectSourceLocator)
    {
        projectSourceLocator(projectFile);
        return;
    }
    const auto settings = getChooserSettings(sorvane::ChooserPurpose::relinkSource, projectFile);
    projectChooser = sorvane::makeFileChooser(settings);
    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    projectChooser->launchAsync(settings.flags,
                                [safeThis, projectFile](const juce::FileChooser& chooser)
                                {
                                    if (safeThis == nullptr)
                                        return;
                                    safeThis->restoreKeyboardFocus();
                                    const auto file = chooser.getResult();
                                    if (file != juce::File())
                                        safeThis->relinkProjectSource(projectFile, file);
                                });
}

bool SorvaneAudioProcessorEditor::relinkProjectSource(const juce::File& projectFile,
                                                      const juce::File& located)
{
    juce::String error;
    if (!processor.requestCreatorProjectLoad(projectFile, located, error))
    {
        showAlert(juce::MessageBoxIconType::WarningIcon, "Source recovery failed", error);
        return false;
    }
    rememberAudioFolder(located);
    setStatusMessage("PROJECT RECOVERY PREPARING / FINGERPRINT AND DECODE RUNNING");
    return true;
}

void SorvaneAudioProcessorEditor::showRecoveryPrompt()
{
    const auto snapshot = processor.getProjectRecoverySnapshot();
    if (!snapshot.recoveryAvailable)
        return;
    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    presentAdvisorDialog(
        "Recover unsaved Sorvane work?",
        snapshot.message + "\n\nAutosave: " + snapshot.autosaveFile.getFullPathName(),
        {{"Restore", 1}, {"Discard", 2}, {"Open Location", 3}},
        [safeThis](int result)
        {
            if (safeThis != nullptr)
                safeThis->handleRecoveryChoice(result);
        },
        juce::MessageBoxIconType::WarningIcon);
}

void SorvaneAudioProcessorEditor::handleRecoveryChoice(int result)
{
    juce::String error;
    if (result == 1)
    {
        const auto snapshot = processor.getProjectRecoverySnapshot();
        if (!snapshot.recoveryAvailable)
            error = "No valid unclean-shutdown autosave is available.";
        else if (processor.requestCreatorProjectLoad(snapshot.autosaveFile, {}, error))
        {
            setStatusMessage("RECOVERY PREPARING / CURRENT PROJECT PRESERVED UNTIL PUBLISH");
            return;
        }
        setStatusError(error);
    }
    else if (result == 2)
    {
        if (processor.discardAutosavedProject(error))
            setStatusMessage("RECOVERY AUTOSAVE DISCARDED");
        else
            setStatusError(error);
    }
    else if (result == 3)
    {
        processor.getProjectRecoverySnapshot().autosaveFile.revealToUser();
    }
}

void SorvaneAudioProcessorEditor::refreshAutosave()
{
    if (autosaveFailureHoldTicks > 0)
        --autosaveFailureHoldTicks;
    juce::String error;
    if (processor.autosaveCreatorProjectIfNeeded(error) || autosaveFailureHoldTicks > 0)
        return;
    setStatusError(error);
    autosaveFailureHoldTicks = autosaveFailureHold;
}

void SorvaneAudioProcessorEditor::refreshRecentProjects()
{
    // Every tick: only a changed list is copied.
    const auto version = processor.getRecentProjectsVersion();
    if (shownRecentProjectsVersion.has_value() && *shownRecentProjectsVersion == version)
        return;
    shownRecentProjectsVersion = version;
    const auto paths = processor.getRecentProjects();
    header.recentProjects.clear(juce::dontSendNotification);
    for (int i = 0; i < paths.size(); ++i)
        header.recentProjects.addItem(juce::File(paths[i]).getFileNameWithoutExtension(), i + 1);
    // Disabled only while there is nothing to open, and then it says how the list fills.
    header.recentProjects.setEnabled(!paths.isEmpty());
    header.recentProjects.setTooltip(
        paths.isEmpty() ? "No recent creator projects yet: SAVE PROJECT or OPEN PROJECT adds them here"
                        : "Open one of the ten most recent creator projects");
}

void SorvaneAudioProcessorEditor::resyncAfterProject()
{
    resyncAfterPreset();
    masterFader->syncToProcessor();
    refreshPresetBrowser(true);
    const int bars = processor.captureBarsSetting.load();
    for (int i = 0; i < (int)std::size(captureBarsByItem); ++i)
        if (captureBarsByItem[i] == bars)
            source.captureLength.setSelectedItemIndex(i, juce::dontSendNotification);
    const float fade = processor.getTransportState().crossfadeMilliseconds.load();
    for (int i = 0; i < (int)std::size(crossfadeMillisecondsById); ++i)
        if (std::abs(crossfadeMillisecondsById[i] - fade) < 0.001f)
            source.crossfade.setSelectedId(i + 1, juce::dontSendNotification);
}
