#include "editor/LastDirectoryStore.h"
#include "editor/ChooserSettings.h"
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

juce::File LastDirectoryStore::remembered(const juce::String& key) const
{
    const auto stored = properties.getValue(key);
    if (juce::File::isAbsolutePath(stored))
        if (const juce::File folder(stored); folder.isDirectory())
            return folder;
    return {};
}

juce::File LastDirectoryStore::get(const juce::String& key, const juce::File& fallback) const
{
    if (const auto folder = remembered(key); folder != juce::File())
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

namespace sorvane
{
juce::File chooserStartFolder(const knurlkit::juce_utilities::LastDirectoryStore& store,
                              const juce::String& key, StandardFolder standard)
{
    if (const auto folder = store.remembered(key); folder != juce::File())
        return folder;
    // JUCE names ~/Music or ~/Documents even when the account has no such folder.
    const auto standardFolder = juce::File::getSpecialLocation(standard == StandardFolder::music
                                                                   ? juce::File::userMusicDirectory
                                                                   : juce::File::userDocumentsDirectory);
    if (standardFolder.isDirectory())
        return standardFolder;
    return juce::File::getSpecialLocation(juce::File::userHomeDirectory);
}
} // namespace sorvane
