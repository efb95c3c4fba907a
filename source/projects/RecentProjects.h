#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace sorvane
{
// The folder every creator-project file of the user's lives in: application data, "Kavix/Sorvane".
juce::File sorvaneApplicationDataFolder();

// The ten most recently used projects, newest first, and the project last saved, opened or recovered.
// Thread-safe; the list file is written after the lock is released.
class RecentProjects
{
public:
    static constexpr int maximumEntries = 10;

    explicit RecentProjects(juce::File storageFile);

    static juce::File defaultStorageFile();
    const juce::File& getStorageFile() const noexcept { return storageFile; }

    // Reads the list file; anything unreadable leaves the list empty.
    void load();
    // Moves the file to the front (paths compared ignoring case), keeps ten, makes it current and
    // saves the list. A failure to save is silent: the list in memory is what counts.
    void remember(const juce::File& file);

    juce::StringArray getPaths() const;
    // Changes whenever the list does; lets a caller polling every frame skip the copy.
    std::uint32_t getVersion() const noexcept { return version.load(); }
    juce::File getCurrentProjectFile() const;
    void setCurrentProjectFile(const juce::File& file);

private:
    const juce::File storageFile;
    mutable std::mutex mutex;
    juce::StringArray paths;
    juce::File currentProjectFile;
    std::atomic<std::uint32_t> version{0};
};
} // namespace sorvane
