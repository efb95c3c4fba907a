#pragma once

#include <juce_data_structures/juce_data_structures.h>

namespace knurlkit::juce_utilities
{
// Remembers the last folder used by each file chooser, in a small settings file of its own.
class LastDirectoryStore
{
public:
    // The editor's store: Music folder by default, "Sorvane.settings" in the "Kavix" folder.
    LastDirectoryStore();
    LastDirectoryStore(juce::File defaultDirectory, const juce::PropertiesFile::Options& options);

    static juce::PropertiesFile::Options editorOptions();

    // The folder remembered for key if it still exists, else none.
    juce::File remembered(const juce::String& key) const;

    // The remembered folder for key if it still exists, else fallback if that exists, else the default.
    juce::File get(const juce::String& key, const juce::File& fallback = {}) const;

    // Remembers file's folder (or file itself when it is a folder) and saves at once. The folder is
    // remembered for this run even when saving fails; error then says why.
    bool remember(const juce::String& key, const juce::File& file, juce::String& error);

    const juce::File& getDefaultDirectory() const noexcept { return defaultDirectory; }
    juce::File getSettingsFile() const { return properties.getFile(); }

private:
    juce::File defaultDirectory;
    juce::PropertiesFile properties;
};
} // namespace knurlkit::juce_utilities
