// Where each of the editor's file choosers opens, under what title and for which files. One rule for
// the starting folder: the last folder used for that kind of file, else the standard folder for it,
// else home; none is ever created just to open a chooser in it.
#include "editor/SorvaneAudioProcessorEditor.h"
#include "presets/PresetCatalog.h"
#include "projects/CreatorProjectFile.h"

namespace
{
using sorvane::StandardFolder;
using Browser = juce::FileBrowserComponent;

constexpr const char* audioPatterns = "*.wav;*.aif;*.aiff;*.flac;*.ogg;*.mp3;*.m4a;*.aac;*.opus";
constexpr int openFiles = Browser::openMode | Browser::canSelectFiles;
constexpr int saveFiles = Browser::saveMode | Browser::canSelectFiles | Browser::warnAboutOverwriting;

// The name the project gave its source, so the user knows which file to look for.
juce::String missingSourceName(const juce::File& projectFile)
{
    sorvane::CreatorProjectData data;
    juce::String error;
    if (projectFile == juce::File() || !sorvane::readCreatorProject(projectFile, data, error))
        return {};
    return data.sourceFile.getFileName();
}
} // namespace

sorvane::ChooserSettings SorvaneAudioProcessorEditor::getChooserSettings(sorvane::ChooserPurpose purpose,
                                                                         const juce::File& projectFile) const
{
    using sorvane::ChooserPurpose;
    const auto startIn = [this](const char* key, StandardFolder standard)
    { return sorvane::chooserStartFolder(editorSettings, key, standard); };

    switch (purpose)
    {
    case ChooserPurpose::loadAudio:
        return {"Load an audio sample", startIn("audioDirectory", StandardFolder::music), audioPatterns,
                openFiles};
    case ChooserPurpose::relinkSource:
    {
        juce::String title("Locate the project's moved source audio");
        if (const auto name = missingSourceName(projectFile); name.isNotEmpty())
            title << ": " << name;
        return {title, startIn("audioDirectory", StandardFolder::music), audioPatterns, openFiles};
    }
    case ChooserPurpose::saveProject:
    {
        const auto folder = startIn("projectDirectory", StandardFolder::documents);
        auto initial = processor.getCurrentProjectFile();
        // A project whose folder has gone is saved anew from the usual folder.
        if (initial == juce::File() || !initial.getParentDirectory().isDirectory())
            initial = folder.getChildFile("Sorvane Project" + sorvane::creatorProjectExtension);
        return {"Save Sorvane creator project", initial, "*.sorvaneproject",
                Browser::saveMode | Browser::canSelectFiles};
    }
    case ChooserPurpose::openProject:
        return {"Open Sorvane creator project", startIn("projectDirectory", StandardFolder::documents),
                "*.sorvaneproject", openFiles};
    case ChooserPurpose::savePreset:
    {
        // The browser lists the user preset folder, so saves start there once it exists.
        auto folder = sorvane::PresetCatalog::defaultUserPresetDirectory();
        if (!folder.isDirectory())
            folder = startIn("presetDirectory", StandardFolder::documents);
        return {"Save Sorvane preset", folder, "*.sorvane", saveFiles};
    }
    case ChooserPurpose::loadPreset:
        return {"Load Sorvane preset", startIn("presetDirectory", StandardFolder::documents), "*.sorvane",
                openFiles};
    case ChooserPurpose::exportAudio:
        return {
            "Export processed loop",
            startIn("audioExportDirectory", StandardFolder::documents).getChildFile("Sorvane-processed.wav"),
            "*.wav", saveFiles};
    case ChooserPurpose::shareResult:
        return {"Choose a parent folder for the new Sorvane result package",
                startIn("socialExportDirectory", StandardFolder::documents),
                {},
                Browser::openMode | Browser::canSelectDirectories};
    case ChooserPurpose::exportSupportBundle:
        return {"Export redacted Sorvane support bundle",
                startIn("advisorDirectory", StandardFolder::documents).getChildFile("Sorvane-Support.json"),
                "*.json", saveFiles};
    }
    return {};
}
