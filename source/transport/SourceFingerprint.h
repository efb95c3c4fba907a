#pragma once

#include <juce_core/juce_core.h>

namespace sorvane
{
// Identifies a source file cheaply: a 64-bit FNV-1a style hash of its size, its first 64 KiB and
// its last 64 KiB, as 16 hex digits, a colon and the size. Empty when the file cannot be opened.
juce::String createSourceFingerprint(const juce::File& file);
} // namespace sorvane
