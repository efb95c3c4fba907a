#pragma once

#include "editor/LastDirectoryStore.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace sorvane
{
// Everything a file chooser opens with, built apart from the chooser so it can be checked.
struct ChooserSettings
{
    juce::String title;
    // An existing folder, or a file name inside an existing folder (save choosers only).
    juce::File initialFileOrDirectory;
    juce::String filePatterns;
    int flags = 0;
};

enum class ChooserPurpose
{
    loadAudio,
    relinkSource,
    saveProject,
    openProject,
    savePreset,
    loadPreset,
    exportAudio,
    shareResult,
    exportSupportBundle
};

// The standard folder a kind of chooser falls back to before the home folder.
enum class StandardFolder
{
    music,
    documents
};

// The folder remembered under key if it still exists, else the standard folder if it exists, else the
// home folder. Nothing is created: a chooser started on a missing folder offers its name as a file.
juce::File chooserStartFolder(const knurlkit::juce_utilities::LastDirectoryStore& store,
                              const juce::String& key, StandardFolder standard);

inline std::unique_ptr<juce::FileChooser> makeFileChooser(const ChooserSettings& settings)
{
    return std::make_unique<juce::FileChooser>(settings.title, settings.initialFileOrDirectory,
                                               settings.filePatterns);
}
} // namespace sorvane
