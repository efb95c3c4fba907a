#pragma once

#include <juce_core/juce_core.h>

namespace sorvane
{
constexpr int maximumVideoArtistLength = 80;

// The artist name as the package and the project keep it: one line, at most 80 code points.
juce::String sanitiseVideoArtist(const juce::String& artist);

struct CreatorVideoIdentity
{
    juce::String artist;
    bool effectedOnly = false;
};
} // namespace sorvane
