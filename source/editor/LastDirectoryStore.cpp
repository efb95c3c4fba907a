#include "editor/LastDirectoryStore.h"
#include "editor/SettingsFileCheck.h"
#include "editor/SettingsLocation.h"

namespace knurlkit::juce_utilities
{
juce::PropertiesFile::Options LastDirectoryStore::editorOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "Sorvane";
    options.filenameSuffix = "settings";
    options.folderName = "Kavix";
    options.osxLibrarySubFolder = "Application Support";
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    options.millisecondsBeforeSaving = 250;
    return options;
}

LastDirectoryStore::LastDirectoryStore()
    : LastDirectoryStore(juce::File::getSpecialLocation(juce::File::userMusicDirectory), editorOptions())
{
}

LastDirectoryStore::LastDirectoryStore(juce::File defaultDirectoryToUse,
                                       const juce::PropertiesFile::Options& options)
    : defaultDirectory(std::move(defaultDirectoryToUse)), properties(settingsFileFor(options), options)
{
}

juce::File LastDirectoryStore::get(const juce::String& key, const juce::File& fallback) const
{
    const auto stored = properties.getValue(key);
    if (juce::File::isAbsolutePath(stored))
        if (const juce::File folder(stored); folder.isDirectory())
            return folder;

    if (fallback != juce::File() && fallback.isDirectory())
        return fallback;

    return defaultDirectory;
}

bool LastDirectoryStore::remember(const juce::String& key, const juce::File& file, juce::String& error)
{
    const auto folder = file.isDirectory() ? file : file.getParentDirectory();
    if (!folder.isDirectory() || properties.getValue(key) == folder.getFullPathName())
        return true;

    properties.setValue(key, folder.getFullPathName());
    return !properties.needsToBeSaved() || saveSettingsFile(properties, error);
}
} // namespace knurlkit::juce_utilities
