#include "editor/SettingsFileCheck.h"

namespace knurlkit
{
namespace
{
juce::String withoutFinalStop(juce::String text)
{
    text = text.trim();
    return text.endsWithChar('.') ? text.dropLastCharacters(1) : text;
}
} // namespace

bool canWriteSettingsFile(const juce::File& settingsFile, juce::String& error)
{
    const auto folder = settingsFile.getParentDirectory();
    if (settingsFile.isDirectory())
    {
        error = "The settings file " + settingsFile.getFullPathName() + " is a folder.";
        return false;
    }

    // A file where a folder of the path should be makes mkdir say only "File exists".
    for (auto f = folder; f != f.getParentDirectory(); f = f.getParentDirectory())
        if (f.existsAsFile())
        {
            error = "The settings folder " + folder.getFullPathName() +
                    (f == folder ? juce::String() : " cannot be created: " + f.getFullPathName()) +
                    " is a file.";
            return false;
        }

    if (const auto made = folder.createDirectory(); made.failed())
    {
        error = "The settings folder " + folder.getFullPathName() + " cannot be created (" +
                withoutFinalStop(made.getErrorMessage()) + ").";
        return false;
    }

    juce::TemporaryFile probe(settingsFile);
    juce::FileOutputStream out(probe.getFile());
    if (out.failedToOpen())
    {
        error = "The settings folder " + folder.getFullPathName() + " is not writable (" +
                withoutFinalStop(out.getStatus().getErrorMessage()) + ").";
        return false;
    }
    return true;
}

bool saveSettingsFile(juce::PropertiesFile& settings, juce::String& error)
{
    if (settings.save())
        return true;

    if (canWriteSettingsFile(settings.getFile(), error))
        error = "The settings could not be written to " + settings.getFile().getFullPathName() + ".";
    return false;
}
} // namespace knurlkit
