#include "editor/SettingsFileCheck.h"

#include "capture/DurableFile.h"

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
    // PropertiesFile's own XML layout, written through a checked temporary: JUCE's writer takes a
    // short write on a full disk for a whole one and would publish a cut file that loads as empty.
    juce::XmlElement doc("PROPERTIES");
    const auto& values = settings.getAllProperties();
    for (int i = 0; i < values.size(); ++i)
    {
        auto* e = doc.createNewChildElement("VALUE");
        e->setAttribute("name", values.getAllKeys()[i]);
        if (auto child = juce::parseXML(values.getAllValues()[i]))
            e->addChildElement(child.release());
        else
            e->setAttribute("val", values.getAllValues()[i]);
    }
    const auto text = doc.toString();
    const auto file = settings.getFile();
    juce::String why;
    if (!file.getParentDirectory().createDirectory().failed() &&
        sorvane::writeFileDurably(file, text.toRawUTF8(), text.getNumBytesAsUTF8(), why))
    {
        settings.setNeedsToBeSaved(false);
        return true;
    }

    if (canWriteSettingsFile(file, error))
        error =
            why.isNotEmpty() ? why : "The settings could not be written to " + file.getFullPathName() + ".";
    // Said once here; JUCE's own save on its timer or at exit must not try again and publish a cut
    // file. The next change marks the settings unsaved again.
    settings.setNeedsToBeSaved(false);
    return false;
}
} // namespace knurlkit
