#pragma once

#include <juce_core/juce_core.h>

namespace sorvane
{
// What makes a finished write survive a crash or power cut right after it: the file's bytes on
// disk before it is renamed into place, and the rename itself recorded in its folder.
bool syncFileToDisk(const juce::File& file);
bool syncFolderToDisk(const juce::File& folder);

// Syncs temporary, renames it over target in one step and syncs the folder. temporary must sit in
// target's folder. On failure target is untouched and temporary is left for the caller.
bool replaceFileDurably(const juce::File& temporary, const juce::File& target);
} // namespace sorvane
