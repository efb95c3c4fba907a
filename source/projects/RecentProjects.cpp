#include "projects/RecentProjects.h"
#include "presets/PresetFileIo.h"

#include <juce_data_structures/juce_data_structures.h>

namespace sorvane
{
namespace
{
const juce::Identifier listType{"SORVANE_RECENT_PROJECTS"};
const juce::Identifier entryType{"PROJECT"};
const juce::Identifier pathProperty{"path"};
// Ten paths; anything much larger is not our file.
constexpr std::int64_t maxListBytes = 256 * 1024;
} // namespace

juce::File sorvaneApplicationDataFolder()
{
    return juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory)
        .getChildFile("Kavix")
        .getChildFile("Sorvane");
}

RecentProjects::RecentProjects(juce::File file) : storageFile(std::move(file)) {}

juce::File RecentProjects::defaultStorageFile()
{
    return sorvaneApplicationDataFolder().getChildFile("RecentProjects.xml");
}

void RecentProjects::load()
{
    juce::ValueTree tree;
    juce::StringArray loaded;
    if (readXmlTree(storageFile, maxListBytes, listType, tree) == PresetReadResult::ok)
        for (const auto& child : tree)
        {
            if (loaded.size() >= maximumEntries)
                break;
            const auto path = child.getProperty(pathProperty).toString();
            // A relative path would resolve against whatever the working folder happens to be.
            if (child.hasType(entryType) && path.isNotEmpty() && juce::File::isAbsolutePath(path) &&
                !loaded.contains(path))
                loaded.add(path);
        }
    const std::lock_guard<std::mutex> lock(mutex);
    paths = loaded;
    ++version;
}

void RecentProjects::remember(const juce::File& file)
{
    const auto path = file.getFullPathName();
    juce::StringArray copy;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (int i = paths.size(); --i >= 0;)
            if (paths[i].equalsIgnoreCase(path))
                paths.remove(i);
        paths.insert(0, path);
        while (paths.size() > maximumEntries)
            paths.remove(paths.size() - 1);
        currentProjectFile = file;
        copy = paths;
        ++version;
    }

    juce::ValueTree tree(listType);
    for (const auto& p : copy)
        tree.appendChild(juce::ValueTree(entryType, {{pathProperty, p}}), nullptr);
    if (storageFile.getParentDirectory().createDirectory().wasOk())
        writeFileAtomically(storageFile, presetXmlText(tree));
}

juce::StringArray RecentProjects::getPaths() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return paths;
}

juce::File RecentProjects::getCurrentProjectFile() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return currentProjectFile;
}

void RecentProjects::setCurrentProjectFile(const juce::File& file)
{
    const std::lock_guard<std::mutex> lock(mutex);
    currentProjectFile = file;
}
} // namespace sorvane
