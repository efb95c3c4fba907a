#pragma once

#include <juce_core/juce_core.h>

namespace sorvane
{
// What makes a finished write survive a crash or power cut right after it: the file's bytes on
// disk before it is renamed into place, and the rename itself recorded in its folder.
bool syncFileToDisk(const juce::File& file);
bool syncFolderToDisk(const juce::File& folder);

// The longest name one folder entry may have on Linux file systems (NAME_MAX), in bytes.
inline constexpr int maxFileNameBytes = 255;

// prefix + as much of name as fits + suffix, at most maxFileNameBytes of UTF-8; name is cut between
// two characters, never inside one. Empty when prefix and suffix alone are too long.
juce::String fileNameWithin(const juce::String& prefix, const juce::String& name, const juce::String& suffix);

// A hidden name beside target that no other writer, in this process or another, will pick; in the
// target's own folder so the publishing rename never crosses a file system. It is "." + the start of
// target's name + ".partial-" + 16 random hex digits + target's extension, and fits in a folder entry
// however long target's own name is.
juce::File temporaryFileBeside(const juce::File& target);

// Creates file, which must not exist yet, and writes the bytes into it, checking every write and the
// close. Unlike juce::File::replaceWithData it puts no temporary of its own beside file, whose name may
// already be as long as a name can be.
bool writeNewFile(const juce::File& file, const void* data, size_t size);

// Syncs temporary, renames it over target in one step and syncs the folder. temporary must sit in
// target's folder. A failure before the rename leaves target untouched and temporary for the caller;
// false after the rename means the folder could not be synced, so the new target may not survive a
// power cut.
bool replaceFileDurably(const juce::File& temporary, const juce::File& target);

// Syncs every file and folder below staging, renames staging to destination (never over anything
// that exists there) and syncs the parent. Both must share one parent.
bool publishFolderDurably(const juce::File& staging, const juce::File& destination);
} // namespace sorvane
