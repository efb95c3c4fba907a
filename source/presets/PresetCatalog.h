#pragma once

#include "presets/DiscoveryFilter.h"
#include "presets/PresetDescriptor.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_data_structures/juce_data_structures.h>

#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace sorvane
{
// "user:" + the full path; lower case only where the file system ignores case, so two files whose
// names differ only in case stay two presets.
juce::String userId(const juce::File& file);
// FNV-1a (start 0x14650FB0739D0383) over the bytes, 16 hex digits, ":" and the size; empty when the
// file cannot be opened.
juce::String fileContentHash(const juce::File& file);
// Writes a preset tree through a temporary file beside `file`.
bool writePresetTreeAtomically(const juce::File& file, const juce::ValueTree& tree, bool replace = true);
// reason gets the system's words for a failed write, saying so plainly when the disk is full.
bool writePresetTreeAtomically(const juce::File& file, const juce::ValueTree& tree, bool replace,
                               juce::String& reason);

bool matchesDiscovery(const PresetDescriptor& descriptor, const DiscoveryFilter& filter);

// The four edits of a user preset.
enum class PresetAction : int
{
    rename = 1,
    duplicate = 2,
    editMetadata = 3,
    moveToTrash = 4
};

// Every preset the browser offers: the factory rows, then the user files of the preset folder and
// its quarantine. Message thread only.
class PresetCatalog
{
    struct PathHash
    {
        std::size_t operator()(const juce::String& s) const noexcept { return (std::size_t)s.hashCode64(); }
    };

public:
    // The folders default to the user's documents and application-data folders.
    PresetCatalog();
    PresetCatalog(const juce::File& userPresetFolder, const juce::File& favouritesFile);

    static juce::File defaultUserPresetDirectory();
    static juce::File defaultBrowserFile();

    void refreshUserPresets(bool forceRescan);
    // Examines one listed file of the preset folder (or of the quarantine) and lists it.
    void examineFile(const juce::File& file, bool inQuarantine);
    void registerQuarantinedPreset(const juce::File& file, const juce::String& error);
    // Writes the favourites list; false with the reason as words for a sentence when it cannot.
    bool persistFavourites(juce::String& reason) const;
    void persistIndex() const;

    std::vector<PresetDescriptor> query(const juce::String& source, const juce::String& tag,
                                        bool favouritesOnly, const juce::String& search) const;
    // Marks or unmarks a valid entry and saves the list. When the list cannot be saved nothing changes,
    // in memory or on disk, and the sentence says why.
    bool setFavourite(const juce::String& id, bool favourite, juce::String& error);
    const PresetDescriptor* find(const juce::String& id) const;

    // The edits; each ends with a forced rescan when it changed anything on disk.
    bool renamePreset(const juce::String& id, const juce::String& newName, juce::String& error);
    bool duplicatePreset(const juce::String& id, const juce::String& newName, juce::String& error);
    bool editMetadata(const juce::String& id, const juce::String& category, const juce::String& tags,
                      juce::String& error);
    bool moveToTrash(const juce::String& id, juce::String& error);
    // The file a rename or copy to `name` writes.
    juce::File fileForName(const juce::String& name) const;

    juce::File getUserDirectory() const { return userDirectory; }
    juce::File getQuarantineDirectory() const { return userDirectory.getChildFile("Quarantine"); }
    juce::File getTrashDirectory() const { return userDirectory.getChildFile("Trash"); }
    juce::File getBrowserFile() const { return browserFile; }
    juce::File getIndexFile() const { return indexFile; }
    const std::vector<PresetDescriptor>& getPresets() const noexcept { return presets; }
    const juce::StringArray& getFavourites() const noexcept { return favourites; }
    // Preset files left out of the last scan because their names are not UTF-8, shown with "\xE9"
    // for each odd byte: no path could name them exactly.
    const juce::StringArray& getUnlistedFileNames() const noexcept { return unlistedFileNames; }

private:
    void loadFavourites();
    void addFactoryEntries();
    void removeEntry(const juce::String& id);
    void appendUserEntry(PresetDescriptor entry);
    void quarantine(const juce::File& file, const juce::String& movedError, const juce::String& failedError);

    juce::File userDirectory, browserFile, indexFile;
    std::vector<PresetDescriptor> presets;
    // The browser's order (name, then id) of `presets`, kept between queries: sorting ten thousand
    // names on every keystroke was most of a search. Cleared whenever an entry is added or removed.
    mutable std::vector<std::size_t> browserOrder;
    juce::StringArray favourites;
    juce::StringArray unlistedFileNames;
    // The index of the last refresh, by lower-case path.
    std::unordered_map<juce::String, PresetDescriptor, PathHash> cache;
    // Ids of the listed user entries: a scan of thousands of files must not search the list per file.
    std::unordered_set<juce::String, PathHash> userIds;
};

// The save command: writes the current sound with its preset metadata to `file` (".sorvane" added
// when it has no extension). With `replaceExisting` false a file that exists is never replaced.
bool saveUserPreset(const juce::File& file, juce::ValueTree state, const juce::AudioProcessor& processor,
                    bool replaceExisting, juce::File& written, juce::String& error);
// The automatic tags of a sound with no tags of its own, e.g. "Dark,Wide".
juce::String automaticPresetTags(const juce::AudioProcessor& processor);

// Splits comma-separated tags: trimmed, blanks dropped.
juce::StringArray splitPresetTags(const juce::String& text);
} // namespace sorvane
