#pragma once

#include <juce_core/juce_core.h>

#include <memory>

namespace sorvane
{
// Opening a FIFO blocks until a writer appears, and a device file never ends, yet both pass
// File::existsAsFile(). Every path that opens a user's file checks it first. Symbolic links are
// followed. False with one sentence in `error` when the path is missing or not a regular file.
bool checkRegularFile(const juce::File& file, juce::String& error);

// Opens a regular file for reading without ever blocking in open(), and without the race between a
// check and the open: a path swapped for a FIFO in between is refused as well. Null with one
// sentence in `error` on failure.
std::unique_ptr<juce::InputStream> openRegularFile(const juce::File& file, juce::String& error);
} // namespace sorvane
